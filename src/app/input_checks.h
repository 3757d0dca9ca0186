#ifndef PULVO_INPUT_CHECKS_H
#define PULVO_INPUT_CHECKS_H

// Inputs that the front end reads otherwise than they were written: a value
// outside the range the usage text prints, a number with other characters
// in it, a codec or FEC name it does not know, an empty value, a bare word
// or a wrong separator in the parameter text, an environment variable it
// cannot use. The designed behaviour stays; each gets one line of warning
// (or, with --strict, refuses the test). Every function appends the texts,
// without the "pulvo: warning: " that goes before them.

#include <string>
#include <vector>

#include "cmd_param_sets.h"

using InputWarnings = std::vector<std::string>;

// The command's parameter text as typed ("co=,td=10"), before it is parsed.
void CheckParameterText(const std::string& text, InputWarnings* out);

// The values as stored, against the ranges the usage text prints and the
// names the command knows.
void CheckSendValues(const SendCmdParams& params, InputWarnings* out);
void CheckReceiveValues(const ReceiveCmdParams& params, InputWarnings* out);

// TESK_TEST_TOS and TESK_TEST_INTERFACE, which the socket layer reads.
void CheckTestEnvironment(InputWarnings* out);

// The TOS byte of a TESK_TEST_TOS text, decimal or 0x-hexadecimal; false
// when the text is neither or the number exceeds 255.
bool ReadTosText(const std::string& text, int* tos);

// Whether a network interface of this name exists (always true where the
// interface variable does nothing).
bool NetworkInterfaceExists(const std::string& name);

#endif  // PULVO_INPUT_CHECKS_H
