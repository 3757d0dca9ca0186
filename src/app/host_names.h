#ifndef PULVO_HOST_NAMES_H
#define PULVO_HOST_NAMES_H

// Host names where an address is taken: each is resolved once, before the
// test, and the parameter then holds the address, so that everything after
// it (families, defaults, the -v listing) treats it as the literal it is.

#include <initializer_list>
#include <string>
#include <vector>

#include "cmd_param.h"

// Replaces each of `names` (long parameter names) that names a host
// (TeskControl::NamesAHost: "1.2.3.4.5" and IPv6 texts stay the library's to
// judge, as they always were) with the
// address it resolves to, of the family of the other address when that one
// is a literal; each replacement is said in `resolved` ("remoteaddr
// localhost is 127.0.0.1"). False, with `error`, for a name that resolves
// to nothing.
bool ResolveHostNames(CmdParamSetBase& params, std::initializer_list<const char*> names,
                      std::vector<std::string>* resolved, std::string* error);

#endif  // PULVO_HOST_NAMES_H
