#ifndef TESK_PRIVATE_FILE_H
#define TESK_PRIVATE_FILE_H

// Reads a secret (a key) from a file, refusing one that others than its
// owner may read or write: a key that has been readable is no secret.

#include <cstddef>
#include <string>

// At most `limit` bytes; false with the reason when the file cannot be read,
// is no regular file, is larger, or is open to others.
bool readPrivateFile(const std::string& path, size_t limit, std::string* content,
                     std::string* error);

#endif  // TESK_PRIVATE_FILE_H
