#include "conversion/mail_message.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>

#include "support/temp_folder.h"

namespace drovanta {
namespace {

namespace fs = std::filesystem;
using testing::TempFolder;

struct Fields {
  int year, month, day, hour, minute, second;
};

Fields fieldsOf(const UtcDateTime& t) {
  return {t.year, t.month, t.day, t.hour, t.minute, t.second};
}

bool operator==(const Fields& a, const Fields& b) {
  return a.year == b.year && a.month == b.month && a.day == b.day && a.hour == b.hour &&
         a.minute == b.minute && a.second == b.second;
}

std::ostream& operator<<(std::ostream& out, const Fields& f) {
  return out << f.year << "-" << f.month << "-" << f.day << " " << f.hour << ":" << f.minute << ":"
             << f.second;
}

// Sets a file's modification time to the given seconds since the epoch.
void setModified(const std::string& path, std::int64_t seconds) {
  using namespace std::chrono;
  const auto when = file_clock::from_sys(sys_seconds(std::chrono::seconds(seconds)));
  fs::last_write_time(path, when);
}

class MailMessageTest : public ::testing::Test {
 protected:
  // Loads a message written to a file of the given name.
  MailMessage& load(const std::string& name, const std::string& bytes) {
    const std::string path = folder_.write(name, bytes);
    EXPECT_TRUE(message_.LoadFromFile(path)) << message_.loadError();
    return message_;
  }
  std::string senderOf(const std::string& headers) {
    return load("m.eml", headers + "\nbody\n").SenderAddress();
  }
  Fields dateOf(const std::string& date) {
    return fieldsOf(load("m.eml", "From: a@b.c\nDate: " + date + "\n\nbody\n").MessageDate());
  }

