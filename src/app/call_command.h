#ifndef PULVO_CALL_COMMAND_H
#define PULVO_CALL_COMMAND_H

// The call's parameters as the library takes them, shared by pulvo call and
// the paths of pulvo probe.

#include <string>

#include "cmd_param_sets.h"
#include "tesk_call.h"

// The first value the call refuses (out of range, an unknown codec or FEC
// name, a window no longer than its interval); empty when there is none.
std::string FirstCallError(const CallCmdParams& params);
TeskCallConfig CallConfigOf(const CallCmdParams& params);

#endif  // PULVO_CALL_COMMAND_H
