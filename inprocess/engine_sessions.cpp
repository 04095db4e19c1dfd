#include "inprocess/engine_sessions.h"

#include <cstdint>
#include <stdexcept>

#include "engine/page_text.h"
#include "engine/random_generator.h"
#include "engine/session.h"

namespace qardex::inprocess {

namespace {

std::wstring WideOf(const std::u16string& text) { return std::wstring(text.begin(), text.end()); }

ipc::Value TextResult(const std::string& ansi) {
  const std::wstring wide = engine::WidenResult(ansi);
  return ipc::Value::Text(std::u16string(wide.begin(), wide.end()));
}

ipc::Value NumberResult(std::int32_t value) { return ipc::Value::Number(value); }

// An engine session draws its random digits from the calling thread's generator, and each call
// of a worker session runs on a thread of its own. Rather than keep a thread per session, each
// call runs with the session's own generator state swapped into the thread and swapped out again
// afterwards; calls of one session never overlap, so the digits follow the same sequence as in
// one control on one thread.
class GeneratorSwap {
 public:
  explicit GeneratorSwap(std::uint32_t& sessionState)
      : sessionState_(sessionState), threadState_(engine::RandomState()) {
    engine::SeedRandom(sessionState_);
  }
  ~GeneratorSwap() {
    sessionState_ = engine::RandomState();
    engine::SeedRandom(threadState_);
  }
  GeneratorSwap(const GeneratorSwap&) = delete;
  GeneratorSwap& operator=(const GeneratorSwap&) = delete;

 private:
  std::uint32_t& sessionState_;
  const std::uint32_t threadState_;
};

class ControlSession final : public EngineSession {
 public:
  explicit ControlSession(engine::Platform& platform)
      : threadState_(engine::RandomState()), session_(platform) {
    // The constructor seeded this thread: keep that seed for the session, give the thread back.
    generatorState_ = engine::RandomState();
    engine::SeedRandom(threadState_);
  }

  MethodResult Call(const ipc::MethodSignature& method,
                    const std::vector<ipc::Value>& args) override {
    GeneratorSwap swap(generatorState_);
    ipc::Value result = Run(method.name, args);
    return {std::move(result), session_.GetLastError()};
  }

 private:
  ipc::Value Run(std::string_view name, const std::vector<ipc::Value>& args) {
    const auto page = [&] { return engine::PageTextOf(WideOf(args.at(0).text)); };
    if (name == "GetVersion") return TextResult(session_.GetVersion());
    if (name == "GetRandom") return TextResult(session_.GetRandom());
    if (name == "GetBasic") return TextResult(session_.GetBasic());
    if (name == "H_Sign") return TextResult(session_.H_Sign(page()));
    if (name == "GetReaders") return TextResult(session_.GetReaders());
    if (name == "GetHCConnectNo") return NumberResult(session_.GetHCConnectNo());
    if (name == "ServiceStatus") return NumberResult(session_.ServiceStatus());
    if (name == "GetName") return TextResult(session_.GetName());
    if (name == "ZEL_FormatMessage") return TextResult(session_.ZEL_FormatMessage(page()));
    if (name == "SecureGetBasicWithParam") {
      return TextResult(session_.SecureGetBasicWithParam(page()));
    }
    if (name == "GetLastError") return NumberResult(session_.GetLastError());
    if (name == "EnCrypt") return TextResult(session_.EnCrypt(page()));
    throw std::logic_error("method without a binding");
  }

  const std::uint32_t threadState_;
  engine::Session session_;
  std::uint32_t generatorState_ = 0;
};

}  // namespace

std::unique_ptr<EngineSession> EngineSessions::OpenSession() {
  return std::make_unique<ControlSession>(platform_);
}

}  // namespace qardex::inprocess
