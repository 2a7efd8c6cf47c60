#include "mbox/mailbox_index.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "mbox/message_key.h"
#include "mbox/message_text.h"
#include "support/temp_folder.h"

namespace drovanta {
namespace {

using testing::TempFolder;

// What a mailbox holds and which messages its index must know.
struct IndexCase {
  const char* what;
  std::string mailbox;
  std::vector<std::string> known;    // header blocks of messages it holds
  std::vector<std::string> unknown;  // header blocks of messages it does not hold
};

const std::string kSeparator = "From ann@example.com Fri Mar 01 17:05:09 2024";

// For records followed by another, which need no body size.
std::optional<std::uint64_t> noBodySize() {
  return std::nullopt;
}

TEST(MailboxIndexTest, KnowsEachRecordByItsHeaderWhateverTheLineEndsAndQuoting) {
  const std::string one = "Message-ID: <1@x>\nDate: Fri, 01 Mar 2024 17:05:09 +0000\n\n";
  const std::string two = "Subject: no id\nFrom: Ann <ann@example.com>\n\n";
  const std::string longLine(3 << 20, 'x');  // longer than the reader's buffer
  const std::vector<IndexCase> cases = {
      {"LF records",
       kSeparator + "\n" + one + "body\n\n" + kSeparator + "\n" + two + "body\n\n",
       {one, two},
       {"Message-ID: <1@x>\nDate: Sat, 02 Mar 2024 17:05:09 +0000\n\n", "Subject: other\n\n"}},
      {"CR LF records with state headers and a folded Message-ID",
       kSeparator + "\r\nStatus: RO\r\nMessage-ID:\r\n <1@x>\r\nDate: Fri, 01 Mar 2024 17:05:09 "
                    "+0000\r\n\r\nbody\r\n\r\n",
       {one},
       {two}},
      {"a From line inside a body that follows no empty line, and a quoted one in a header",
       kSeparator + "\nSubject: a\n>From me\n\nline\nFrom here\n\n" + kSeparator + "\n" + two +
           "x\n\n",
       {"Subject: a\nFrom me\n\n", two},
       {"Subject: a\n\n"}},
      {"a body line longer than the buffer, then a record",
       kSeparator + "\n" + one + longLine + "\n\n" + kSeparator + "\n" + two + "\n",
       {one, two},
       {}},
      {"a header line longer than the buffer",
       kSeparator + "\nX-Long: " + longLine + "\n" + two + "body\n\n",
       {"X-Long: " + longLine + "\n" + two},
       {two}},
  };
  TempFolder temp;
  for (const IndexCase& c : cases) {
    SCOPED_TRACE(c.what);
    // A record after them: the last one is known only with its body size (below).
    Outcome<MailboxIndex> index =
        ReadMailboxIndex(temp.write("Box.mbox", c.mailbox + kSeparator + "\nSubject: z\n\nz\n\n"));
    ASSERT_TRUE(index);
    EXPECT_EQ(index->size(), c.known.size() + 1);
    for (const std::string& header : c.known)
      EXPECT_TRUE(index->takeRecordOf(MessageKeyOf(header, false), noBodySize));
    for (const std::string& header : c.unknown) {
      EXPECT_FALSE(index->takeRecordOf(MessageKeyOf(header, false), noBodySize));
    }
  }
}

// A run killed during its last record leaves it torn: that message is not there yet, even when
// the cut follows an empty line inside the body.
TEST(MailboxIndexTest, KnowsALastRecordOnlyWhenItEndsAsAWholeOneDoes) {
  const std::string one = "Message-ID: <1@x>\n\n";
  const std::string header = "Message-ID: <2@x>\n\n";
  const std::string text = header + "line 1\n\nline 3\n";  // the text as the writer writes it
  const auto crLf = [](std::string lf) {
    for (std::size_t at = 0; (at = lf.find('\n', at)) != std::string::npos; at += 2)
      lf.insert(at, 1, '\r');
    return lf;
  };
  const std::vector<std::pair<std::string, bool>> lasts = {
      // after a whole record
      {text + "\n", true},
      {crLf(text) + "\n", true},           // a CR LF message between LF framing
      {crLf(text + "\n"), true},           // CR LF throughout
      {header + "line 1\n\n", false},      // cut after an empty line of the body
      {text, false},                       // the closing empty line is missing
      {crLf(text) + "\r", false},          // cut inside the closing CR LF
      {text + "\r", false},                // a lone CR after the last line end
      {header, false},                     // cut after the header block
      {"Message-ID: <2@x>\nSubj", false},  // inside it
  };
  BodyByteCounter message;
  message.feed(text);
  TempFolder temp;
  for (const auto& [last, known] : lasts) {
    SCOPED_TRACE(last);
    Outcome<MailboxIndex> index = ReadMailboxIndex(
        temp.write("Box.mbox", kSeparator + "\n" + one + "body\n\n" + kSeparator + "\n" + last));
    ASSERT_TRUE(index);
    EXPECT_TRUE(index->takeRecordOf(MessageKeyOf(one, false), noBodySize));
    EXPECT_EQ(index->takeRecordOf(MessageKeyOf(header, false),
                                  [&] { return std::optional<std::uint64_t>(message.count()); }),
              known);
  }
  // A message without a body: the writer's empty line after the header block, then the closing
  // one. A torn separator line holds no message; the record before it is whole.
  Outcome<MailboxIndex> noBody =
      ReadMailboxIndex(temp.write("Box.mbox", kSeparator + "\n" + header + "\n"));
  EXPECT_TRUE(noBody->takeRecordOf(MessageKeyOf(header, false),
                                   [] { return std::optional<std::uint64_t>(0); }));
  const std::string tornSeparator = kSeparator + "\n" + one + "body\n\nFrom ";
  EXPECT_EQ(ReadMailboxIndex(temp.write("Box.mbox", tornSeparator))->size(), 1U);
}

}  // namespace
}  // namespace drovanta
