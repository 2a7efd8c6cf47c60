#include "mbox/mailbox_index.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "mbox/message_key.h"
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
    const Outcome<MailboxIndex> index = ReadMailboxIndex(temp.write("Box.mbox", c.mailbox));
    ASSERT_TRUE(index);
    EXPECT_EQ(index->size(), c.known.size());
    for (const std::string& header : c.known)
      EXPECT_TRUE(index->contains(MessageKeyOf(header, false)));
    for (const std::string& header : c.unknown) {
      EXPECT_FALSE(index->contains(MessageKeyOf(header, false)));
    }
  }
}

// A run killed during its last record leaves it torn: that message is not there yet.
TEST(MailboxIndexTest, KnowsALastRecordOnlyWhenAnEmptyLineEndsTheFile) {
  const std::string one = "Message-ID: <1@x>\n\n";
  const std::string two = "Message-ID: <2@x>\n";
  const std::string first = kSeparator + "\n" + one + "body\n\n" + kSeparator + "\n";
  const std::vector<std::pair<std::string, bool>> tails = {
      // after `first`, is `two` known
      {two + "\nline 1\nline 2\n\n", true},
      {two + "\r\nline 1\r\n\n", true},     // a CR LF message between LF framing
      {two + "\r\nline 1\r\n\r\n", true},   // CR LF throughout
      {two + "\n\n", true},                 // no body: the closing empty line follows
      {two + "\nline 1\nline 2\n", false},  // the closing empty line is missing
      {two + "\n", false},                  // cut after the header block
      {two + "\nline 1\nli", false},        // cut inside a line
      {two + "\r\nline 1\r\n\r", false},    // cut inside the closing CR LF
      {two + "\nline 1\n\r", false},        // a lone CR after the last line end
      {"Message-ID: <2@", false},           // cut inside the header block
      {two, false},                         // the header block never ends
  };
  TempFolder temp;
  for (const auto& [tail, known] : tails) {
    SCOPED_TRACE(tail);
    const Outcome<MailboxIndex> index = ReadMailboxIndex(temp.write("Box.mbox", first + tail));
    ASSERT_TRUE(index);
    EXPECT_TRUE(index->contains(MessageKeyOf(one, false)));
    EXPECT_EQ(index->contains(MessageKeyOf(two + "\n", false)), known);
  }
  // A torn separator line holds no message; the record before it is whole.
  const Outcome<MailboxIndex> index =
      ReadMailboxIndex(temp.write("Box.mbox", kSeparator + "\n" + one + "body\n\nFrom "));
  ASSERT_TRUE(index);
  EXPECT_EQ(index->size(), 1U);
}

}  // namespace
}  // namespace drovanta
