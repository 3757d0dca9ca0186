#ifndef PULVO_CMD_PARAM_SETS_H
#define PULVO_CMD_PARAM_SETS_H

// The parameter sets of the two commands and of the general options, with
// the getters that convert the value texts to the units the runners take
// (seconds become milliseconds; milliseconds stay as given).

#include <string>

#include "cmd_param.h"
#include "tesk.h"
#include "tesk.h"

// The codec parameter: its value text is a codec name.
class CodecCmdParam : public CmdParam {
 public:
  // 1 for "GSM0610" exactly, 0 for anything else.
  long GetValueAsLong() const override { return GetValueAsType(); }
  unsigned char GetValueAsType() const { return teskCodecNumber(GetValueAsString()) == 1 ? 1 : 0; }
};

class SendCmdParams : public virtual CmdParamSetBase {
 public:
  SendCmdParams();

  unsigned long GetTestDuration();  // ms
  unsigned char GetCodec();         // 0 G711, 1 GSM0610
  unsigned char GetFec();           // 0 none, 1-3 gsmpiggyback1-3
  unsigned long GetStreamInterval();  // ms
  unsigned short GetPacketSize();   // bytes of the IP datagram
  unsigned long GetSampleInterval();  // ms
  std::string GetLocalAddr();
  unsigned long GetLocalPort();
  std::string GetRemoteAddr();
  unsigned long GetRemotePort();
  unsigned long GetTestId();

 private:
  CmdParam testid, localaddr, localport, remoteaddr, remoteport, testduration, sampleinterval,
      streaminterval;
  CodecCmdParam codec;
  CmdParam fec;
};

class ReceiveCmdParams : public CmdParamSetBase {
 public:
  ReceiveCmdParams();

  long GetTestId();  // not clamped: a negative value wraps when narrowed
  std::string GetLocalAddr();
  unsigned long GetLocalPort();
  unsigned long GetTimeout();         // ms
  unsigned long GetWindowSize();      // ms
  unsigned long GetSampleInterval();  // ms
  unsigned long GetDejitterlength();  // ms

 private:
  CmdParam testid, localaddr, localport, timeout, windowsize, sampleinterval, dejitterlength;
};

// The parameters of `analyze`: the capture file, the receive test's window
// values, and the choice of streams.
class AnalyzeCmdParams : public CmdParamSetBase {
 public:
  AnalyzeCmdParams();

  unsigned long GetTestId();
  std::string GetFile();
  unsigned long GetTimeout();         // ms
  unsigned long GetWindowSize();      // ms
  unsigned long GetSampleInterval();  // ms
  unsigned long GetDejitterlength();  // ms
  unsigned long GetPort();            // 0: every port
  unsigned long GetStream();          // 0: every stream
  // The codec of dynamic payload types: -1 when not given, 0 G711, 1
  // GSM0610, -2 for a name that is neither.
  int GetCodec();
  unsigned long GetEvents();  // payload type of telephone events; 0: any other dynamic type
  // The first window value or port outside its range (see FirstOutOfRange).
  std::string FirstValueOutOfRange() {
    return FirstOutOfRange(
        {&testid, &windowsize, &sampleinterval, &dejitterlength, &timeout, &port, &stream,
         &events});
  }

 private:
  CmdParam testid, file, timeout, windowsize, sampleinterval, dejitterlength, port, stream, codec,
      events;
};

// pulvo reflect: a STAMP session-reflector's address, port and limits.
class ReflectCmdParams : public CmdParamSetBase {
 public:
  ReflectCmdParams();
  std::string GetLocalAddr();
  unsigned long GetLocalPort();
  unsigned long GetMaxSessions();
  unsigned long GetRate();
  unsigned long GetIdle();          // s
  std::string GetAllow();           // prefixes joined by '+'
  unsigned long GetDuration();      // ms; 0: until stopped
  std::string GetKeyFile();         // empty: unauthenticated
  std::string GetMetrics();         // ADDRESS:PORT of /metrics; empty: none
  std::string GetMode();            // "stamp" (with TWAMP Light) or "twamp"
  unsigned long GetControlPort();   // TWAMP-Control's TCP port
  unsigned long GetControlConnections();
  unsigned long GetControlPerSource();
  unsigned long GetServWait();  // s
  unsigned long GetRefWait();   // s
  std::string FirstValueOutOfRange() {
    return FirstOutOfRange({&localport, &maxsessions, &rate, &idle, &duration, &controlport,
                            &controlconnections, &controlpersource, &servwait, &refwait});
  }

