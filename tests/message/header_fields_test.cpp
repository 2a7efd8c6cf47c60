// The message reader finds From, Sender, Return-Path and Date in the header block itself and
// hands GMime only their values. These cases pin the readings of GMime's own message parser that
// the field scan and its shortcuts for the common forms must keep.
#include "message/header_fields.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>

#include "support/mail_message_fixture.h"

namespace drovanta {
namespace {

using namespace drovanta::testing;

// The field values found in a block, From's first, then Date's.
std::pair<std::string, std::string> fromAndDate(std::string_view block) {
  const HeaderFields fields = FindHeaderFields(block);
  return {fields.from.empty() ? "(none)" : std::string(fields.from.front()),
          fields.date ? std::string(*fields.date) : "(none)"};
}

TEST(HeaderFields, EachLineEndEndsAHeaderLine) {
  for (const std::string eol : {"\n", "\r\n", "\r"}) {
    SCOPED_TRACE(::testing::PrintToString(eol));
    const std::string header = "Return-Path: <bounce@example.net>" + eol + "From: a@example.com" +
                               eol + "Date: Fri, 21 Nov 1997" + eol + " 09:55:06 -0600" + eol;
    const std::string message = header + eol + "From: body@example.com" + eol;
    EXPECT_EQ(HeaderBlockEnd(message), header.size() + eol.size());
    EXPECT_EQ(fromAndDate(message), std::pair(std::string(" a@example.com") + eol,
                                              " Fri, 21 Nov 1997" + eol + " 09:55:06 -0600" + eol));
  }
  // The first line may already be the empty one; a block with no empty line has no end.
  EXPECT_EQ(HeaderBlockEnd("\rbody"), 1u);
  EXPECT_EQ(HeaderBlockEnd("\r\nbody"), 2u);
  EXPECT_EQ(HeaderBlockEnd("From: a\rSubject: b\r"), std::string_view::npos);
  EXPECT_EQ(HeaderBlockEnd("From: a\nSubject: b"), std::string_view::npos);
  // A CR as the very last byte ends its line and nothing more: nothing past the text is read
  // (found by fuzzing; the buffer is exactly as long as the text, so ASan sees a byte more).
  for (const std::string_view text : {"A\rB\r", "\r", "From: a\r\r"}) {
    const auto exact = std::make_unique<char[]>(text.size());
    std::copy(text.begin(), text.end(), exact.get());
    const std::size_t end = HeaderBlockEnd(std::string_view(exact.get(), text.size()));
    EXPECT_EQ(end, text == "A\rB\r" ? std::string_view::npos : text.size()) << text;
  }
}

TEST(HeaderFields, BlanksAndFoldsBeforeTheColon) {
  for (const std::string eol : {"\n", "\r\n", "\r"}) {
    SCOPED_TRACE(::testing::PrintToString(eol));
    // The obsolete syntax allows white space before a field name's colon, folds included.
    EXPECT_EQ(fromAndDate("From" + eol + " : <a@example.com>" + eol + "From: b@example.com" + eol +
                          "Date\t" + eol + "\t" + eol + " :x" + eol + eol)
                  .first,
              " <a@example.com>" + eol);
    EXPECT_EQ(fromAndDate("Subject: s" + eol + "Date" + eol + "\t :x" + eol + eol).second,
              "x" + eol);
    // A name whose next line is no fold, or a name with a blank inside, is no field.
    EXPECT_EQ(fromAndDate("Subject: s" + eol + "From" + eol + ": <a@example.com>" + eol +
                          "Fr om: <b@example.com>" + eol + eol)
                  .first,
              "(none)");
  }
}

// The example of obsolete white space and comments in the appendix of RFC 5322.
TEST_F(MailMessageFieldsTest, ObsoleteWhiteSpaceAndCommentsExample) {
  const Reading reading = read(
      "From  : John Doe <jdoe@machine(comment).  example>\r\n"
      "To    : Mary Smith\r\n"
      "  \r\n"
      "          <mary@example.net>\r\n"
      "Subject     : Saying Hello\r\n"
      "Date  : Fri, 21 Nov 1997 09(comment):   55  :  06 -0600\r\n"
      "Message-ID  : <1234   @   local(blah)  .machine .example>\r\n"
      "\r\n"
      "Testing.\r\n");
  EXPECT_EQ(reading.sender, "jdoe@machine.example");
  EXPECT_EQ(reading.date, "1997-11-21 15:55:06");
}

// Old Mac files end their lines with CR alone: the header is read line by line as for any other
// line end, so the sender is From's and the date is the Date field's.
TEST_F(MailMessageFieldsTest, MessageWithCrLineEnds) {
  const Reading reading = read(
      "Return-Path: <bounce@example.net>\rFrom: Ann <ann@example.com>\r"
      "Date: Tue, 1 Jul 2003 10:52:37 +0200\rSubject: old Mac\r\rFrom: body@example.com\r");
  EXPECT_EQ(reading.sender, "ann@example.com");
  EXPECT_EQ(reading.date, "2003-07-01 08:52:37");
}

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
