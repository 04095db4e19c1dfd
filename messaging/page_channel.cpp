#include "messaging/page_channel.h"

#include <atomic>
#include <cmath>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>

#include "protocol/json_text.h"
#include "protocol/reader_events.h"

namespace qardex::messaging {

namespace {

using Clock = std::chrono::steady_clock;
using service::JsonMember;
using service::JsonMembers;
using service::PageAsk;

struct AskName {
  std::string_view name;
  PageAsk ask;
};
constexpr AskName kAsks[] = {
    {"version", PageAsk::Version},    {"diagnostics", PageAsk::Diagnostics},
    {"open", PageAsk::OpenSession},   {"close", PageAsk::CloseSession},
    {"watch", PageAsk::WatchReaders}, {"call", PageAsk::CallMethod},
};

// Ids the extension gives are whole numbers JavaScript holds exactly.
constexpr double kLargestId = 9007199254740991.0;

// One request as the extension sent it.
struct Request {
  std::uint64_t id = 0;
  std::optional<std::string> origin;
  std::optional<PageAsk> ask;  // none: a name we do not know
  std::string session;
  std::string method;
  std::string body;  // {"args":[...]} as the protocol reads it; empty without a list of args
};

// A member's text when it is a string of ASCII (origins, session ids and method names are).
std::optional<std::string> AsciiOf(const JsonMembers& members, std::string_view name) {
  const auto found = members.find(name);
  if (found == members.end() || found->second.kind != JsonMember::Kind::Value ||
      found->second.value.kind != service::JsonValue::Kind::String) {
    return std::nullopt;
  }
  std::string text;
  for (const char16_t unit : found->second.value.text) {
    if (unit >= 0x80) return std::nullopt;
    text.push_back(static_cast<char>(unit));
  }
  return text;
}

std::optional<std::uint64_t> IdOf(const JsonMembers& members) {
  const auto found = members.find("id");
  if (found == members.end() || found->second.kind != JsonMember::Kind::Value ||
      found->second.value.kind != service::JsonValue::Kind::Number) {
    return std::nullopt;
  }
  const double id = found->second.value.number;
  if (id < 0 || id > kLargestId || std::trunc(id) != id) return std::nullopt;
  return static_cast<std::uint64_t>(id);
}

std::optional<PageAsk> AskOf(std::string_view name) {
  for (const AskName& known : kAsks) {
    if (known.name == name) return known.ask;
  }
  return std::nullopt;
}

std::string BodyOf(const JsonMembers& members) {
  const auto args = members.find("args");
  if (args == members.end() || args->second.kind != JsonMember::Kind::List) return {};
  std::string body = "{\"args\":[";
  for (std::size_t i = 0; i < args->second.list.size(); ++i) {
    if (i > 0) body.push_back(',');
    service::AppendJsonValue(body, args->second.list[i]);
  }
  return body + "]}";
}

std::string Tagged(std::uint64_t id, std::string_view rest) {
  return "{\"id\":" + std::to_string(id) + "," + std::string(rest) + "}";
}

std::string AnswerJson(std::uint64_t id, const service::PageAnswer& answer) {
  std::string rest = "\"status\":" + std::to_string(answer.status) +
                     ",\"body\":" + (answer.body.empty() ? std::string("{}") : answer.body);
  if (answer.retryAfterSeconds > 0) {
    rest += ",\"retryAfter\":" + std::to_string(answer.retryAfterSeconds);
  }
  return Tagged(id, rest);
}

// One port's requests; shared with the threads it starts, which may outlive the drain.
class Channel : public std::enable_shared_from_this<Channel> {
 public:
  Channel(MessageSink& output, service::PageProtocol& protocol, const service::Caller& caller,
          const ChannelLimits& limits)
      : output_(output), protocol_(protocol), caller_(caller), limits_(limits) {}

  // False when the output is gone.
  bool Send(std::string_view json) {
    if (outputGone_.load()) return false;
    if (output_.Send(json)) return true;
    outputGone_.store(true);
    CancelAll();
    return false;
  }
  bool OutputGone() const { return outputGone_.load(); }

  // Starts the request; false when it is not one the extension sends.
  bool Start(Request request, const ThreadStarter& startThread) {
    if (!request.ask) {
      Send(AnswerJson(request.id, {404, R"({"error":"not found"})", 0, nullptr}));
      return true;
    }
    auto cancel = std::make_shared<std::atomic<bool>>(false);
    {
      std::lock_guard<std::mutex> hold(lock_);
      if (cancels_.count(request.id) != 0) return false;
      if (cancels_.size() >= limits_.maxRunning) {
        Send(AnswerJson(request.id, {429, R"({"error":"too many calls"})", 0, nullptr}));
        return true;
      }
      cancels_.emplace(request.id, cancel);
    }
    const std::uint64_t id = request.id;
    bool started = false;
    try {
      started = startThread([self = shared_from_this(), request = std::move(request), cancel] {
        try {
          self->Run(request, *cancel);
        } catch (...) {
          self->Send(AnswerJson(request.id, {500, R"({"error":"internal error"})", 0, nullptr}));
        }
        self->Finish(request.id);
      });
    } catch (...) {
      started = false;
    }
    if (!started) {
      Finish(id);
      Send(AnswerJson(id, {503, R"({"error":"no thread available"})", 0, nullptr}));
    }
    return true;
  }

