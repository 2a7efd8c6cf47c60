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

}  // namespace
}  // namespace drovanta
