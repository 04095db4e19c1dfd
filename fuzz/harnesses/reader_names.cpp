// The reader multi-string: the name table against a plain split of the same
// bytes, and the listing over a PC/SC service that reports any size.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstring>
#include <string>
#include <vector>

#include "card/reader_names.h"
#include "card/reader_session.h"
#include "fuzz/support/finding.h"
#include "fuzz/support/scripted_card.h"

using namespace qardex;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  const std::string multi = input.ConsumeRandomLengthString(4096);
  card::ReaderNameTable table;
  const int count = table.Split(multi.data(), multi.size());

  // The plain split: every NUL ends a name; the last NUL's empty rest is no name.
  std::vector<std::string> names;
  std::string current;
  for (char c : multi) {
    if (c != '\0') {
      current += c;
      continue;
    }
    names.push_back(current);
    current.clear();
  }
  const std::size_t expected =
      std::min<std::size_t>(names.empty() ? 0 : names.size() - 1, card::ReaderNameTable::kSlots);
  QARDEX_FUZZ_CHECK(count == static_cast<int>(expected) && table.count() == count, "name count");
  std::string joined;
  for (int i = 0; i < count; ++i) {
    const std::string& name = names[static_cast<std::size_t>(i)];
    const bool fits = !name.empty() && name.size() < card::ReaderNameTable::kSlotBytes;
    QARDEX_FUZZ_CHECK(table.usable(i) == fits, "usable slot");
    QARDEX_FUZZ_CHECK(fits ? name == table.name(i) : std::strlen(table.name(i)) == 0, "slot text");
    if (!fits) continue;
    if (!joined.empty()) joined += ',';
    joined += name;
  }
  QARDEX_FUZZ_CHECK(table.Joined() == joined, "joined names");
  QARDEX_FUZZ_CHECK(!table.usable(count) && !table.usable(-1), "slots past the count");

  // The same bytes through PC/SC, with whatever size the service reports.
  fuzzing::ScriptedCard pcsc;
  pcsc.ReadReaders(input);
  card::CardSession session(pcsc);
  card::ReaderListing listing;
  if (card::ListReaders(session, listing) == card::kPcscSuccess) {
    QARDEX_FUZZ_CHECK(listing.names.count() <= static_cast<int>(card::ReaderNameTable::kSlots),
                      "listing count");
  }
  return 0;
}
