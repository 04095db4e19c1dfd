// Out-parameters and buffers fenced by canaries: a callee that writes a 64-bit value into a
// 32-bit slot, or a byte past the length it was given, overwrites a canary.
#ifndef QARDEX_BRIDGE_CHECK_GUARDS_H
#define QARDEX_BRIDGE_CHECK_GUARDS_H

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

// Three adjacent T slots; the middle one is handed out. Arrays have no padding between
// elements, so every overrun lands in a canary.
template <typename T>
class Guarded {
 public:
  explicit Guarded(T initial) {
    std::memset(slots_, kCanaryByte, sizeof(slots_));
    slots_[1] = initial;
  }
  T* get() { return &slots_[1]; }
  const T& value() const { return slots_[1]; }
  bool intact() const { return IsCanary(&slots_[0]) && IsCanary(&slots_[2]); }

 private:
  static constexpr unsigned char kCanaryByte = 0xA5;
  static bool IsCanary(const T* slot) {
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(slot);
    for (std::size_t i = 0; i < sizeof(T); ++i)
      if (bytes[i] != kCanaryByte) return false;
    return true;
  }
  T slots_[3];
};

// A byte buffer of `size` usable bytes with fences before and after, all pre-filled with a
// marker so that untouched bytes can be told from written ones.
class GuardedBuffer {
 public:
  explicit GuardedBuffer(std::size_t size) : bytes_(size + 2 * kFence, kMarker), size_(size) {}
  unsigned char* data() { return bytes_.data() + kFence; }
  const unsigned char* data() const { return bytes_.data() + kFence; }
  std::size_t size() const { return size_; }

  // True when nothing before the buffer and nothing from offset `written` on was touched.
  bool UntouchedOutside(std::size_t written) const {
    for (std::size_t i = 0; i < kFence; ++i)
      if (bytes_[i] != kMarker) return false;
    for (std::size_t i = kFence + written; i < bytes_.size(); ++i)
      if (bytes_[i] != kMarker) return false;
    return true;
  }

 private:
  static constexpr std::size_t kFence = 32;
  static constexpr unsigned char kMarker = 0xCD;
  std::vector<unsigned char> bytes_;
  std::size_t size_;
};

#endif
