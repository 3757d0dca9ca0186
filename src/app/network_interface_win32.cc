// Windows sockets read no TESK_TEST_INTERFACE: any name is as good as another.
#include "input_checks.h"

bool NetworkInterfaceExists(const std::string&) { return true; }
