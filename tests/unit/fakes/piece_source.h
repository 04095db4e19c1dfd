// Bytes handed out a few at a time, as a pipe may hand out a native message.
#pragma once

#include <algorithm>
#include <cstring>
#include <string>
#include <utility>

#include "messaging/native_frames.h"

namespace qardex::messaging::testing {

class PieceSource final : public ByteSource {
 public:
  PieceSource(std::string bytes, std::size_t piece) : bytes_(std::move(bytes)), piece_(piece) {}
  std::size_t Read(char* buffer, std::size_t capacity) override {
    const std::size_t count = std::min({piece_, capacity, bytes_.size() - at_});
    std::memcpy(buffer, bytes_.data() + at_, count);
    at_ += count;
    return count;
  }

 private:
  std::string bytes_;
  std::size_t piece_;
  std::size_t at_ = 0;
};

}  // namespace qardex::messaging::testing
