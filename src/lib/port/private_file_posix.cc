#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "private_file.h"

bool readPrivateFile(const std::string& path, size_t limit, std::string* content,
                     std::string* error) {
  // The checks are made on the open file, so that it cannot be swapped
  // between the check and the read.
  const int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) {
    *error = "cannot read key file " + path + ": " + std::strerror(errno);
    return false;
  }
  struct stat st = {};
  bool ok = fstat(fd, &st) == 0;
  if (!ok || !S_ISREG(st.st_mode)) {
    *error = "key file " + path + " is no regular file";
  } else if ((st.st_mode & 077) != 0) {
    char mode[8];
    std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(st.st_mode & 07777));
    *error = "key file " + path + " may be read or written by others (mode " + mode +
             "): chmod 600 " + path;
    ok = false;
  } else if (static_cast<size_t>(st.st_size) > limit) {
    *error = "key file " + path + " is larger than " + std::to_string(limit) + " bytes";
    ok = false;
  }
  if (ok) {
    content->assign(static_cast<size_t>(st.st_size), '\0');
    ok = read(fd, &(*content)[0], content->size()) == static_cast<ssize_t>(content->size());
    if (!ok) *error = "cannot read key file " + path + ": " + std::strerror(errno);
  }
  close(fd);
  return ok;
}
