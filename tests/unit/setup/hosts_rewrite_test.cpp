#include "setup/hosts_rewrite.h"

#include <gtest/gtest.h>

#include <string>

namespace qardex::setup {
namespace {

constexpr char kHost[] = "local.qardex.example";
const std::string kEntry = "\r\n127.0.0.1       local.qardex.example #mQARDEX use this. \r\n";

struct Rewritten {
  HostsRewrite result;
  std::string content;
};

Rewritten Rewrite(const std::string& old, const std::string& host = kHost) {
  Rewritten r;
  r.result = RewriteHosts(old, host, &r.content);
  return r;
}

TEST(HostsEntryLine, IsFortyBytesAroundTheHostName) {
  EXPECT_EQ(HostsEntryLine(kHost), kEntry);
  EXPECT_EQ(HostsEntryLine(kHost).size(), 40u + std::string(kHost).size());
}

TEST(HostsRewrite, WithoutAMentionOnlyTheEntryIsAppended) {
  for (const std::string old : {
           "# sample\r\n127.0.0.1 localhost\r\n::1 localhost\r\n",
           "127.0.0.1 localhost\n\n10.0.0.7 files.example.corp\n",
           "127.0.0.1 localhost\r\n10.0.0.8 other.example\n\r\n",  // CR LF and LF mixed
       }) {
    const Rewritten r = Rewrite(old);
    EXPECT_FALSE(r.result.entryPresent);
    EXPECT_EQ(r.result.commentedLines, 0u);
    EXPECT_EQ(r.content, old + kEntry);
  }
}

TEST(HostsRewrite, LastLineWithoutLineEndIsKeptAndTheEntryEndsIt) {
  const Rewritten r = Rewrite("127.0.0.1 localhost\r\n10.0.0.1 files");
  EXPECT_EQ(r.content, "127.0.0.1 localhost\r\n10.0.0.1 files" + kEntry);
}

TEST(HostsRewrite, EmptyContentGetsJustTheEntry) { EXPECT_EQ(Rewrite("").content, kEntry); }

TEST(HostsRewrite, ExistingEntryMeansNoChange) {
  for (const std::string line : {
           "127.0.0.1 local.qardex.example", "127.0.0.1    local.qardex.example",
           "   127.0.0.1       local.qardex.example #mQARDEX use this. ",
           "127.0.0.1 localhost local.qardex.example",  // as an alias
           "127.0.0.1 \tlocal.qardex.example",          // blank first, then any separator
           "127.0.0.1 local.qardex.example#note",       // the name ends where the comment starts
       }) {
    const Rewritten r = Rewrite("10.0.0.10 local.qardex.example\n" + line + "\r\n");
    EXPECT_TRUE(r.result.entryPresent) << line;
  }
  // Also as the last line without a line end.
  EXPECT_TRUE(Rewrite("# hosts\n127.0.0.1 local.qardex.example").result.entryPresent);
}

TEST(HostsRewrite, OtherMappingsAreCommentedOutBeforeTheirLeadingBlanks) {
  const std::string old =
      "127.0.0.1 localhost\r\n"
      "  10.20.30.40   local.qardex.example\r\n"
      "127.0.0.1\tlocal.qardex.example\n"
      "192.0.2.1  foo local.qardex.example bar\n"
      "\t127.0.0.1 local.qardex.example\n";  // a tab is not skipped: not our prefix
  const Rewritten r = Rewrite(old);
  EXPECT_FALSE(r.result.entryPresent);
  EXPECT_EQ(r.result.commentedLines, 4u);
  EXPECT_EQ(r.content,
            "127.0.0.1 localhost\r\n"
            "#  10.20.30.40   local.qardex.example\r\n"
            "#127.0.0.1\tlocal.qardex.example\n"
            "#192.0.2.1  foo local.qardex.example bar\n"
            "#\t127.0.0.1 local.qardex.example\n" +
                kEntry);
}

TEST(HostsRewrite, NameStartingWithinTenCharactersIsNotSeen) {
  const std::string old = "1.2.3.4 local.qardex.example\r\n  1.2.3.4\tlocal.qardex.example\r\n";
  const Rewritten r = Rewrite(old);
  EXPECT_EQ(r.result.commentedLines, 0u);
  EXPECT_EQ(r.content, old + kEntry);
}

TEST(HostsRewrite, CommentsAndBlankLinesAreNeverExamined) {
  const std::string old =
      "#127.0.0.1 local.qardex.example\r\n"
      "# 10.0.0.1 local.qardex.example\n"
      "    #10.0.0.1 local.qardex.example\n"
      "\r\n"
      "   \r\n"
      "\n";
  const Rewritten r = Rewrite(old);
  EXPECT_FALSE(r.result.entryPresent);
  EXPECT_EQ(r.content, old + kEntry);
}

TEST(HostsRewrite, OnlyAWholeNameBeforeAnyCommentCounts) {
  const std::string old =
      "127.0.0.1 local.qardex.example.corp\r\n"  // a longer name
      "10.0.0.1  local.qardex.example.corp\r\n"  // ... is never commented out
      "10.0.0.2  mylocal.qardex.example\r\n"
      "10.0.0.3  local.qardex.examples\r\n"
      "127.0.0.1 other # local.qardex.example\r\n"  // mention inside a comment
      "10.0.0.4  other #local.qardex.example\r\n";
  const Rewritten r = Rewrite(old);
  EXPECT_FALSE(r.result.entryPresent);
  EXPECT_EQ(r.result.commentedLines, 0u);
  EXPECT_EQ(r.content, old + kEntry);
}

TEST(HostsRewrite, LineEndsAreCarriedAsTheyAre) {
  const std::string old =
      "10.0.0.1  local.qardex.example\r\n"
      "10.0.0.2  local.qardex.example\n"
      "10.0.0.3  local.qardex.example";
  EXPECT_EQ(Rewrite(old).content,
            "#10.0.0.1  local.qardex.example\r\n"
            "#10.0.0.2  local.qardex.example\n"
            "#10.0.0.3  local.qardex.example" +
                kEntry);
}

TEST(HostsRewrite, ShortLinesAreJudgedOnTheirOwnBytes) {
  // A short line after a long mapping: nothing of the earlier line is taken for its own.
  const std::string old = "10.0.0.1  local.qardex.example\nab\n127.0.0.1\n   x\n  ";
  const Rewritten r = Rewrite(old);
  EXPECT_EQ(r.result.commentedLines, 1u);
  EXPECT_EQ(r.content, "#" + old + kEntry);
  // A short host name in a line of exactly ten characters after its start.
  EXPECT_EQ(Rewrite("127.0.0.1 h\n", "h").result.entryPresent, true);
  EXPECT_EQ(Rewrite("127.0.0.1 \n", "h").result.entryPresent, false);
}

TEST(HostsRewrite, LongLinesStayWholeAndAreExaminedWhole) {
  const std::string aliases(289, 'a');
  const std::string quiet = "10.0.0.1 " + aliases + "\r\n";
  const std::string mapping = "10.0.0.2 " + aliases + " local.qardex.example\r\n";
  ASSERT_EQ(quiet.size(), 300u);
  const Rewritten r = Rewrite(quiet + mapping);
  EXPECT_EQ(r.result.commentedLines, 1u);
  EXPECT_EQ(r.content, quiet + "#" + mapping + kEntry);
  EXPECT_TRUE(Rewrite("127.0.0.1 " + aliases + " local.qardex.example").result.entryPresent);
}

TEST(HostsRewrite, TenThousandLinesFitTheReservedMemory) {
  std::string old;
  for (int i = 0; i < 10000; ++i) {
    old += "10.0.0.1  local.qardex.example alias" + std::to_string(i) + (i % 2 ? "\n" : "\r\n");
  }
  std::string content;
  content.reserve(HostsRewriteBound(old.size(), std::string(kHost).size()));
  const std::size_t capacity = content.capacity();
  const HostsRewrite result = RewriteHosts(old, kHost, &content);
  EXPECT_EQ(result.commentedLines, 10000u);
  EXPECT_EQ(content.size(), old.size() + 10000 + kEntry.size());
  EXPECT_EQ(content.capacity(), capacity);  // never grew past the reservation
}

TEST(HostsRewrite, WorstCaseStaysWithinTheBound) {
  // Every line as short as a commented mapping can be, for a one-letter host.
  std::string old;
  for (int i = 0; i < 1000; ++i) old += "1.2.3.4.5 h\n";
  std::string content;
  RewriteHosts(old, "h", &content);
  EXPECT_LE(content.size(), HostsRewriteBound(old.size(), 1));
  EXPECT_EQ(content.size(), old.size() + 1000 + HostsEntryLine("h").size());
}

}  // namespace
}  // namespace qardex::setup
