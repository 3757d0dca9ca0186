#include <fstream>
#include <sstream>

#include "private_file.h"

// Windows keeps access in ACLs, which this does not inspect: the key file's
// protection is the operator's there.
bool readPrivateFile(const std::string& path, size_t limit, std::string* content,
                     std::string* error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    *error = "cannot read key file " + path;
    return false;
  }
  std::ostringstream text;
  text << in.rdbuf();
  *content = text.str();
  if (content->size() > limit) {
    *error = "key file " + path + " is larger than " + std::to_string(limit) + " bytes";
    return false;
  }
  return true;
}
