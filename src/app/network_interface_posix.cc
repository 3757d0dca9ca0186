#include <net/if.h>

#include "input_checks.h"

bool NetworkInterfaceExists(const std::string& name) { return if_nametoindex(name.c_str()) != 0; }
