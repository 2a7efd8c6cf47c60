#include <gtest/gtest.h>

#include <string>

#include "support/mail_message_fixture.h"

namespace drovanta {
namespace {

using namespace drovanta::testing;

TEST_F(MailMessageTest, SenderFromAwkwardFromHeaders) {
  EXPECT_EQ(senderOf("From: Ann Example <ann@example.com>\n"), "ann@example.com");
  EXPECT_EQ(senderOf("From: \"Long,\n Name\" <folded@\n example.com>\n"), "folded@example.com");
  EXPECT_EQ(senderOf("From: =?utf-8?Q?J=C3=BCrgen_M=C3=BCller?= <jm@example.de>\n"),
            "jm@example.de");
  EXPECT_EQ(senderOf("From: plain@example.org (Comment)\n"), "plain@example.org");
  EXPECT_EQ(senderOf("From: Team: first@example.com, second@example.com;\n"), "first@example.com");
  EXPECT_EQ(senderOf("From: one@example.com, two@example.com\nSender: s@example.com\n"),
            "one@example.com");
}

// A separator line holds printable ASCII only: a UTF-8 address is passed over for the next
// source; a UTF-8 domain after an ASCII local part is written in its ASCII (punycode) form.
TEST_F(MailMessageTest, SenderOutsideAsciiIsPassedOver) {
  const std::string john =
      "From: \"J\xC3\xB6hn Doe\" <jd\xC3\xB6"
      "e@m\xC3\xA4"
      "chine.example>\n";
  const std::string marilu =
      "Return-Path: <Maril\xC3\xB9.Gioffr\xC3\xA9@esempio-universit\xC3\xA0.it>\n";
  EXPECT_EQ(senderOf(john), "MAILER-DAEMON");
  EXPECT_EQ(senderOf(john + "Sender: list@example.com\n"), "list@example.com");
  EXPECT_EQ(senderOf(john + "Return-Path: <bounce@example.com>\n"), "bounce@example.com");
  EXPECT_EQ(senderOf(john + marilu), "MAILER-DAEMON");
  EXPECT_EQ(senderOf("From: Ann <ann@b\xC3\xBC"
                     "cher.de>\n"),
            "ann@xn--bcher-kva.de");
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

TEST_F(MailMessageFieldsTest, AddressesReadAsGMimeReadsThem) {
  EXPECT_EQ(senderOf("From: At.Their29 <at.their29@example.com>\n\n"), "at.their29@example.com");
  EXPECT_EQ(senderOf("From: Ann\n <ann@example.com>\n\n"), "ann@example.com");
  EXPECT_EQ(senderOf("From: \"Ann\" <ann@example.com>\n\n"), "ann@example.com");
  // A punycode domain stays as the message writes it.
  EXPECT_EQ(senderOf("From: Name <a@xn--bcher-kva.de>\n\n"), "a@xn--bcher-kva.de");
  // The address read before an unclosed comment still counts.
  EXPECT_EQ(senderOf("From: Ann <ann@example.com> (unclosed comment\n\n"), "ann@example.com");
  // A display name GMime cannot read gives no address.
  EXPECT_EQ(senderOf("From: .i a <x@example.com>\n\n"), "MAILER-DAEMON");
  // Latin-1 bytes are no address for a separator line, in From or in Return-Path.
  EXPECT_EQ(senderOf("From: \xE9t\xE9@latin.fr\n\n"), "MAILER-DAEMON");
  EXPECT_EQ(senderOf("Return-Path: <\xE9t\xE9@latin.fr>\n\n"), "MAILER-DAEMON");
}

}  // namespace
}  // namespace drovanta
