// Wiping secrets out of memory: keys, key schedules and plaintexts are
// overwritten with zeros before their storage is given up, on every way out.
#pragma once

#include <cstddef>
#include <type_traits>

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

}  // namespace qardex::crypto
