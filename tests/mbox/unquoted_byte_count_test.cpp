#include "mbox/unquoted_byte_count.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace drovanta {
namespace {

std::uint64_t countOf(const std::string& bytes, bool byteByByte) {
  UnquotedByteCount count;
  if (!byteByByte) count.feed(bytes);
  for (std::size_t at = 0; byteByByte && at < bytes.size(); ++at) count.feed(bytes.substr(at, 1));
  return count.count();
}

// One body as the line-end modes write it (quoting judged on each one's line ends), and what
// it must count: line ends and the quoting '>' before "From " left out, other '>' kept.
TEST(UnquotedByteCountTest, CountsABodyAlikeWhateverItsLineEndsAndQuoting) {
  const std::vector<std::pair<std::vector<std::string>, std::uint64_t>> cases = {
      {{"a\rFrom x\nb\r>From y\n", "a\n>From x\nb\n>>From y\n",
        "a\r\n>From x\r\nb\r\n>>From y\r\n"},
       14},
      {{">From\n>> quoted\nFrom>\n", "\r\n>From\r\n>> quoted\r\nFrom>\r\n"}, 19},
      {{">>Fro", ">>Fro\r\n"}, 5},
  };
  for (const auto& [bodies, expected] : cases) {
    for (const std::string& body : bodies) {
      SCOPED_TRACE(body);
      EXPECT_EQ(countOf(body, false), expected);
      EXPECT_EQ(countOf(body, true), expected);
    }
  }
}

}  // namespace
}  // namespace drovanta
