// The certificate files are put in place as a whole or not at all.
#include "keymint/set_writer.h"

#include <gtest/gtest.h>

#include "keymint/mint_error.h"
#include "keymint/tests/test_support.h"

namespace qardex::keymint {
namespace {

namespace fs = std::filesystem;

std::vector<std::string> Entries(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

TEST(WriteAllOrNothing, ReplacesTheEarlierSetAndLeavesNothingElse) {
  test::ScratchFolder folder;
  test::WriteFile(folder.path() / "a.crt", "old a");
  WriteAllOrNothing(folder.path(), {{"a.crt", "new a"}, {"b.key", "new b"}});
  EXPECT_EQ(test::ReadFile(folder.path() / "a.crt"), "new a");
  EXPECT_EQ(test::ReadFile(folder.path() / "b.key"), "new b");
  EXPECT_EQ(Entries(folder.path()), (std::vector<std::string>{"a.crt", "b.key"}));
}

TEST(WriteAllOrNothing, KeepsTheEarlierSetWhenOneFileCannotBeWritten) {
  test::ScratchFolder folder;
  test::WriteFile(folder.path() / "a.crt", "old a");
  test::WriteFile(folder.path() / "b.key", "old b");
  // A folder where the second file's temporary copy would go: it cannot be created.
  fs::create_directories(folder.path() / "b.key.keymint-new" / "in-the-way");
  EXPECT_THROW(WriteAllOrNothing(folder.path(), {{"a.crt", "new a"}, {"b.key", "new b"}}),
               MintError);
  EXPECT_EQ(test::ReadFile(folder.path() / "a.crt"), "old a");
  EXPECT_EQ(test::ReadFile(folder.path() / "b.key"), "old b");
  EXPECT_EQ(Entries(folder.path()),
            (std::vector<std::string>{"a.crt", "b.key", "b.key.keymint-new"}));
}

}  // namespace
}  // namespace qardex::keymint
