#include "mbox/flag_headers.h"

#include <gtest/gtest.h>

#include <string>

#include "emlx/apple_flags.h"

namespace drovanta {
namespace {

struct Expected {
  std::uint64_t flags;
  const char* status;
  const char* xStatus;
  const char* mozilla;
};

// Every flags value found in the real corpus, plus single bits around the ones readers show.
TEST(AppleFlagsTest, CorpusValuesAndSingleBitsDecode) {
  const Expected cases[] = {
      {8623750272ULL, "O", "", "0000"},     // bits 7, 10-17, 25, 33: nothing a reader shows
      {8623689857ULL, "RO", "", "0001"},    // read
      {8623489089ULL, "RO", "T", "0001"},   // read + draft
      {25803555841ULL, "RO", "", "0001"},   // read, bit 34 set
      {25803555845ULL, "RO", "A", "0003"},  // read + answered
      {1ULL << 1, "O", "D", "0000"},        // deleted
      {1ULL << 3, "O", "", "0000"},         // encrypted: not shown
      {1ULL << 4, "O", "F", "0004"},        // flagged
      {1ULL << 5, "O", "", "0000"},
      {1ULL << 8, "O", "", "1000"},                                   // forwarded
      {1ULL << 9, "O", "", "2000"},                                   // redirected
      {(1ULL << 32) | (1ULL << 36) | (1ULL << 63), "O", "", "0000"},  // only high bits
      {0x357ULL, "RO", "AFTD", "3007"},                               // all seven
  };
  for (const auto& c : cases) {
    const MessageState state = DecodeAppleFlags(c.flags);
    EXPECT_EQ(StatusValue(state), c.status) << c.flags;
    EXPECT_EQ(XStatusValue(state), c.xStatus) << c.flags;
    EXPECT_EQ(MozillaStatusValue(state), c.mozilla) << c.flags;
  }
}

TEST(AppleFlagsTest, HeaderLinesLeaveOutAnEmptyXStatus) {
  EXPECT_EQ(FlagHeaderLines(DecodeAppleFlags(8623750272ULL), "\r\n"),
            "Status: O\r\nX-Mozilla-Status: 0000\r\n");
  EXPECT_EQ(FlagHeaderLines(DecodeAppleFlags(0x357ULL), "\n"),
            "Status: RO\nX-Status: AFTD\nX-Mozilla-Status: 3007\n");
}

TEST(AppleFlagsTest, RemovalTakesOurHeadersAndTheirFoldsOnly) {
  const std::string message =
      "Return-Path: <a@b>\n"
      "STATUS : RO\n"
      "X-Mozilla-Status: 0001\n"
      "X-Mozilla-Status2: 00000000\n"
      "x-status: A\n"
      " F\n"
      "\tT\n"
      "X-Statuses: kept\n"
      "Subject: Status: not a header name\n"
      "\n"
      "Status: RO\n"
      "X-Status: A\n";
  const auto kept = WithoutFlagHeaders(message);
  ASSERT_TRUE(kept);
  EXPECT_EQ(*kept,
            "Return-Path: <a@b>\n"
            "X-Mozilla-Status2: 00000000\n"
            "X-Statuses: kept\n"
            "Subject: Status: not a header name\n"
            "\n"
            "Status: RO\n"
            "X-Status: A\n");
}

TEST(AppleFlagsTest, NothingToRemoveGivesNoCopyAndTheEndNeedsNoLineEnd) {
  EXPECT_FALSE(WithoutFlagHeaders(""));
  EXPECT_FALSE(WithoutFlagHeaders("Subject: x\n\nStatus: RO\n"));
  EXPECT_FALSE(WithoutFlagHeaders("\nStatus: RO\n"));  // empty header block
  // A last header without any line end goes too.
  EXPECT_EQ(WithoutFlagHeaders("A: 1\nStatus: RO").value_or("none"), "A: 1\n");
}

}  // namespace
}  // namespace drovanta
