#include "cmd_param_sets.h"

SendCmdParams::SendCmdParams() {
  cmdName = "send";
  InitLongValueCmdParam(testid, "testid", "tid", 1, 0, 2000000000);
  InitStrValueCmdParam(localaddr, "localaddr", "la", "127.0.0.1");
  InitLongValueCmdParam(localport, "localport", "lp", 49999, 10000, 65535);
  InitStrValueCmdParam(remoteaddr, "remoteaddr", "ra", "127.0.0.1");
  InitLongValueCmdParam(remoteport, "remoteport", "rp", 50000, 10000, 65535);
  InitLongValueCmdParam(testduration, "testduration", "td", 12, 10, 600);
  InitLongValueCmdParam(sampleinterval, "sampleinterval", "sai", 5, 1, 10);
  InitLongValueCmdParam(streaminterval, "streaminterval", "sti", 20, 20, 30);
  // Given as names; the initial text "0" reads as G711 and as no FEC.
  InitLongValueCmdParam(codec, "codec", "co", 0, 0, 1);
  InitLongValueCmdParam(fec, "fec", "fe", 0, 0, 3);
}

unsigned long SendCmdParams::GetTestDuration() { return LongToULong(GetValueAsMilli(testduration)); }

unsigned char SendCmdParams::GetCodec() {
  Find(codec.GetLongName(), codec);
  return static_cast<unsigned char>(codec.GetValueAsLong());
}

namespace {

unsigned char FecFromName(const std::string& name) {
  if (name == "gsmpiggyback1") return 1;
  if (name == "gsmpiggyback2") return 2;
  if (name == "gsmpiggyback3") return 3;
  return 0;  // "none" and anything unknown
}

}  // namespace

unsigned char SendCmdParams::GetFec() {
  Find(fec.GetLongName(), fec);
  return FecFromName(fec.GetValueAsString());
}

unsigned long SendCmdParams::GetStreamInterval() { return GetValueAsULong(streaminterval); }

unsigned short SendCmdParams::GetPacketSize() {
  Find(codec.GetLongName(), codec);
  return codec.GetValueAsType() == 1 ? 48 : 188;
}

unsigned long SendCmdParams::GetSampleInterval() {
  return LongToULong(GetValueAsMilli(sampleinterval));
}

std::string SendCmdParams::GetLocalAddr() {
  Find(localaddr.GetLongName(), localaddr);
  return localaddr.GetValueAsString();
}

unsigned long SendCmdParams::GetLocalPort() { return GetValueAsULong(localport); }

std::string SendCmdParams::GetRemoteAddr() {
  Find(remoteaddr.GetLongName(), remoteaddr);
  return remoteaddr.GetValueAsString();
}

unsigned long SendCmdParams::GetRemotePort() { return GetValueAsULong(remoteport); }

unsigned long SendCmdParams::GetTestId() { return GetValueAsULong(testid); }

ReceiveCmdParams::ReceiveCmdParams() {
  cmdName = "recv";
  InitLongValueCmdParam(testid, "testid", "tid", 1, 0, 2000000000);
  InitStrValueCmdParam(localaddr, "localaddr", "la", "127.0.0.1");
  InitLongValueCmdParam(localport, "localport", "lp", 50000, 50000, 50000);
  InitLongValueCmdParam(timeout, "timeout", "to", 30, 1, 60);
  InitLongValueCmdParam(windowsize, "windowsize", "ws", 4, 2, 20);
  InitLongValueCmdParam(sampleinterval, "sampleinterval", "sai", 1, 1, 10);
  InitLongValueCmdParam(dejitterlength, "dejitterlength", "dj", 120, 10, 200);
}

long ReceiveCmdParams::GetTestId() {
  Find(testid.GetLongName(), testid);
  return testid.GetValueAsLong();
}

std::string ReceiveCmdParams::GetLocalAddr() {
  Find(localaddr.GetLongName(), localaddr);
  return localaddr.GetValueAsString();
}

unsigned long ReceiveCmdParams::GetLocalPort() { return GetValueAsULong(localport); }

unsigned long ReceiveCmdParams::GetTimeout() { return LongToULong(GetValueAsMilli(timeout)); }

unsigned long ReceiveCmdParams::GetWindowSize() { return LongToULong(GetValueAsMilli(windowsize)); }

unsigned long ReceiveCmdParams::GetSampleInterval() {
  return LongToULong(GetValueAsMilli(sampleinterval));
}

unsigned long ReceiveCmdParams::GetDejitterlength() { return GetValueAsULong(dejitterlength); }

