// The reader-name table one listing fills from PC/SC's reader multi-string.
#pragma once

#include <array>
#include <cstddef>
#include <string>

namespace qardex::card {

// 20 slots of 100 bytes: names of up to 99 bytes fit with their NUL.
// Readers past the 20th are ignored. A longer name is never cut: its slot
// stays empty and is marked unusable, so the slots of the readers after it
// still match their positions in PC/SC's list.
class ReaderNameTable {
 public:
  static constexpr std::size_t kSlots = 20;
  static constexpr std::size_t kSlotBytes = 100;

  // Fills the table from a multi-string of `length` bytes; returns the count
  // of names (the number of NUL bytes less one, at most kSlots, never < 0).
  int Split(const char* multiString, std::size_t length);

  int count() const { return count_; }
  // The name in slot i, or "" for an unusable or unused slot.
  const char* name(int i) const;
  bool usable(int i) const;

  // The usable names joined by "," in listing order, nothing escaped.
  std::string Joined() const;

 private:
  std::array<std::array<char, kSlotBytes>, kSlots> slots_{};
  std::array<bool, kSlots> usable_{};
  int count_ = 0;
};

}  // namespace qardex::card