  void Cancel(std::uint64_t id) {
    std::lock_guard<std::mutex> hold(lock_);
    const auto found = cancels_.find(id);
    if (found != cancels_.end()) found->second->store(true);
  }

  void Drain() {
    CancelAll();
    std::unique_lock<std::mutex> hold(lock_);
    finished_.wait_for(hold, limits_.drain, [&] { return cancels_.empty(); });
  }

 private:
  void CancelAll() {
    std::lock_guard<std::mutex> hold(lock_);
    for (auto& entry : cancels_) entry.second->store(true);
  }
  void Finish(std::uint64_t id) {
    std::lock_guard<std::mutex> hold(lock_);
    cancels_.erase(id);
    finished_.notify_all();
  }

  void Run(const Request& request, const std::atomic<bool>& cancel) {
    service::PageRequest asked;
    if (request.origin) asked.origin = *request.origin;
    asked.caller = caller_;
    asked.ask = *request.ask;
    asked.session = request.session;
    asked.method = request.method;
    asked.body = request.body;
    asked.context = service::CallContext([&cancel] { return cancel.load(); });
    const service::PageAnswer answer = protocol_.Answer(asked);
    if (answer.events && answer.status == 200) {
      Stream(request.id, *answer.events, cancel);
    } else {
      std::string json = AnswerJson(request.id, answer);
      // The browser ends a port that is sent more; the worker says the same of such a result.
      if (json.size() > kMaxOutgoingFrame) {
        json = AnswerJson(request.id, {500, R"({"error":"result too large"})", 0, nullptr});
      }
      Send(json);
    }
  }

  void Stream(std::uint64_t id, service::ReaderEventSource& events,
              const std::atomic<bool>& cancel) {
    Clock::time_point checked = Clock::now();
    while (!cancel.load()) {
      const service::ReaderWatcher::Next next = events.Wait(limits_.eventSlice);
      if (next.status == service::ReaderWatcher::Status::Ended) break;
      if (next.status == service::ReaderWatcher::Status::Event &&
          !Send(Tagged(id, "\"event\":" + service::ReaderEventJson(next.event)))) {
        return;
      }
      if (Clock::now() - checked >= limits_.sessionCheck) {
        if (!events.SessionAlive()) break;
        checked = Clock::now();
      }
    }
    Send(Tagged(id, "\"end\":true"));
  }

  MessageSink& output_;
  service::PageProtocol& protocol_;
  const service::Caller caller_;
  const ChannelLimits limits_;
  std::atomic<bool> outputGone_{false};
  std::mutex lock_;
  std::condition_variable finished_;
  std::map<std::uint64_t, std::shared_ptr<std::atomic<bool>>> cancels_;  // what runs, by id
};

// Why the input is not ours, for the log; nothing when the frame is a message.
const char* FrameFault(const FrameRead& frame) {
  switch (frame.status) {
    case FrameStatus::TooLarge:
      return "a message beyond the bound";
    case FrameStatus::Truncated:
      return "the input ended inside a message";
    default:
      return nullptr;
  }
}

}  // namespace

ChannelEnd ServeChannel(ByteSource& input, MessageSink& output, service::PageProtocol& protocol,
                        const service::Caller& caller, service::ServiceLog& log,
                        const ThreadStarter& startThread, const ChannelLimits& limits) {
  const auto channel = std::make_shared<Channel>(output, protocol, caller, limits);
  ChannelEnd end = ChannelEnd::InputEnded;
  try {
    while (!channel->OutputGone()) {
      const FrameRead frame = ReadFrame(input);
      if (frame.status == FrameStatus::End) break;
      if (const char* fault = FrameFault(frame)) {
        log.Write(service::LogEvent::kHostBadMessage,
                  std::string("native messaging ended: ") + fault + " (" +
                      std::to_string(frame.announced) + " bytes announced)");
        end = ChannelEnd::Malformed;
        break;
      }
      const std::optional<JsonMembers> members = service::ReadFlatObject(frame.json);
      const std::optional<std::uint64_t> id = members ? IdOf(*members) : std::nullopt;
      bool understood = id.has_value();
      if (understood && members->count("cancel") != 0) {
        const JsonMember& cancel = members->at("cancel");
        understood = cancel.kind == JsonMember::Kind::Boolean && cancel.boolean;
        if (understood) channel->Cancel(*id);
      } else if (understood) {
        const std::optional<std::string> ask = AsciiOf(*members, "ask");
        understood = ask.has_value();
        if (understood) {
          Request request;
          request.id = *id;
          request.origin = AsciiOf(*members, "origin");
          request.ask = AskOf(*ask);
          request.session = AsciiOf(*members, "session").value_or("");
          request.method = AsciiOf(*members, "method").value_or("");
          request.body = BodyOf(*members);
          understood = channel->Start(std::move(request), startThread);
        }
      }
      if (!understood) {
        log.Write(service::LogEvent::kHostBadMessage,
                  "native messaging ended: a message that is not a request (" +
                      std::to_string(frame.json.size()) + " bytes)");
        end = ChannelEnd::Malformed;
        break;
      }
    }
  } catch (...) {
    end = ChannelEnd::Malformed;
  }
  if (channel->OutputGone()) end = ChannelEnd::OutputGone;
  channel->Drain();
  return end;
}

}  // namespace qardex::messaging