AnalyzeCmdParams::AnalyzeCmdParams() {
  cmdName = "analyze";
  InitLongValueCmdParam(testid, "testid", "tid", 1, 0, 2000000000);
  InitStrValueCmdParam(file, "file", "fi", "");
  InitLongValueCmdParam(timeout, "timeout", "to", 30, 1, 60);
  InitLongValueCmdParam(windowsize, "windowsize", "ws", 4, 2, 20);
  InitLongValueCmdParam(sampleinterval, "sampleinterval", "sai", 1, 1, 10);
  InitLongValueCmdParam(dejitterlength, "dejitterlength", "dj", 120, 10, 200);
  InitLongValueCmdParam(port, "port", "po", 0, 0, 65535);
  InitLongValueCmdParam(stream, "stream", "st", 0, 0, 2000000000);
  InitStrValueCmdParam(codec, "codec", "co", "");
  InitLongValueCmdParam(events, "events", "ev", 0, 0, 127);
}

unsigned long AnalyzeCmdParams::GetTestId() { return GetValueAsULong(testid); }

std::string AnalyzeCmdParams::GetFile() {
  Find(file.GetLongName(), file);
  return file.GetValueAsString();
}

unsigned long AnalyzeCmdParams::GetTimeout() { return LongToULong(GetValueAsMilli(timeout)); }

unsigned long AnalyzeCmdParams::GetWindowSize() { return LongToULong(GetValueAsMilli(windowsize)); }

unsigned long AnalyzeCmdParams::GetSampleInterval() {
  return LongToULong(GetValueAsMilli(sampleinterval));
}

unsigned long AnalyzeCmdParams::GetDejitterlength() { return GetValueAsULong(dejitterlength); }

unsigned long AnalyzeCmdParams::GetPort() { return GetValueAsULong(port); }

unsigned long AnalyzeCmdParams::GetStream() { return GetValueAsULong(stream); }

unsigned long AnalyzeCmdParams::GetEvents() { return GetValueAsULong(events); }

int AnalyzeCmdParams::GetCodec() {
  Find(codec.GetLongName(), codec);
  const std::string name = codec.GetValueAsString();
  if (name.empty()) return -1;
  const int number = teskCodecNumber(name);
  return number >= 0 ? number : -2;
}

ReflectCmdParams::ReflectCmdParams() {
  cmdName = "reflect";
  InitStrValueCmdParam(localaddr, "localaddr", "la", "::");
  InitLongValueCmdParam(localport, "localport", "lp", 862, 1, 65535);
  InitLongValueCmdParam(maxsessions, "maxsessions", "ms", 10000, 1, 1000000);
  InitLongValueCmdParam(rate, "rate", "rt", 1000, 0, 1000000);
  InitLongValueCmdParam(idle, "idle", "id", 60, 1, 86400);
  InitStrValueCmdParam(allow, "allow", "al", "");
  InitLongValueCmdParam(duration, "duration", "du", 0, 0, 2000000);
  InitStrValueCmdParam(keyfile, "keyfile", "kf", "");
  InitStrValueCmdParam(metrics, "metrics", "mt", "");
  InitStrValueCmdParam(mode, "mode", "mo", "stamp");
  InitLongValueCmdParam(controlport, "controlport", "cp", 862, 1, 65535);
  InitLongValueCmdParam(controlconnections, "controlconnections", "cc", 64, 1, 100000);
  InitLongValueCmdParam(controlpersource, "controlpersource", "cps", 8, 1, 100000);
  InitLongValueCmdParam(servwait, "servwait", "sw", 900, 1, 86400);
  InitLongValueCmdParam(refwait, "refwait", "rw", 900, 1, 86400);
}

std::string ReflectCmdParams::GetMode() {
  Find(mode.GetLongName(), mode);
  return mode.GetValueAsString();
}
unsigned long ReflectCmdParams::GetControlPort() { return GetValueAsULong(controlport); }
unsigned long ReflectCmdParams::GetControlConnections() { return GetValueAsULong(controlconnections); }
unsigned long ReflectCmdParams::GetControlPerSource() { return GetValueAsULong(controlpersource); }
unsigned long ReflectCmdParams::GetServWait() { return GetValueAsULong(servwait); }
unsigned long ReflectCmdParams::GetRefWait() { return GetValueAsULong(refwait); }

std::string ReflectCmdParams::GetMetrics() {
  Find(metrics.GetLongName(), metrics);
  return metrics.GetValueAsString();
}

std::string ReflectCmdParams::GetKeyFile() {
  Find(keyfile.GetLongName(), keyfile);
  return keyfile.GetValueAsString();
}

std::string ReflectCmdParams::GetLocalAddr() {
  Find(localaddr.GetLongName(), localaddr);
  return localaddr.GetValueAsString();
}

unsigned long ReflectCmdParams::GetLocalPort() { return GetValueAsULong(localport); }
unsigned long ReflectCmdParams::GetMaxSessions() { return GetValueAsULong(maxsessions); }
unsigned long ReflectCmdParams::GetRate() { return GetValueAsULong(rate); }
unsigned long ReflectCmdParams::GetIdle() { return GetValueAsULong(idle); }

