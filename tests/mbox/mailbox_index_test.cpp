#include "mbox/mailbox_index.h"

#include <gtest/gtest.h>

#include <string>
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
           "x\n",
       {"Subject: a\nFrom me\n\n", two},
       {"Subject: a\n\n"}},
      {"a body line longer than the buffer, then a record",
       kSeparator + "\n" + one + longLine + "\n\n" + kSeparator + "\n" + two,
       {one, two},
       {}},
      {"a header line longer than the buffer",
       kSeparator + "\nX-Long: " + longLine + "\n" + two + "body\n",
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

}  // namespace
}  // namespace drovanta
