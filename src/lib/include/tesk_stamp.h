#ifndef TESK_STAMP_H
#define TESK_STAMP_H

// A STAMP session-reflector (RFC 8762, unauthenticated, with RFC 8972's
// session identifier and TLVs): it answers every session-sender's packet
// with one of the same size, numbered per session, until its duration ends
// or the process is asked to stop (SIGINT, SIGTERM).

#include <mutex>
#include <string>
#include <vector>

#include "tesk_errors.h"
#include "tesk_export.h"

struct TeskReflectorCounts {
  unsigned long long received = 0;
  unsigned long long reflected = 0;
  unsigned long long tooShort = 0;
  unsigned long long notAllowed = 0;
  unsigned long long overRate = 0;
  unsigned long long overSessions = 0;
  unsigned long long sessionsForgotten = 0;
  unsigned long long sessions = 0;  // open at the end
  unsigned long long authFailed = 0;  // authenticated mode: no valid HMAC
  unsigned long long replayed = 0;    // authenticated mode: a sequence number met before
  // TWAMP control served (serveTwampControl): test packets of no session
  // set up, control connections taken and refused (a limit, a source not
  // allowed, a mode not served, a message not understood), those closed for
  // their silence (SERVWAIT), sessions set up and refused, and those ended
  // for want of test packets (REFWAIT).
  bool twamp = false;
  unsigned long long notRequested = 0;
  unsigned long long controlConnections = 0, controlRefused = 0, servWaitClosed = 0;
  unsigned long long twampSessions = 0, twampSessionsRefused = 0, refWaitEnded = 0;
};

// A reflector's settings.
struct TESK_EXPORT TeskReflectSettings {
  std::string localAddress = "::";  // "::" takes IPv4 callers too
  unsigned short localPort = 862;   // not 0
  unsigned int maxSessions = 10000;   // held at once; not 0
  unsigned int perSourceRate = 1000;  // packets a second from one address; 0: no limit
  unsigned int idleSeconds = 60;      // a silent session is forgotten; not 0
  unsigned int durationMs = 0;        // 0: until stopped
  // Only sources in these prefixes ("192.0.2.0/24", "2001:db8::/32") are
  // answered; empty: every source.
  std::vector<std::string> allowed;
  // Authenticated mode (RFC 8762) with the key in this file, which only its
  // owner may read (hexadecimal text, 16 bytes or more); empty: none.
  std::string keyFile;
  // Full TWAMP (RFC 5357, unauthenticated mode): control connections on
  // `controlPort` set up the test sessions, and only their test packets are
  // answered. Then: connections at once and from one address, and the RFC's
  // SERVWAIT (a silent control connection is closed) and REFWAIT (a session
  // without test packets ends), in seconds.
  bool twamp = false;
  unsigned short controlPort = 862;
  unsigned int controlConnections = 64, controlPerSource = 8;
  unsigned int servWaitSeconds = 900, refWaitSeconds = 900;

  // The messages of every rule these settings break ("Error in reflector
  // parameter: ..."), in rule order; empty when they are usable. The key
  // file is read only when the reflector runs.
  std::vector<std::string> validate() const;
};

class TESK_EXPORT TeskReflector {
 public:
  explicit TeskReflector(const TeskReflectSettings& given) : settings(given) {}
  TeskReflector(std::string localAddress, unsigned short localPort);
  virtual ~TeskReflector() = default;

  // The settings one at a time, for callers that build the reflector first.
  void setMaxSessions(unsigned int sessions) { settings.maxSessions = sessions; }
  void setPerSourceRate(unsigned int packetsPerSecond) { settings.perSourceRate = packetsPerSecond; }
  void setIdleSeconds(unsigned int seconds) { settings.idleSeconds = seconds; }
  // False for a text that is no prefix, which is not added.
  bool allow(const std::string& prefix);
  void setDuration(unsigned int milliseconds) { settings.durationMs = milliseconds; }
  void setKeyFile(const std::string& path) { settings.keyFile = path; }
  void serveTwampControl(unsigned short port) {
    settings.twamp = true;
    settings.controlPort = port;
  }
  void setControlLimits(unsigned int connections, unsigned int perSource, unsigned int servWait,
                        unsigned int refWait) {
    settings.controlConnections = connections;
    settings.controlPerSource = perSource;
    settings.servWaitSeconds = servWait;
    settings.refWaitSeconds = refWait;
  }
  const TeskReflectSettings& getSettings() const { return settings; }

  // Runs until the duration ends or a stop is asked; 0 or a TeskError.
  virtual int run();
  // Called on the reflector's thread when it refuses a source's request, in
  // words ("192.0.2.1:40000: too short: 38 bytes, ..."): once for a source
  // and reason while the source stays, ten a second at the most.
  virtual void onRefusal(const std::string&) {}
  const TeskReflectorCounts& counts() const { return lastCounts; }
  // Whether the last run opened its socket and answered, so that its
  // counts mean something.
  bool started() const { return wasStarted; }
  // The counts so far, updated once a second while it runs: safe from any
  // thread (a metrics endpoint's).
  TeskReflectorCounts countsNow() const;

 private:
  TeskReflectSettings settings;
  TeskReflectorCounts lastCounts;
  bool wasStarted = false;
  mutable std::mutex liveMutex;
  TeskReflectorCounts live;  // guarded by liveMutex
};

#endif  // TESK_STAMP_H
