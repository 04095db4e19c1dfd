// Wiping secrets out of memory: keys, key schedules and plaintexts are
// overwritten with zeros before their storage is given up, on every way out.
#pragma once

#include <cstddef>
#include <cstdint>
#include <type_traits>
#include <vector>

namespace qardex::crypto {

// Writes zeros that the compiler may not leave out, even into storage that is
// never read again.
void SecureZero(void* data, std::size_t size);

// Zeros one object when the scope it guards ends, however it ends.
template <typename T>
class ScopedWipe {
  static_assert(std::is_trivially_copyable_v<T>, "only plain bytes can be wiped");

 public:
  explicit ScopedWipe(T& target) : target_(target) {}
  ~ScopedWipe() { SecureZero(&target_, sizeof target_); }
  ScopedWipe(const ScopedWipe&) = delete;
  ScopedWipe& operator=(const ScopedWipe&) = delete;

 private:
  T& target_;
};

// A byte vector (a plaintext on its way to being enciphered) wiped when it goes.
struct WipedBytes {
  std::vector<std::uint8_t> bytes;
  ~WipedBytes() { SecureZero(bytes.data(), bytes.size()); }
};

}  // namespace qardex::crypto
