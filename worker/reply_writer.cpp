#include "worker/reply_writer.h"

#include <cstdint>
#include <variant>

namespace qardex::worker {

namespace {

std::uint32_t CallIdOf(const ipc::Message& message) {
  if (const auto* result = std::get_if<ipc::Result>(&message)) return result->callId;
  return 0;
}

}  // namespace

bool ReplyWriter::Send(const ipc::Message& message) {
  std::lock_guard<std::mutex> writing(writeLock_);
  if (pump_ == nullptr || broken_) return false;
  ipc::FramePump::Sent sent = pump_->Send({message});
  if (sent == ipc::FramePump::Sent::TooLarge) {
    // Only a result can outgrow the limits (a text beyond the payload size).
    sent = pump_->Send({ipc::Failed{CallIdOf(message), "result too large"}});
  }
  if (sent != ipc::FramePump::Sent::Ok) broken_ = true;
  return !broken_;
}

void ReplyWriter::Detach() {
  std::lock_guard<std::mutex> writing(writeLock_);
  pump_ = nullptr;
}

}  // namespace qardex::worker