std::string ReflectCmdParams::GetAllow() {
  Find(allow.GetLongName(), allow);
  return allow.GetValueAsString();
}

unsigned long ReflectCmdParams::GetDuration() { return LongToULong(GetValueAsMilli(duration)); }

CallCmdParams::CallCmdParams() {
  cmdName = "call";
  InitLongValueCmdParam(testid, "testid", "tid", 1, 0, 2000000000);
  InitStrValueCmdParam(localaddr, "localaddr", "la", "");
  InitLongValueCmdParam(localport, "localport", "lp", 0, 0, 65535);
  InitStrValueCmdParam(remoteaddr, "remoteaddr", "ra", "127.0.0.1");
  InitLongValueCmdParam(remoteport, "remoteport", "rp", 862, 1, 65535);
  InitLongValueCmdParam(testduration, "testduration", "td", 12, 2, 86400);
  InitLongValueCmdParam(streaminterval, "streaminterval", "sti", 20, 20, 30);
  InitLongValueCmdParam(codec, "codec", "co", 0, 0, 1);
  InitLongValueCmdParam(fec, "fec", "fe", 0, 0, 3);
  InitLongValueCmdParam(timeout, "timeout", "to", 30, 1, 60);
  InitLongValueCmdParam(windowsize, "windowsize", "ws", 4, 2, 20);
  InitLongValueCmdParam(sampleinterval, "sampleinterval", "sai", 1, 1, 10);
  InitLongValueCmdParam(dejitterlength, "dejitterlength", "dj", 120, 10, 200);
  InitStrValueCmdParam(keyfile, "keyfile", "kf", "");
  InitLongValueCmdParam(dscp, "dscp", "ds", 46, 0, 63);
  InitLongValueCmdParam(ecn, "ecn", "ecn", 0, 0, 3);
  InitStrValueCmdParam(mode, "mode", "mo", "stamp");
  InitLongValueCmdParam(controlport, "controlport", "cp", 862, 1, 65535);
}

std::string CallCmdParams::GetMode() {
  Find(mode.GetLongName(), mode);
  return mode.GetValueAsString();
}
unsigned long CallCmdParams::GetControlPort() { return GetValueAsULong(controlport); }

unsigned long CallCmdParams::GetDscp() { return GetValueAsULong(dscp); }
unsigned long CallCmdParams::GetEcn() { return GetValueAsULong(ecn); }

std::string CallCmdParams::GetKeyFile() {
  Find(keyfile.GetLongName(), keyfile);
  return keyfile.GetValueAsString();
}

unsigned long CallCmdParams::GetTestId() { return GetValueAsULong(testid); }

std::string CallCmdParams::GetLocalAddr() {
  Find(localaddr.GetLongName(), localaddr);
  return localaddr.GetValueAsString();
}

unsigned long CallCmdParams::GetLocalPort() { return GetValueAsULong(localport); }

std::string CallCmdParams::GetRemoteAddr() {
  Find(remoteaddr.GetLongName(), remoteaddr);
  return remoteaddr.GetValueAsString();
}

unsigned long CallCmdParams::GetRemotePort() { return GetValueAsULong(remoteport); }
unsigned long CallCmdParams::GetTestDuration() { return LongToULong(GetValueAsMilli(testduration)); }

unsigned char CallCmdParams::GetCodec() {
  Find(codec.GetLongName(), codec);
  return codec.GetValueAsType();
}

std::string CallCmdParams::GetCodecName() {
  Find(codec.GetLongName(), codec);
  return codec.GetValueAsString();
}

std::string CallCmdParams::GetFecName() {
  Find(fec.GetLongName(), fec);
  return fec.GetValueAsString();
}

unsigned char CallCmdParams::GetFec() { return FecFromName(GetFecName()); }

unsigned long CallCmdParams::GetStreamInterval() { return GetValueAsULong(streaminterval); }
unsigned long CallCmdParams::GetTimeout() { return LongToULong(GetValueAsMilli(timeout)); }
unsigned long CallCmdParams::GetWindowSize() { return LongToULong(GetValueAsMilli(windowsize)); }

unsigned long CallCmdParams::GetSampleInterval() {
  return LongToULong(GetValueAsMilli(sampleinterval));
}

unsigned long CallCmdParams::GetDejitterlength() { return GetValueAsULong(dejitterlength); }

ProbeCmdParams::ProbeCmdParams() {
  cmdName = "probe";
  InitStrValueCmdParam(config, "config", "cf", "/etc/pulvo/probe.conf");
  InitLongValueCmdParam(duration, "duration", "du", 0, 0, 2000000);
}

std::string ProbeCmdParams::GetConfig() {
  Find(config.GetLongName(), config);
  return config.GetValueAsString();
}

unsigned long ProbeCmdParams::GetDuration() { return LongToULong(GetValueAsMilli(duration)); }
