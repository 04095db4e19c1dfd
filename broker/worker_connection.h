// One running worker as the service sees it: its pipe, the thread that reads the worker's
// messages, and the calls waiting for their replies. A worker that breaks the rules of the pipe
// (no proper Hello first, a message that does not decode or is too large, a message only the
// service sends, a reply to a call it was not given, readers beyond the hub's bounds) is ended;
// the service goes on.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <initializer_list>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "ipc/frame_pump.h"
#include "protocol/reader_hub.h"
#include "ipc/message.h"
#include "protocol/method_runner.h"
#include "protocol/service_log.h"
#include "broker/worker_link.h"

namespace qardex::service {

struct WorkerLimits {
  // From the start of a worker to its Hello.
  std::chrono::milliseconds hello{10'000};
  // From sending a call to its reply: the worker's card wait (30 s), the longest method (H_Sign,
  // 380 s) and a margin. A worker that takes longer is taken for hung and ended.
  std::chrono::milliseconds call{420'000};
  // A worker with no call and no open service session for this long is closed.
  std::chrono::milliseconds idle{600'000};
  // How long a call waits while another call of the same Windows session starts its worker.
  std::chrono::milliseconds startWait{30'000};
  // One read of the pipe; bounds how long ending a worker waits for its reading thread.
  std::chrono::milliseconds readSlice{250};
};

// A call's outcome and the generation of the worker that now knows its session (0: none yet).
struct SessionCall {
  CallOutcome outcome;
  std::uint64_t openedOn = 0;
};

class WorkerConnection {
 public:
  // `generation` is unique among the workers of the process.
  WorkerConnection(std::unique_ptr<WorkerChannel> channel, std::uint32_t windowsSession,
                   std::uint64_t generation, const WorkerLimits& limits, ServiceLog& log);
  // Stops the reading thread (within one read slice), then closes the pipe. Never runs on the
  // reading thread: that thread holds no reference to its connection.
  ~WorkerConnection();
  WorkerConnection(const WorkerConnection&) = delete;
  WorkerConnection& operator=(const WorkerConnection&) = delete;

  // Starts reading and waits for the worker's Hello; false (the worker ended) when it does not
  // come within the limit or names another process.
  bool Begin();

  struct Delivery {
    SessionCall call;
    // Whether anything went to the pipe: a call that did not may go to another worker, a call
    // that did is never sent again.
    bool sent = false;
  };
  // Sends the call, first an OpenSession when `openedOn` is not this worker's generation (so a
  // session meets a new worker with a fresh engine session), and waits for the reply. Once the
  // context is cancelled, the worker is told to give the call up if it has not begun (the reply
  // then says Failed).
  Delivery Call(std::uint64_t session, std::uint64_t openedOn, std::string_view method,
                const std::vector<ipc::Value>& args, const CallContext& context = {});
  void CloseSession(std::uint64_t session);
  // A watcher of this worker's readers; null once the worker ended.
  std::shared_ptr<ReaderWatcher> WatchReaders() { return hub_->Subscribe(); }

  // Waiting calls fail as WorkerEnded. With `terminate` the process is ended now; otherwise it
  // exits when its pipe closes. `why` completes the log line "worker ... "; an end the pool did
  // not ask for is a failure.
  void End(std::string_view why, bool terminate, LogEvent kind = LogEvent::kWorkerFailed);
  bool Ended() const;

  std::uint64_t Generation() const { return generation_; }
  std::uint32_t ProcessId() const { return processId_; }

 private:
  struct Pending {
    bool answered = false;
    CallOutcome outcome;
  };
  void ReadLoop() noexcept;
  // Null when the message is acceptable, else why the worker must end.
  const char* Accept(const ipc::Message& message);
  const char* Answer(std::uint32_t callId, CallOutcome outcome);
  // Writes the messages in one write; a broken pipe ends the worker.
  ipc::FramePump::Sent Send(std::initializer_list<ipc::Message> messages);

  const std::unique_ptr<WorkerChannel> channel_;
  ipc::FramePump pump_;  // over channel_
  const std::uint32_t windowsSession_;
  const std::uint64_t generation_;
  const std::uint32_t processId_;
  const WorkerLimits limits_;
  ServiceLog& log_;

  mutable std::mutex lock_;
  std::condition_variable changed_;
  bool greeted_ = false;
  bool ended_ = false;
  std::uint32_t nextCallId_ = 1;
  std::map<std::uint32_t, Pending> pending_;
  std::atomic<bool> ending_{false};  // End has begun
  std::atomic<bool> stopping_{false};
  std::thread reader_;
  const std::shared_ptr<ReaderHub> hub_;
};

}  // namespace qardex::service
