#ifndef PULVO_INTERRUPT_H
#define PULVO_INTERRUPT_H

// Ctrl-C (SIGINT) and SIGTERM during a test: the first asks the library to
// end the test, so its results are still printed; a second ends the process
// at once.

void InstallInterruptHandlers();

// The signal that interrupted the test, 0 if none did.
int InterruptSignal();

// SIGHUP, where there is one: asks a long-running command to read its
// configuration again. True once per signal.
void InstallReloadHandler();
bool TakeReloadRequest();

// The exit code of a test that a signal interrupted: 128 + the signal number.
inline int InterruptExitCode(int signal) { return 128 + signal; }

#endif  // PULVO_INTERRUPT_H
