#ifndef TESK_CLOCK_SYNC_H
#define TESK_CLOCK_SYNC_H

// Whether the system clock is kept synchronised to an external source (NTP,
// PTP), as STAMP's S bit tells the far end: only then do one-way delays
// between two hosts mean anything.
bool systemClockSynchronized();

#endif  // TESK_CLOCK_SYNC_H
