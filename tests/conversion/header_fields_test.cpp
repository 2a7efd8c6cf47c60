// The message reader finds From, Sender, Return-Path and Date in the header block itself and
// hands GMime only their values. These cases pin the readings of GMime's own message parser that
// the field scan and its shortcuts for the common forms must keep.
#include <gtest/gtest.h>

#include <string>

#include "mail_message_fixture.h"

namespace drovanta {
namespace {

using namespace drovanta::testing;

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

}  // namespace
}  // namespace drovanta
