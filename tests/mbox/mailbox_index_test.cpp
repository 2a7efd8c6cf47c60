#include "mbox/mailbox_index.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "mbox/message_key.h"
#include "mbox/record_byte_count.h"
#include "support/temp_folder.h"

namespace drovanta {
namespace {

using testing::TempFolder;

const std::string kSeparator = "From ann@example.com Fri Mar 01 17:05:09 2024\n";

// Three record texts as the writer writes them (LF mode, quoted): one with a body that has empty
// lines and a quoted From line, one without a Message-ID, one without a body.
const std::string kA =
    "Message-ID: <a@x>\nDate: Fri, 01 Mar 2024 17:05:09 +0000\nSubject: a\n\nline 1\n\n"
    ">From here\nline 4\n";
const std::string kB = "Subject: no id\nFrom: Ann <ann@example.com>\n\nbody b\n";
const std::string kC = "Message-ID: <c@x>\nDate: Fri, 01 Mar 2024 17:05:09 +0000\nSubject: c\n\n";

std::string record(const std::string& text) {
  return kSeparator + text + "\n";
}

// A record cut `keep` bytes into its text by a killed run, and the line ends the next writer
// puts after it.
std::string torn(const std::string& text, std::size_t keep) {
  const std::string piece = kSeparator + text.substr(0, keep);
  return piece + (piece.ends_with("\n\n") ? "" : piece.ends_with("\n") ? "\n" : "\n\n");
}

std::string crLf(std::string lf) {
  for (std::size_t at = 0; (at = lf.find('\n', at)) != std::string::npos; at += 2) {
    lf.insert(at, 1, '\r');
  }
  return lf;
}

// How many copies of each of A, B, C the mailbox holds whole, as a run takes them.
std::vector<int> copiesHeld(const std::string& mailbox) {
  TempFolder temp;
  Outcome<MailboxIndex> index = ReadMailboxIndex(temp.write("Box.mbox", mailbox));
  EXPECT_TRUE(index);
  std::vector<int> copies;
  for (const std::string& text : {kA, kB, kC}) {
    RecordByteCount count;
    count.feed(text);
    const MessageKey key = MessageKeyOf(text.substr(0, text.find("\n\n") + 2), false);
    int held = 0;
    while (held < 5 && index->takeCopyOf(key, [&] { return std::optional(count.count()); })) {
      ++held;
    }
    copies.push_back(held);
  }
  return copies;
}

// A run killed during a record leaves it torn; a rerun writes the message again after it, and
// may be killed too. A record counts as a copy only when it holds its message whole, wherever it
// stands: first, in the middle or last, whatever follows it.
TEST(MailboxIndexTest, ARecordCountsAsACopyOnlyWhenItHoldsItsMessageWhole) {
  const std::size_t inBody = kA.find("line 1\n\n") + 8;  // just after an empty line of the body
  const std::size_t inHeader = kC.find("Subject");       // Message-ID and Date already there
  struct Case {
    const char* what;
    std::string mailbox;
    std::vector<int> copies;  // of A, B, C
  };
  const std::vector<Case> cases = {
      {"whole records", record(kA) + record(kB) + record(kC), {1, 1, 1}},
      {"the same with CR LF line ends and state headers",
       crLf(kSeparator + "Status: RO\n" + kA + "\n") + crLf(record(kB)) +
           crLf(kSeparator + "X-Mozilla-Status: 0001\n" + kC + "\n"),
       {1, 1, 1}},
      {"two copies of one message", record(kA) + record(kB) + record(kA), {2, 1, 0}},
      {"last torn after an empty line of the body", record(kB) + torn(kA, inBody), {0, 1, 0}},
      {"last torn inside its header block", record(kA) + torn(kC, inHeader), {1, 0, 0}},
      {"last without its closing empty line: every message byte is there",
       record(kA) + kSeparator + kB,
       {1, 1, 0}},
      {"first torn, written again after the others",
       torn(kA, inBody) + record(kB) + record(kC) + record(kA),
       {1, 1, 1}},
      {"middle torn, then written again", record(kB) + torn(kC, inHeader) + record(kC), {0, 1, 1}},
      {"two kills: two pieces and no whole copy",
       record(kB) + torn(kA, inBody) + torn(kA, inBody + 5) + record(kC),
       {0, 1, 1}},
      {"two kills, then a whole copy", torn(kA, 30) + torn(kA, inBody) + record(kA), {1, 0, 0}},
      {"a separator line torn before its line end holds nothing",
       record(kA) + kSeparator.substr(0, 20),
       {1, 0, 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(copiesHeld(c.mailbox), c.copies);
  }
}

// Under the lock, reading on takes in what other writers appended since (here completing a torn
// separator line), but not the caller's own record: two copies of one message in a run both go
// in.
TEST(MailboxIndexTest, ReadingOnTakesInOtherWritersRecordsButNotTheCallersOwn) {
  TempFolder temp;
  const std::string path = temp.write("Box.mbox", record(kB) + kSeparator.substr(0, 9));
  const int fd = ::open(path.c_str(), O_RDWR | O_APPEND);
  ASSERT_GE(fd, 0);
  const auto append = [&](const std::string& bytes) {
    ASSERT_EQ(::write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  };
  MailboxIndex index;
  ASSERT_FALSE(index.readOn(fd, path));
  EXPECT_EQ(index.size(), 1U);
  append(kSeparator.substr(9) + kA + "\n");  // theirs
  ASSERT_FALSE(index.readOn(fd, path));
  EXPECT_EQ(index.size(), 2U);
  const auto ours = static_cast<std::uint64_t>(::lseek(fd, 0, SEEK_END));
  append(record(kA));
  index.passOver(ours, ours + record(kA).size());
  ASSERT_FALSE(index.readOn(fd, path));
  ::close(fd);
  RecordByteCount count;
  count.feed(kA);
  const MessageKey key = MessageKeyOf(kA.substr(0, kA.find("\n\n") + 2), false);
  const auto bytes = [&] { return std::optional(count.count()); };
  EXPECT_TRUE(index.takeCopyOf(key, bytes));
  EXPECT_FALSE(index.takeCopyOf(key, bytes));
}

}  // namespace
}  // namespace drovanta
