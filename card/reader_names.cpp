#include "card/reader_names.h"

#include <algorithm>

namespace qardex::card {

int ReaderNameTable::Split(const char* multiString, std::size_t length) {
  for (auto& slot : slots_) slot.fill(0);
  usable_.fill(false);
  count_ = 0;
  if (multiString == nullptr) return 0;

  std::size_t zeroBytes = 0;
  std::size_t used = 0;  // bytes in the current name
  bool tooLong = false;
  for (std::size_t i = 0; i < length; ++i) {
    const char byte = multiString[i];
    const std::size_t slot = zeroBytes;
    if (byte != '\0') {
      if (slot < kSlots && !tooLong) {
        if (used + 1 < kSlotBytes) {
          slots_[slot][used] = byte;
        } else {
          tooLong = true;
          slots_[slot].fill(0);
        }
      }
      ++used;
      continue;
    }
    if (slot < kSlots) usable_[slot] = !tooLong && used > 0;
    ++zeroBytes;
    used = 0;
    tooLong = false;
  }
  const std::size_t names = zeroBytes > 0 ? zeroBytes - 1 : 0;
  count_ = static_cast<int>(std::min(names, kSlots));
  // The final NUL's empty slot is not a name.
  for (std::size_t i = static_cast<std::size_t>(count_); i < kSlots; ++i) usable_[i] = false;
  return count_;
}

const char* ReaderNameTable::name(int i) const {
  if (!usable(i)) return "";
  return slots_[static_cast<std::size_t>(i)].data();
}

bool ReaderNameTable::usable(int i) const {
  return i >= 0 && i < count_ && usable_[static_cast<std::size_t>(i)];
}

std::string ReaderNameTable::Joined() const {
  std::string text;
  for (int i = 0; i < count_; ++i) {
    if (!usable(i)) continue;
    if (!text.empty()) text += ',';
    text += name(i);
  }
  return text;
}

}  // namespace qardex::card
