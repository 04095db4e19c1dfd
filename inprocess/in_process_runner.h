// The page protocol's methods run in this process, as the worker runs them: the engine's sessions
// for this process's user, one card transaction at a time among all of them, and one reader
// watch that every session's watchers share (running only while someone watches). The native
// host runs the methods this way.
#pragma once

#include <chrono>
#include <memory>
#include <mutex>

#include "inprocess/engine_session.h"
#include "inprocess/reader_events.h"
#include "protocol/method_runner.h"
#include "protocol/reader_hub.h"

namespace qardex::inprocess {

class InProcessRunner final : public service::MethodProvider {
 public:
  // Without `readers`, the readers cannot be watched.
  InProcessRunner(EngineSessionFactory& engine, ReaderEventSource* readers,
                  std::chrono::milliseconds cardWait = kCardWait);
  // Ends every watcher and the watch.
  ~InProcessRunner() override;
  InProcessRunner(const InProcessRunner&) = delete;
  InProcessRunner& operator=(const InProcessRunner&) = delete;

  // Every caller is this process's own user: `caller` is not looked at.
  std::unique_ptr<service::MethodSession> OpenSession(const service::Caller& caller) override;

 private:
  class Session;
  bool SwitchWatch(bool on);

  EngineSessionFactory& engine_;
  ReaderEventSource* const readers_;
  const std::chrono::milliseconds cardWait_;
  std::timed_mutex card_;
  std::mutex watching_;
  std::unique_ptr<ReaderEventWatch> watch_;
  const std::shared_ptr<service::ReaderHub> hub_;  // last: its switch uses the members above
};

}  // namespace qardex::inprocess
