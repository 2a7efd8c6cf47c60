// MailMessage finds From, Sender, Return-Path and Date in the header block itself and hands
// GMime only their values. These cases pin the readings of GMime's own message parser that the
// field scan and its shortcuts for the common forms must keep.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>

#include "conversion/file_bytes.h"
#include "conversion/mail_message.h"
#include "support/temp_folder.h"

namespace drovanta {
namespace {

namespace fs = std::filesystem;
using testing::TempFolder;

// Every file here is dated 1970-01-02 00:00:00, so a message without a usable Date shows it.
constexpr std::int64_t kModified = 86400;

struct Reading {
  std::string sender;
  std::string date;  // "YYYY-MM-DD hh:mm:ss"
};

class MailMessageFieldsTest : public ::testing::Test {
 protected:
  Reading read(const std::string& bytes) {
    const std::string path = folder_.write("m.eml", bytes);
    using namespace std::chrono;
    fs::last_write_time(path, file_clock::from_sys(sys_seconds(seconds(kModified))));
    MailMessage message;
    EXPECT_TRUE(message.LoadFromFile(path)) << message.loadError();
    const UtcDateTime d = message.MessageDate();
    char date[32];
    std::snprintf(date, sizeof date, "%04d-%02d-%02d %02d:%02d:%02d", d.year, d.month, d.day,
                  d.hour, d.minute, d.second);
    return {message.SenderAddress(), date};
  }
  std::string senderOf(const std::string& bytes) { return read(bytes).sender; }
  std::string dateOf(const std::string& value) {
    return read("From: a@example.com\nDate: " + value + "\n\nbody\n").date;
  }

