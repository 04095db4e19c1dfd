// A server or proxy whose bytes, pauses and failures come from the fuzzer's
// input, on a clock that advances with every call. A watchdog turns a
// receive loop that runs past its time limit into a crash.
#pragma once

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <string>
#include <vector>

#include "cloud/stream_socket.h"

namespace qardex::fuzzing {

// Thrown by the watchdog when a loop past its limit is a known fault: the
// harness catches it and goes on with the next input.
struct LoopPastLimit {};

class ScriptedSocket : public cloud::StreamSocket {
 public:
  struct Event {
    enum class Kind { Data, Silence, RecvError, SelectError, Close } kind;
    std::string data;
    int silenceMs = 0;
  };

  // Virtual milliseconds each Recv and SelectReadable call takes.
  static constexpr std::int64_t kCallCostMs = 1;
  // Time the watchdog grants past a limit before it calls the loop endless.
  static constexpr std::int64_t kSlackMs = 1000;

  ScriptedSocket() = default;

  // Events read from the input until it runs out or `maxEvents` are read.
  void ReadScript(FuzzedDataProvider& input, std::size_t maxEvents);
  void Add(Event event) { script_.push_back(std::move(event)); }
  // A peer that starts its script again whenever it ends (one that never pauses).
  void set_endless(bool endless) { endless_ = endless; }
  // The socket's sends fail from the n-th on (0: never).
  void set_failing_send(int n) { failingSend_ = n; }

  // Crashes once the clock passes `limitMs` (from now) plus the slack.
  void ArmWatchdog(std::int64_t limitMs) { watchdogAt_ = now_ + limitMs + kSlackMs; }
  void DisarmWatchdog() { watchdogAt_ = -1; }

  const std::string& sent() const { return sent_; }

  int Send(const char* data, int length) override;
  int Recv(char* buffer, int length) override;
  int SelectReadable(int timeoutMs, bool& readable) override;
  int LastError() override { return lastError_; }
  void Pause(int milliseconds) override;
  std::int64_t NowMs() override { return now_; }

 private:
  Event* Next();
  void Tick(std::int64_t milliseconds);

  std::vector<Event> script_;
  std::size_t position_ = 0;
  std::size_t offset_ = 0;  // bytes of the current data event already read
  bool endless_ = false;
  int failingSend_ = 0;
  int sends_ = 0;
  int lastError_ = 0;
  std::int64_t now_ = 0;
  std::int64_t watchdogAt_ = -1;
  std::string sent_;
};

}  // namespace qardex::fuzzing
