#include <gtest/gtest.h>

#include <string>

#include "mail_message_fixture.h"

namespace drovanta {
namespace {

using namespace drovanta::testing;

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

}  // namespace
}  // namespace drovanta