  TempFolder folder_;
};

const std::string kNoDate = "1970-01-02 00:00:00";

TEST_F(MailMessageFieldsTest, FieldsSplitAsAMessageParserSplitsThem) {
  // Every From field adds to one address list; the first mailbox in it counts.
  EXPECT_EQ(senderOf("From: undisclosed-recipients:;\nFrom: second@example.com\n\n"),
            "second@example.com");
  EXPECT_EQ(senderOf("Sender: first@example.com\nSender: second@example.com\n\n"),
            "first@example.com");
  // Of other fields the first one counts.
  EXPECT_EQ(senderOf("Return-Path: <first@example.com>\nReturn-Path: <second@example.com>\n\n"),
            "first@example.com");
  EXPECT_EQ(read("Date: Fri, 01 Mar 2024 17:05:09 +0000\nDate: Sat, 02 Mar 2024 17:05:09 +0000\n"
                 "\n")
                .date,
            "2024-03-01 17:05:09");
  // Names are matched without regard to case, and blanks may stand before the colon.
  EXPECT_EQ(senderOf("fROM : spaced@example.com\n\n"), "spaced@example.com");
  // An mbox From line (quoted or not) before the first field is passed over.
  EXPECT_EQ(senderOf("From someone@else Mon Jan  1 00:00:00 2024\nFrom: real@example.com\n\n"),
            "real@example.com");
  EXPECT_EQ(senderOf(">From someone@else Mon Jan  1 00:00:00 2024\nFrom: real@example.com\n\n"),
            "real@example.com");
  // Any other first line that is not a field means there is no header block at all.
  EXPECT_EQ(senderOf("Not a header line\nFrom: a@example.com\n\n"), "MAILER-DAEMON");
  EXPECT_EQ(senderOf(": no name\nFrom: a@example.com\n\n"), "MAILER-DAEMON");
  // Later, a line that is not a field is dropped with its folded lines.
  EXPECT_EQ(
      senderOf("Subject: x\nbad line\n From: hidden@example.com\nFrom: shown@example.com\n\n"),
      "shown@example.com");
  // A file that ends inside a field name is no message; inside a value, it is.
  EXPECT_EQ(senderOf("From: a@example.com\nSubject"), "MAILER-DAEMON");
  EXPECT_EQ(senderOf("From: a@example.com\nSubject: x"), "a@example.com");
  // A value ends at a NUL byte.
  EXPECT_EQ(senderOf(std::string("From: x@example.com\0y@example.com\n\n", 35)), "x@example.com");
}

TEST_F(MailMessageFieldsTest, AddressesReadAsGMimeReadsThem) {
  EXPECT_EQ(senderOf("From: At.Their29 <at.their29@example.com>\n\n"), "at.their29@example.com");
  EXPECT_EQ(senderOf("From: Ann\n <ann@example.com>\n\n"), "ann@example.com");
  EXPECT_EQ(senderOf("From: \"Ann\" <ann@example.com>\n\n"), "ann@example.com");
  // Punycode domains come back decoded, as UTF-8.
  EXPECT_EQ(senderOf("From: Name <a@xn--bcher-kva.de>\n\n"),
            "a@b\xC3\xBC"
            "cher.de");
  // The address read before an unclosed comment still counts.
  EXPECT_EQ(senderOf("From: Ann <ann@example.com> (unclosed comment\n\n"), "ann@example.com");
  // A display name GMime cannot read gives no address.
  EXPECT_EQ(senderOf("From: .i a <x@example.com>\n\n"), "MAILER-DAEMON");
  // Latin-1 bytes: a From address is read raw (and has none); Return-Path is decoded to UTF-8.
  EXPECT_EQ(senderOf("From: \xE9t\xE9@latin.fr\n\n"), "MAILER-DAEMON");
  EXPECT_EQ(senderOf("Return-Path: <\xE9t\xE9@latin.fr>\n\n"), "\xC3\xA9t\xC3\xA9@latin.fr");
}

TEST_F(MailMessageFieldsTest, DatesReadAsGMimeReadsThem) {
  EXPECT_EQ(dateOf("Thu, 29 Feb 2024 10:00:00 -0000"), "2024-02-29 10:00:00");
  EXPECT_EQ(dateOf("5 Mar 2024 23:30:00 -0930"), "2024-03-06 09:00:00");
  EXPECT_EQ(dateOf("Fri, 01 Mar 2024 17:05:09 +0000 (UTC)"), "2024-03-01 17:05:09");
  EXPECT_EQ(dateOf("Fri, 01 Mar 2024\n 17:05:09 +0100"), "2024-03-01 16:05:09");
  EXPECT_EQ(dateOf("=?us-ascii?q?Fri=2C_01_Mar_2024_17=3A05=3A09_+0100?="), "2024-03-01 16:05:09");
  EXPECT_EQ(dateOf("Mon, 01 Mar 0500 10:00:00 +0000"), "0500-03-01 10:00:00");
  // An impossible zone is ignored; an impossible day or second makes the date unusable.
  EXPECT_EQ(dateOf("Fri, 01 Mar 2024 17:05:09 +2400"), "2024-03-01 17:05:09");
  EXPECT_EQ(dateOf("Wed, 29 Feb 2023 10:00:00 +0000"), kNoDate);
  EXPECT_EQ(dateOf("Wed, 31 Apr 2024 10:00:00 +0000"), kNoDate);
  EXPECT_EQ(dateOf("Fri, 01 Mar 2024 17:05:60 +0000"), kNoDate);
}

// The run reads each file whole once and hands the same bytes to the text; the sender and date
// must come out as when only the header block and the end of the file are read.
TEST_F(MailMessageFieldsTest, WholeFileReadGivesTheSameReading) {
  const std::string plist =
      "<?xml version=\"1.0\"?>\n<plist version=\"1.0\"><dict><key>date-received</key>"
      "<integer>1565148386</integer></dict></plist>\n";
  std::string longHeaders;
  for (int i = 0; i < 3000; ++i) longHeaders += "Received: from relay" + std::to_string(i) + "\n";
  const std::string body = std::string(300000, 'x') + "\n";
  const struct {
    const char* name;
    std::string bytes;
    Reading expected;
  } cases[] = {
      {"late-from.eml",
       longHeaders + "From: late@example.com\n\nbody\n",
       {"late@example.com", kNoDate}},
      {"tail.emlx", "12\nFrom: a@b.c\n" + body + plist, {"a@b.c", "2019-08-07 03:26:26"}},
      {"big.emlx",
       std::to_string(15 + body.size()) + "\nFrom: a@b.c\n\n" + body + plist,
       {"a@b.c", "2019-08-07 03:26:26"}},
      {"overshoot.emlx", "99999\nFrom: a@b.c\n\nx\n" + plist, {"a@b.c", "2019-08-07 03:26:26"}},
      {"headers-only.eml", "From: a@b.c\nSubject: no body", {"a@b.c", kNoDate}},
  };
  FileBytes file;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = folder_.write(c.name, c.bytes);
    using namespace std::chrono;
    fs::last_write_time(path, file_clock::from_sys(sys_seconds(seconds(kModified))));
    for (const bool whole : {false, true}) {
      MailMessage message;
      ASSERT_TRUE(whole ? message.LoadFromFile(path, file) : message.LoadFromFile(path));
      const UtcDateTime d = message.MessageDate();
      char date[32];
      std::snprintf(date, sizeof date, "%04d-%02d-%02d %02d:%02d:%02d", d.year, d.month, d.day,
                    d.hour, d.minute, d.second);
      EXPECT_EQ(message.SenderAddress(), c.expected.sender) << whole;
      EXPECT_EQ(date, c.expected.date) << whole;
    }
    EXPECT_EQ(file.bytes(), c.bytes);
  }
  // A file that cannot be read fails the same way.
  MailMessage message;
  EXPECT_FALSE(message.LoadFromFile(folder_.path().string(), file));
  EXPECT_EQ(message.loadError(), "Is a directory");
}

}  // namespace
}  // namespace drovanta
