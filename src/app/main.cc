#include <cstdlib>

#include "pulvo_main.h"

int main(int argc, char** argv) {
  PulvoMain pulvo;
  // exit() rather than return: objects made for the run are never torn down,
  // and the library log still removes its file if it stayed empty.
  std::exit(pulvo.Run(argc, argv));
}
