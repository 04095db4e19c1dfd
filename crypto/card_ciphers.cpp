#include "crypto/card_ciphers.h"

#include <algorithm>
#include <cstdint>
#include <vector>

#include "crypto/block_padding.h"
#include "crypto/hex_text.h"
#include "crypto/key_material.h"
#include "crypto/secure_zero.h"

namespace qardex::crypto {

namespace {

using Bytes = std::vector<std::uint8_t>;

const std::uint8_t* BytesOf(std::string_view text) {
  return reinterpret_cast<const std::uint8_t*>(text.data());
}

// Empty when `draw` is empty (the only way spreading into a buffer of the right size fails).
Bytes Spread(const std::uint8_t* data, std::size_t length, const RandomDraw& draw) {
  Bytes spread(SpreadLength(length));
  if (!SpreadBlocks(data, length, spread.data(), spread.size(), draw)) return {};
  return spread;
}

std::string EncipherToHex(const TdeaKey& key, const Bytes& plain) {
  Bytes cipher(plain.size());
  TdeaEcbEncrypt(key, plain.data(), cipher.data(), plain.size());
  return HexUpper(cipher.data(), cipher.size());
}

// Hex text to the data bytes of its spread blocks: parsed, deciphered, fillers checked and
// dropped. `blockCount` receives the number of blocks.
DecipherError DecipherSpread(std::string_view hex, const TdeaKey& key, Bytes* data,
                             std::size_t* blockCount) {
  Bytes cipher;
  switch (ParseHex(hex, &cipher)) {
    case HexParseStatus::kOddLength:
      return DecipherError::kOddLength;
    case HexParseStatus::kNotHexDigit:
      return DecipherError::kNotHexDigit;
    case HexParseStatus::kOk:
      break;
  }
  if (cipher.empty() || cipher.size() % kDesBlockSize != 0) return DecipherError::kBlockCount;
  Bytes spread(cipher.size());
  TdeaEcbDecrypt(key, cipher.data(), spread.data(), cipher.size());
  if (!FillersInRange(spread.data(), spread.size())) return DecipherError::kFiller;
  *blockCount = spread.size() / kDesBlockSize;
  data->assign(*blockCount * kSpreadDataBytes, 0);
  GatherBlocks(spread.data(), spread.size(), data->data(), data->size());
  return DecipherError::kNone;
}

}  // namespace

std::string EncipherBasicText(std::string_view basicText, const TdeaKey& dateKey,
                              const RandomDraw& draw) {
  const std::size_t length = std::min(basicText.find('\0'), basicText.size());
  const WipedBytes spread{Spread(BytesOf(basicText), length, draw)};
  return EncipherToHex(dateKey, spread.bytes);
}

std::string EncipherPageString(std::string_view ansiText, const TdeaKey& cardKey,
                               const RandomDraw& draw) {
  WipedBytes padded{Bytes(PaddedLength(ansiText.size()))};
  pad_block8(BytesOf(ansiText), ansiText.size(), padded.bytes.data(), padded.bytes.size());
  Bytes inner(padded.bytes.size());
  TdeaEcbEncrypt(cardKey, padded.bytes.data(), inner.data(), padded.bytes.size());
  const Bytes spread = Spread(inner.data(), inner.size(), draw);
  if (spread.empty()) return {};
  return EncipherToHex(BuildFixedKey(), spread);
}

const char* DescribeDecipherError(DecipherError error) {
  switch (error) {
    case DecipherError::kNone:
      return "no error";
    case DecipherError::kOddLength:
      return "the hex text has an odd number of digits";
    case DecipherError::kNotHexDigit:
      return "the hex text holds a character that is not a hexadecimal digit";
    case DecipherError::kBlockCount:
      return "the ciphertext is not a number of blocks the encipherer produces";
    case DecipherError::kFiller:
      return "a filler byte is out of range (wrong key or damaged text)";
    case DecipherError::kSpreadTail:
      return "the bytes after the enciphered data are not zero (wrong key or damaged text)";
    case DecipherError::kPadding:
      return "the padding is invalid (wrong key or damaged text)";
  }
  return "unknown error";
}

Deciphered DecipherBasicText(std::string_view hex, const TdeaKey& dateKey) {
  Bytes data;
  std::size_t blockCount = 0;
  Deciphered result;
  result.error = DecipherSpread(hex, dateKey, &data, &blockCount);
  if (!result.ok()) return result;
  while (!data.empty() && data.back() == 0) data.pop_back();
  // A text that ends before the last block would have given fewer blocks.
  if (SpreadBlockCount(data.size()) != blockCount) {
    result.error = DecipherError::kBlockCount;
    return result;
  }
  result.bytes.assign(data.begin(), data.end());
  return result;
}

Deciphered DecipherPageString(std::string_view hex, const TdeaKey& cardKey) {
  Bytes data;
  std::size_t blockCount = 0;
  Deciphered result;
  result.error = DecipherSpread(hex, BuildFixedKey(), &data, &blockCount);
  if (!result.ok()) return result;
  // The inner ciphertext is the longest whole number of blocks whose spread has this count.
  const std::size_t innerLength = data.size() / kDesBlockSize * kDesBlockSize;
  if (innerLength == 0 || SpreadBlockCount(innerLength) != blockCount) {
    result.error = DecipherError::kBlockCount;
    return result;
  }
  if (std::any_of(data.begin() + innerLength, data.end(), [](std::uint8_t b) { return b != 0; })) {
    result.error = DecipherError::kSpreadTail;
    return result;
  }
  Bytes padded(innerLength);
  TdeaEcbDecrypt(cardKey, data.data(), padded.data(), innerLength);
  const std::optional<std::size_t> length = CheckedUnpadLength(padded.data(), padded.size());
  if (!length) {
    result.error = DecipherError::kPadding;
    return result;
  }
  result.bytes.assign(padded.begin(), padded.begin() + *length);
  return result;
}

}  // namespace qardex::crypto
