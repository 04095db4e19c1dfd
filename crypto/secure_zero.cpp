#include "crypto/secure_zero.h"

namespace qardex::crypto {

void SecureZero(void* data, std::size_t size) {
  // Stores through a volatile pointer are side effects the optimiser keeps.
  volatile unsigned char* bytes = static_cast<volatile unsigned char*>(data);
  for (std::size_t i = 0; i < size; ++i) bytes[i] = 0;
#if defined(__GNUC__)
  __asm__ __volatile__("" : : "r"(data) : "memory");
#endif
}

}  // namespace qardex::crypto
