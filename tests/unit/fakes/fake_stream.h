// A scripted peer for the relay code: incoming bytes arrive in pieces, with
// optional silences and failures, on a virtual clock; outgoing bytes are kept.
#pragma once

#include <algorithm>
#include <cstring>
#include <deque>
#include <string>
#include <vector>

#include "cloud/stream_socket.h"

namespace qardex::testing {

class FakeStream : public cloud::StreamSocket {
 public:
  // What the peer does next when read from.
  struct Event {
    enum class Kind { Data, Close, RecvError, Silence, SelectError, Flood } kind;
    std::string data;
    int silenceMs = 0;
    int msPerRecv = 0;           // Flood: the clock advances this much per recv()
    std::size_t floodBytes = 0;  // Flood: bytes left before the peer closes
  };
  std::deque<Event> script;
  std::string sent;
  std::vector<std::string> sends;  // each send() call's bytes
  int failSendsWith = 0;           // error number of failing sends, 0 for none
  int sendsBeforeFailure = -1;     // with failSendsWith: sends that still succeed
  int sendLimit = 1 << 30;         // bytes accepted per send
  std::int64_t now = 0;
  int recvCalls = 0;
  int selectCalls = 0;

  FakeStream& Data(const std::string& bytes) { return Push({Event::Kind::Data, bytes}); }
  FakeStream& Close() { return Push({Event::Kind::Close, {}}); }
  FakeStream& RecvError() { return Push({Event::Kind::RecvError, {}}); }
  FakeStream& SelectError() { return Push({Event::Kind::SelectError, {}}); }
  FakeStream& Silence(int ms) { return Push({Event::Kind::Silence, {}, ms}); }
  // `pattern` over and over, at most one pattern per recv(), always ready to
  // read (select never times out), then the end of the stream.
  FakeStream& Flood(const std::string& pattern, int msPerRecv, std::size_t totalBytes) {
    return Push({Event::Kind::Flood, pattern, 0, msPerRecv, totalBytes});
  }

  int Send(const char* data, int length) override {
    if (failSendsWith != 0 && sendsBeforeFailure-- <= 0) {
      lastError_ = failSendsWith;
      return -1;
    }
    sends.push_back(std::string(data, static_cast<std::size_t>(std::min(length, sendLimit))));
    const int taken = std::min(length, sendLimit);
    sent.append(data, static_cast<std::size_t>(taken));
    return taken;
  }

  int Recv(char* buffer, int length) override {
    ++recvCalls;
    if (script.empty()) return 0;  // nothing scripted: the peer has gone
    Event& next = script.front();
    switch (next.kind) {
      case Event::Kind::Close:
        return 0;
      case Event::Kind::RecvError:
        script.pop_front();
        lastError_ = 10054;
        return -1;
      case Event::Kind::Data: {
        const int count = std::min(length, static_cast<int>(next.data.size()));
        std::memcpy(buffer, next.data.data(), static_cast<std::size_t>(count));
        next.data.erase(0, static_cast<std::size_t>(count));
        if (next.data.empty()) script.pop_front();
        return count;
      }
      case Event::Kind::Flood: {
        if (next.floodBytes == 0) return 0;
        const std::size_t count = std::min(
            {static_cast<std::size_t>(length), next.data.size() - floodOffset_, next.floodBytes});
        std::memcpy(buffer, next.data.data() + floodOffset_, count);
        floodOffset_ = (floodOffset_ + count) % next.data.size();
        next.floodBytes -= count;
        now += next.msPerRecv;
        return static_cast<int>(count);
      }
      default:
        return -1;  // reading during a silence would block: never happens here
    }
  }

  int SelectReadable(int timeoutMs, bool& readable) override {
    ++selectCalls;
    readable = false;
    if (!script.empty() && script.front().kind == Event::Kind::SelectError) {
      script.pop_front();
      return -1;
    }
    if (!script.empty() && script.front().kind == Event::Kind::Silence) {
      Event& silence = script.front();
      if (silence.silenceMs > timeoutMs) {
        silence.silenceMs -= timeoutMs;
        now += timeoutMs;
        return 0;
      }
      now += silence.silenceMs;
      script.pop_front();
    }
    readable = true;
    return 1;
  }

  int LastError() override { return lastError_; }
  void Pause(int milliseconds) override { now += milliseconds; }
  std::int64_t NowMs() override { return now; }

 private:
  FakeStream& Push(Event event) {
    script.push_back(std::move(event));
    return *this;
  }
  int lastError_ = 0;
  std::size_t floodOffset_ = 0;
};

}  // namespace qardex::testing
