// Triple-DES (TDEA, three independent keys) in ECB mode over whole 8-byte blocks.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "crypto/block_size.h"

namespace qardex::crypto {

// K1, K2 and K3 are bytes 0-7, 8-15 and 16-23; the DES parity bits are ignored.
using TdeaKey = std::array<std::uint8_t, 24>;

// Each enciphers or deciphers floor(length / 8) whole blocks from `input` into `output`
// (E(K3, D(K2, E(K1, x))) and its inverse). A trailing partial block is neither read nor
// written, so the output bytes past the last whole block keep their values. Null buffers do
// nothing.
void TdeaEcbEncrypt(const TdeaKey& key, const std::uint8_t* input, std::uint8_t* output,
                    std::size_t length);
void TdeaEcbDecrypt(const TdeaKey& key, const std::uint8_t* input, std::uint8_t* output,
                    std::size_t length);

}  // namespace qardex::crypto