  TempFolder folder_;
  MailMessage message_;
};

TEST_F(MailMessageTest, SenderFromAwkwardFromHeaders) {
  EXPECT_EQ(senderOf("From: Ann Example <ann@example.com>\n"), "ann@example.com");
  EXPECT_EQ(senderOf("From: \"Long,\n Name\" <folded@\n example.com>\n"), "folded@example.com");
  EXPECT_EQ(senderOf("From: =?utf-8?Q?J=C3=BCrgen_M=C3=BCller?= <jm@example.de>\n"),
            "jm@example.de");
  EXPECT_EQ(senderOf("From: plain@example.org (Comment)\n"), "plain@example.org");
  EXPECT_EQ(senderOf("From: Team: first@example.com, second@example.com;\n"), "first@example.com");
  EXPECT_EQ(senderOf("From: one@example.com, two@example.com\nSender: s@example.com\n"),
            "one@example.com");
  // Raw UTF-8 addresses come out as the same UTF-8 bytes.
  EXPECT_EQ(senderOf("From: J\xC3\xBCrgen <j\xC3\xBCrgen@b\xC3\xBC"
                     "cher.de>\n"),
            "j\xC3\xBCrgen@b\xC3\xBC"
            "cher.de");
}

TEST_F(MailMessageTest, SenderFallsThroughToSenderThenReturnPath) {
  EXPECT_EQ(senderOf("Sender: list@example.com\n"), "list@example.com");
  EXPECT_EQ(senderOf("From: undisclosed-recipients:;\nSender: list@example.com\n"),
            "list@example.com");
  EXPECT_EQ(senderOf("From: <john smith@example.com>\nSender: list@example.com\n"),
            "list@example.com");
  EXPECT_EQ(senderOf("From: \"x\" <a\xC2\xA0"
                     "b@example.com>\nReturn-Path: <bounce@example.com>\n"),
            "bounce@example.com");
  EXPECT_EQ(senderOf("Return-Path: <bounce@example.com>\n"), "bounce@example.com");
  EXPECT_EQ(senderOf("Return-Path:   bare@example.com  \n"), "bare@example.com");
  EXPECT_EQ(senderOf("From: <>\nSender: Name Only\n  Folded\nReturn-Path: <a b@c.d>\n"),
            "MAILER-DAEMON");
  EXPECT_EQ(senderOf("Return-Path: <>\n"), "MAILER-DAEMON");
  EXPECT_EQ(senderOf("Subject: nobody sent this\n"), "MAILER-DAEMON");
}

TEST_F(MailMessageTest, OnlyTheHeaderBlockIsRead) {
  // A From line in the body is not a header.
  EXPECT_EQ(load("m.eml", "Subject: x\n\nFrom: body@example.com\n").SenderAddress(),
            "MAILER-DAEMON");
  EXPECT_EQ(load("m.eml", "Subject: x\r\n\r\nFrom: body@example.com\r\n").SenderAddress(),
            "MAILER-DAEMON");
  // A header block longer than the first read still yields its last header.
  std::string long_headers;
  for (int i = 0; i < 3000; ++i)
    long_headers += "Received: from relay" + std::to_string(i) + ".example.net by mx.example.com\n";
  ASSERT_GT(long_headers.size(), 150000u);
  EXPECT_EQ(load("m.eml", long_headers + "From: late@example.com\n\nbody\n").SenderAddress(),
            "late@example.com");
  // A message without a body is all header block.
  EXPECT_EQ(load("m.eml", "From: nobody@example.com").SenderAddress(), "nobody@example.com");
}

TEST_F(MailMessageTest, EmlxCountLineIsSkipped) {
  const std::string message =
      "From: counted@example.com\nDate: Fri, 1 Mar 2024 17:05:09 +0000\n\nx\n";
  const std::string bytes = std::to_string(message.size()) + "      \n" + message;
  EXPECT_EQ(load("1.emlx", bytes).SenderAddress(), "counted@example.com");
  EXPECT_EQ(load("2.EMLX ", bytes).SenderAddress(), "counted@example.com");
  EXPECT_EQ(fieldsOf(load("3.emlx", bytes).MessageDate()), (Fields{2024, 3, 1, 17, 5, 9}));
}

TEST_F(MailMessageTest, DatesConvertedToUtc) {
  EXPECT_EQ(dateOf("Fri, 01 Mar 2024 17:05:09 +0100"), (Fields{2024, 3, 1, 16, 5, 9}));
  EXPECT_EQ(dateOf("Sun, 31 Dec 2023 23:30:00 -0130"), (Fields{2024, 1, 1, 1, 0, 0}));
  EXPECT_EQ(dateOf("Wed, 24 May 2017 17:28:19 +0900 (JST)"), (Fields{2017, 5, 24, 8, 28, 19}));
  EXPECT_EQ(dateOf("1 Mar 2024 17:05 +0200"), (Fields{2024, 3, 1, 15, 5, 0}));
  EXPECT_EQ(dateOf("Fri Mar  1 17:05:09 2024"), (Fields{2024, 3, 1, 17, 5, 9}));
  EXPECT_EQ(load("m.eml", "Date: Thu, 29 Feb 2024 23:59:59 -0000\n\n").MessageDate().weekday, 4);
}

TEST_F(MailMessageTest, ZonesNamedMissingOrUnknown) {
  EXPECT_EQ(dateOf("Fri, 01 Mar 2024 17:05:09 EST"), (Fields{2024, 3, 1, 22, 5, 9}));
  EXPECT_EQ(dateOf("Fri, 01 Mar 2024 17:05:09 PDT"), (Fields{2024, 3, 2, 0, 5, 9}));
  EXPECT_EQ(dateOf("Fri, 01 Mar 2024 17:05:09 GMT"), (Fields{2024, 3, 1, 17, 5, 9}));
  EXPECT_EQ(dateOf("Fri, 01 Mar 2024 17:05:09"), (Fields{2024, 3, 1, 17, 5, 9}));
  EXPECT_EQ(dateOf("Fri, 01 Mar 2024 17:05:09 XYZ"), (Fields{2024, 3, 1, 17, 5, 9}));
}

TEST_F(MailMessageTest, ObsoleteYearsReadAsRfc5322Says) {
  EXPECT_EQ(dateOf("Fri, 1 Mar 24 17:05:09 +0000"), (Fields{2024, 3, 1, 17, 5, 9}));
  EXPECT_EQ(dateOf("1 Mar 49 12:00:00 +0000"), (Fields{2049, 3, 1, 12, 0, 0}));
  EXPECT_EQ(dateOf("1 Mar 50 12:00:00 +0000"), (Fields{1950, 3, 1, 12, 0, 0}));
  EXPECT_EQ(dateOf("Sat, 1 Mar 69 12:00:00 +0000"), (Fields{1969, 3, 1, 12, 0, 0}));
  EXPECT_EQ(dateOf("1 Mar 99 12:00:00 +0000"), (Fields{1999, 3, 1, 12, 0, 0}));
  EXPECT_EQ(dateOf("1 Mar 00 12:00:00 +0000"), (Fields{2000, 3, 1, 12, 0, 0}));
  EXPECT_EQ(dateOf("1 Mar 105 12:00:00 +0000"), (Fields{2005, 3, 1, 12, 0, 0}));
  EXPECT_EQ(dateOf("29 Feb 52 12:00:00 +0000"), (Fields{1952, 2, 29, 12, 0, 0}));
  EXPECT_EQ(dateOf("15 Jun 0099 12:00:00 +0000"), (Fields{99, 6, 15, 12, 0, 0}));
  // Four-digit years before 1969 are ordinary dates too.
  EXPECT_EQ(dateOf("Sat, 01 Mar 1952 12:00:00 +0000"), (Fields{1952, 3, 1, 12, 0, 0}));
  EXPECT_EQ(dateOf("Mon, 01 Jan 1900 00:00:00 +0000"), (Fields{1900, 1, 1, 0, 0, 0}));
}

TEST_F(MailMessageTest, UnreadableDateFallsBackToPropertyListThenModificationTime) {
  const std::string plist =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n<dict>\n"
      "\t<key>date-last-viewed</key>\n\t<real>0.0</real>\n"
      "\t<key>date-received</key>\n\t<real>1565148386.0</real>\n</dict>\n</plist>\n";
  const std::string message = "From: a@b.c\nDate: Tue, 35 Aug 2007 10:56:21 +0900\n\nbody\n";
  const std::string emlx = std::to_string(message.size()) + "\n" + message + plist;
  const Fields received{2019, 8, 7, 3, 26, 26};
  EXPECT_EQ(fieldsOf(load("r.emlx", emlx).MessageDate()), received);
  // The same message with an overshooting count: the list lies inside the counted range.
  EXPECT_EQ(fieldsOf(load("o.emlx", "99999\n" + message + plist).MessageDate()), received);
  // A large body: the list is found by reading the end of the file only.
  const std::string big = message + std::string(300000, 'x') + "\n";
  EXPECT_EQ(fieldsOf(load("b.emlx", std::to_string(big.size()) + "\n" + big + plist).MessageDate()),
            received);

  // date-received unknown (0): date-sent, stored as an integer.
  const std::string sentOnly =
      "<?xml version=\"1.0\"?>\n<plist><dict><key>date-received</key><integer>0</integer>"
      "<key>date-sent</key><integer>1516985072</integer></dict></plist>";
  EXPECT_EQ(fieldsOf(load("s.emlx", "5000\n" + message + sentOnly).MessageDate()),
            (Fields{2018, 1, 26, 16, 44, 32}));

  // No list, or not an .emlx file: the modification time.
  for (const auto& [name, bytes] : {std::pair{std::string("n.emlx"), "900\n" + message},
                                    std::pair{std::string("p.eml"), message + plist}}) {
    SCOPED_TRACE(name);
    const std::string path = folder_.write(name, bytes);
    setModified(path, 1709312709);
    ASSERT_TRUE(message_.LoadFromFile(path));
    EXPECT_EQ(fieldsOf(message_.MessageDate()), (Fields{2024, 3, 1, 17, 5, 9}));
  }
}

TEST_F(MailMessageTest, DatesOutsideYearsOneToNineThousandCountAsMissing) {
  for (const std::string date : {"01 Jan 0001 00:30:00 +0100", "31 Dec 9999 23:30:00 -0100",
                                 "1 Jan 10000 00:00:00 +0000", "garbage", ""}) {
    SCOPED_TRACE(date);
    const std::string path = folder_.write("m.eml", "Date: " + date + "\n\n");
    setModified(path, 86400);
    ASSERT_TRUE(message_.LoadFromFile(path));
    EXPECT_EQ(fieldsOf(message_.MessageDate()), (Fields{1970, 1, 2, 0, 0, 0}));
  }
  EXPECT_EQ(dateOf("01 Jan 0001 01:30:00 +0100"), (Fields{1, 1, 1, 0, 30, 0}));
  EXPECT_EQ(dateOf("31 Dec 9999 23:30:00 +0100"), (Fields{9999, 12, 31, 22, 30, 0}));
}

TEST_F(MailMessageTest, FilesThatCannotBeReadFailWithAReason) {
  MailMessage message;
  EXPECT_FALSE(message.LoadFromFile((folder_.path() / "absent.emlx").string()));
  EXPECT_EQ(message.loadError(), "No such file or directory");
  fs::create_directories(folder_.path() / "folder.emlx");
  EXPECT_FALSE(message.LoadFromFile((folder_.path() / "folder.emlx").string()));
  EXPECT_EQ(message.loadError(), "Is a directory");
  const std::string file = folder_.write("plain", "x");
  EXPECT_FALSE(message.LoadFromFile(file + "/under.emlx"));
  EXPECT_EQ(message.loadError(), "Not a directory");
  // A failed load leaves nothing of the previous message behind.
  EXPECT_EQ(message.SenderAddress(), "MAILER-DAEMON");
}

TEST_F(MailMessageTest, EmptyFileHasFallbacksOnly) {
  const std::string path = folder_.write("empty.emlx", "");
  setModified(path, 0);
  ASSERT_TRUE(message_.LoadFromFile(path));
  EXPECT_EQ(message_.SenderAddress(), "MAILER-DAEMON");
  EXPECT_EQ(fieldsOf(message_.MessageDate()), (Fields{1970, 1, 1, 0, 0, 0}));
}

TEST(MailMessageCorpus, RealAppleMailFiles) {
  const fs::path root = DROVANTA_CORPUS_DIR;
  if (!fs::is_directory(root)) GTEST_SKIP() << "no corpus at " << root;
  const fs::path messages = root / "partial-emlx-converter/test/__testdata/input/Messages";
  MailMessage message;
  ASSERT_TRUE(message.LoadFromFile((messages / "114862.emlx").string()));
  EXPECT_EQ(message.SenderAddress(), "philipp@philippkatz.de");
  EXPECT_EQ(fieldsOf(message.MessageDate()), (Fields{2018, 1, 26, 16, 44, 31}));

  // Encoded-word display name; count larger than the file.
  ASSERT_TRUE(message.LoadFromFile((messages / "207046.partial.emlx").string()));
  EXPECT_EQ(message.SenderAddress(), "sender@example.com");

  // No count line at all: the file is read from its first byte.
  ASSERT_TRUE(message.LoadFromFile((root / "terhechte-emlx/tests/emails/broken2.emlx").string()));
  EXPECT_EQ(message.SenderAddress(), "michael@example.com");
  EXPECT_EQ(fieldsOf(message.MessageDate()), (Fields{2020, 2, 6, 13, 39, 55}));
}

}  // namespace
}  // namespace drovanta