 private:
  CmdParam localaddr, localport, maxsessions, rate, idle, allow, duration, keyfile, metrics, mode,
      controlport, controlconnections, controlpersource, servwait, refwait;
};

// pulvo call: the sender's parameters toward a STAMP reflector and the
// receive window's, applied to both directions.
class CallCmdParams : public CmdParamSetBase {
 public:
  CallCmdParams();
  unsigned long GetTestId();
  std::string GetLocalAddr();  // empty: any address of the remote's family
  unsigned long GetLocalPort();
  std::string GetRemoteAddr();
  unsigned long GetRemotePort();
  unsigned long GetTestDuration();    // ms
  unsigned char GetCodec();           // 0 G711, 1 GSM0610
  unsigned char GetFec();             // 0 none, 1-3 gsmpiggyback1-3
  std::string GetCodecName();
  std::string GetFecName();
  std::string GetKeyFile();  // empty: unauthenticated
  unsigned long GetStreamInterval();  // ms
  unsigned long GetTimeout();         // ms
  unsigned long GetWindowSize();      // ms
  unsigned long GetSampleInterval();  // ms
  unsigned long GetDejitterlength();  // ms
  unsigned long GetDscp();  // the class the call goes with, both ways
  unsigned long GetEcn();
  std::string GetMode();  // "stamp" (STAMP and TWAMP Light) or "twamp"
  unsigned long GetControlPort();
  std::string FirstValueOutOfRange() {
    return FirstOutOfRange({&testid, &localport, &remoteport, &testduration, &streaminterval, &timeout,
                            &windowsize, &sampleinterval, &dejitterlength, &dscp, &ecn,
                            &controlport});
  }

 private:
  CmdParam testid, localaddr, localport, remoteaddr, remoteport, testduration, streaminterval,
      timeout, windowsize, sampleinterval, dejitterlength, keyfile, dscp, ecn, mode, controlport;
  CodecCmdParam codec;
  CmdParam fec;
};

// pulvo probe: its configuration file (the paths) and how long it runs.
class ProbeCmdParams : public CmdParamSetBase {
 public:
  ProbeCmdParams();
  std::string GetConfig();
  unsigned long GetDuration();  // ms; 0: until stopped
  std::string FirstValueOutOfRange() { return FirstOutOfRange({&duration}); }

 private:
  CmdParam config, duration;
};

// A general option: a flag only.
class OnOffOption : public CmdParamBase {
 public:
  void SetOn() { on = true; }
  void SetOff() { on = false; }
  bool IsOn() const { return on; }

 private:
  bool on = false;
};

class OnOffOptionSet : public CmdParamSetBase {
 public:
  OnOffOptionSet() { resultsAsText.SetOn(); }

  void setLog(bool enabled) { Set(log, enabled); }
  bool IsLogEnabled() const { return log.IsOn(); }
  void SetVerboseDisplay(bool enabled) { Set(verboseDisplay, enabled); }
  bool IsVerboseDisplayOn() const { return verboseDisplay.IsOn(); }
  void SetResultsAsText(bool enabled) { Set(resultsAsText, enabled); }
  bool IsResultsAsTextOn() const { return resultsAsText.IsOn(); }

 private:
  static void Set(OnOffOption& option, bool enabled) {
    if (enabled) {
      option.SetOn();
    } else {
      option.SetOff();
    }
  }

  OnOffOption log, verboseDisplay, resultsAsText;
};

#endif  // PULVO_CMD_PARAM_SETS_H
