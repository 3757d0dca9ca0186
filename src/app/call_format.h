#ifndef PULVO_CALL_FORMAT_H
#define PULVO_CALL_FORMAT_H

// How a call's windows, notices and verdict read: the text lines and the
// JSON members that `pulvo call` prints and the live outputs write.

#include <string>

#include "result_callbacks.h"
#include "tesk_call.h"
#include "tesk_verdict.h"

// "forward: test id = 1   mos = 4.05 ...  round trip = 0.21/0.25/0.4 ms
// one-way delay = unknown  dscp = 46/0 re-marked  hops = 2  " (without the
// line break; the class sent/received and the hops where either way knows
// them).
std::string FormatCallLine(const TeskCallDirection& direction, const TeskCallSample& c);

// Whether the direction's packets arrived in another class than they were
// sent with.
bool Remarked(const TeskCallDirection& direction);

// "Direction" first, the designed sample members, then the round trip
// ("RoundTripMin", "RoundTripMean", "RoundTripMax", ms), "OneWayDelay" (ms,
// null when unknown), "Answers", "DscpSent", "DscpReceived" and "Hops"
// (null when unknown).
void WriteCallSampleMembers(JsonWriter& w, const TeskCallDirection& direction,
                            const TeskCallSample& c);

// A window the reflector left unanswered: "silent: test id = 1   answers =
// 12  no answer from the reflector  " and {"Direction":"silent","TestId":1,
// "Answers":12}; no score.
std::string FormatSilentCallLine(const TeskCallSample& c);
void WriteSilentCallMembers(JsonWriter& w, const TeskCallSample& c);

// What to say when the reflector's numbers change what can be scored
// ("the reflector's numbers follow ..."); empty when nothing changed.
std::string WayBackNotice(TeskWayBack now, TeskWayBack before);
// What to say when a direction's hops change (a path change) or its class
// starts or stops being re-marked, given what it was before (hops -1:
// unknown; re-marked 1, 0 or -1: unknown); empty when nothing changed.
std::string PathNotice(const TeskCallDirection& direction, int hopsBefore, int remarkedBefore);

// The call's verdict, one line a direction and one for the call:
// "verdict forward: satisfied  conversational R = 88.1  MOS = 4.30  worst
// window R = 85.2  listening R = 93.2  windows = 9  mouth-to-ear = 140 ms
// (network 0.1 ms, half the round trip)" ... "verdict call: satisfied (the
// worse direction: reverse)"; nothing without a scored window.
std::string FormatVerdict(const TeskVerdict& verdict);
// "Direction":"verdict","Directions":[{"Direction":"forward","Satisfaction":...,
// "ConversationalR", "ConversationalMOS", "WorstConversationalR", "ListeningR",
// "Windows", "MouthToEarDelay", "NetworkDelay", "DelaySource", "Wideband"}, ...],
// "Call":{"Direction":"reverse","Satisfaction":...}; false, writing nothing,
// without a scored window.
bool WriteVerdictMembers(JsonWriter& w, const TeskVerdict& verdict);
// {"Direction":"reverse","Satisfaction":"satisfied","ConversationalR":...,
// "ConversationalMOS":...}: what a verdict says of one direction, in short.
void WriteVerdictSummary(JsonWriter& w, const TeskDirectionVerdict& direction);

#endif  // PULVO_CALL_FORMAT_H
