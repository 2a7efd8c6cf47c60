#include <gtest/gtest.h>

#include <string>

#include "message/message_file.h"
#include "support/emlx_bytes.h"
#include "support/mail_message_fixture.h"

namespace drovanta {

namespace {

using namespace drovanta::testing;

TEST_F(MailMessageTest, EmlxCountLineIsSkipped) {
  const std::string message =
      "From: counted@example.com\nDate: Fri, 1 Mar 2024 17:05:09 +0000\n\nx\n";
  const std::string bytes = std::to_string(message.size()) + "      \n" + message;
  EXPECT_EQ(load("1.emlx", bytes).SenderAddress(), "counted@example.com");
  EXPECT_EQ(load("2.EMLX ", bytes).SenderAddress(), "counted@example.com");
  EXPECT_EQ(fieldsOf(load("3.emlx", bytes).MessageDate()), (Fields{2024, 3, 1, 17, 5, 9}));
}

TEST_F(MailMessageTest, UnreadableDateFallsBackToPropertyListThenModificationTime) {
  const std::string plist =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n<dict>\n"
      "\t<key>date-last-viewed</key>\n\t<real>0.0</real>\n"
      "\t<key>date-received</key>\n\t<real>1565148386.0</real>\n</dict>\n</plist>\n";
  const std::string message = "From: a@b.c\nDate: Tue, 35 Aug 2007 10:56:21 +0900\n\nbody\n";
  const std::string emlx = testing::EmlxBytes(message) + plist;
  const Fields received{2019, 8, 7, 3, 26, 26};
  EXPECT_EQ(fieldsOf(load("r.emlx", emlx).MessageDate()), received);
  // Dates outside the standard's forms are as unreadable as an impossible day.
  for (const char* date : {"Tue, 7 Aug 2007 10:56:21 -600", "Tue, 7 Aug 2007 06:09:22 PM EDT"}) {
    SCOPED_TRACE(date);
    const std::string other = "From: a@b.c\nDate: " + std::string(date) + "\n\nbody\n";
    EXPECT_EQ(fieldsOf(load("d.emlx", testing::EmlxBytes(other) + plist).MessageDate()), received);
  }
  // The same message with an overshooting count: the list lies inside the counted range.
  EXPECT_EQ(fieldsOf(load("o.emlx", "99999\n" + message + plist).MessageDate()), received);
  // A large body: the list is found by reading the end of the file only.
  const std::string big = message + std::string(300000, 'x') + "\n";
  EXPECT_EQ(fieldsOf(load("b.emlx", testing::EmlxBytes(big) + plist).MessageDate()), received);

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

// The list follows the counted message directly when the message has no final line end; it is
// found there whether the header block ends within the first megabyte or not.
TEST_F(MailMessageTest, PropertyListRightAfterAMessageWithoutFinalLineEnd) {
  const std::string plist =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n<dict>\n"
      "\t<key>date-received</key>\n\t<integer>1262304000</integer>\n</dict>\n</plist>\n";
  for (const std::size_t size : {200u, 5000u, 300000u}) {
    SCOPED_TRACE(size);
    std::string message = "From: a@example.com\nSubject: no final line end\n\n";
    message += std::string(size - message.size(), 'x');
    const std::string path = folder_.write("n.emlx", testing::EmlxBytes(message) + plist);
    setModified(path, 978307200);  // 2001-01-01, the file time a lost list would give
    MailMessage reader;
    ASSERT_TRUE(reader.LoadFromFile(path));
    EXPECT_EQ(fieldsOf(reader.MessageDate()), (Fields{2010, 1, 1, 0, 0, 0}));
  }
}

// The sender and date come from the header block as far as the first megabyte and from the end
// of the file, wherever the count line says the message ends.
TEST_F(MailMessageFieldsTest, LongHeadersLargeBodiesAndWrongCounts) {
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
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = folder_.write(c.name, c.bytes);
    using namespace std::chrono;
    fs::last_write_time(path, file_clock::from_sys(sys_seconds(seconds(kModified))));
    MailMessage message;
    ASSERT_TRUE(message.LoadFromFile(path));
    const UtcDateTime d = message.MessageDate();
    char date[32];
    std::snprintf(date, sizeof date, "%04d-%02d-%02d %02d:%02d:%02d", d.year, d.month, d.day,
                  d.hour, d.minute, d.second);
    EXPECT_EQ(message.SenderAddress(), c.expected.sender);
    EXPECT_EQ(date, c.expected.date);
  }
  // A file that cannot be read fails the same way.
  MessageFile folder;
  const MaybeFailure failure = folder.open(folder_.path().string());
  ASSERT_TRUE(failure);
  EXPECT_EQ(failure->reason, "Is a directory");
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
  ASSERT_TRUE(fs::is_directory(root)) << "no corpus at " << root;
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
