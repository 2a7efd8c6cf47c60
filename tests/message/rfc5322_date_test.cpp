#include "message/rfc5322_date.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "message/utc_date_time.h"
#include "support/mail_message_fixture.h"

namespace drovanta {
namespace {

using namespace drovanta::testing;

// The moment a date reads as, in UTC, or "unparseable".
std::string utc(std::string_view text) {
  const std::optional<std::int64_t> seconds = ParseRfc5322Date(text);
  if (!seconds) return "unparseable";
  const UtcDateTime d = UtcDateTimeFromSeconds(*seconds);
  char out[32];
  std::snprintf(out, sizeof out, "%04d-%02d-%02d %02d:%02d:%02d", d.year, d.month, d.day, d.hour,
                d.minute, d.second);
  return out;
}

TEST(Rfc5322Date, ExamplesOfTheStandardsAppendix) {
  EXPECT_EQ(utc("Fri, 21 Nov 1997 09:55:06 -0600"), "1997-11-21 15:55:06");
  EXPECT_EQ(utc("Tue, 1 Jul 2003 10:52:37 +0200"), "2003-07-01 08:52:37");
  EXPECT_EQ(utc("Thu, 13 Feb 1969 23:32:54 -0330"), "1969-02-14 03:02:54");
  // White space and comments everywhere, folded over several lines, seconds left out.
  EXPECT_EQ(utc("Thu,\r\n      13\r\n        Feb\r\n          1969\r\n      23:32\r\n"
                "               -0330 (Newfoundland Time)"),
            "1969-02-14 03:02:00");
  // Obsolete: a two-digit year and a zone name.
  EXPECT_EQ(utc("21 Nov 97 09:55:06 GMT"), "1997-11-21 09:55:06");
  // Obsolete: comments and white space between the tokens of the time.
  EXPECT_EQ(utc("Fri, 21 Nov 1997 09(comment):   55  :  06 -0600"), "1997-11-21 15:55:06");
}

TEST(Rfc5322Date, CommentsAndFoldsBetweenAnyTokens) {
  EXPECT_EQ(utc(" (sent) Fri (day) , (x) 21 (a(nested)comment) Nov 1997 09:55:06 -0600 (CST)"),
            "1997-11-21 15:55:06");
  EXPECT_EQ(utc("Fri, 21 Nov 1997 09:55:06 -0600 (a \\) quoted \\( pair)"), "1997-11-21 15:55:06");
  EXPECT_EQ(utc("fri, 21 nov 1997 09:55:06 -0600"), "1997-11-21 15:55:06");
  // Line ends of folds in each convention, a lone CR included.
  for (const char* fold : {"\n", "\r\n", "\r"}) {
    SCOPED_TRACE(fold);
    EXPECT_EQ(utc(std::string("Fri, 21 Nov 1997") + fold + " 09:55:06" + fold + "\t-0600" + fold),
              "1997-11-21 15:55:06");
  }
}

TEST(Rfc5322Date, MilitaryAndUnknownZoneNamesMeanUtc) {
  EXPECT_EQ(utc("Fri, 21 Nov 1997 09:55:06 UT"), "1997-11-21 09:55:06");
  EXPECT_EQ(utc("Fri, 21 Nov 1997 09:55:06 EDT"), "1997-11-21 13:55:06");
  EXPECT_EQ(utc("Fri, 21 Nov 1997 09:55:06 cst"), "1997-11-21 15:55:06");
  EXPECT_EQ(utc("Fri, 21 Nov 1997 09:55:06 MDT"), "1997-11-21 15:55:06");
  EXPECT_EQ(utc("Fri, 21 Nov 1997 09:55:06 PST"), "1997-11-21 17:55:06");
  // The military letters were defined with the wrong sign in RFC 822: all of them mean -0000.
  for (const char* name : {"A", "M", "N", "Y", "Z", "z", "CEST", "XYZ"}) {
    SCOPED_TRACE(name);
    EXPECT_EQ(utc(std::string("Fri, 21 Nov 1997 09:55:06 ") + name), "1997-11-21 09:55:06");
  }
}

TEST(Rfc5322Date, LeapSecondIsAccepted) {
  EXPECT_EQ(utc("Sat, 31 Dec 2016 23:59:60 +0000"), "2017-01-01 00:00:00");
  EXPECT_EQ(utc("Sat, 31 Dec 2016 23:59:61 +0000"), "unparseable");
}

TEST(Rfc5322Date, OtherFormsAreUnparseable) {
  for (const char* text : {
           "Fri, 21 Nov 1997 09:55:06 -600",       // a zone of three digits
           "Fri, 21 Nov 1997 09:55:06 +01000",     // or five
           "Mon, 4 Mar 2024 06:09:22 PM EDT",      // a twelve-hour clock
           "Fri, 21 Nov 1997 09:55:06",            // no zone
           "Fri Nov 21 09:55:06 1997",             // the ctime form
           "Fri 21 Nov 1997 09:55:06 -0600",       // no comma after the day name
           "Fri, 21 Nov 1997 9:55:06 -0600",       // a one-digit hour
           "Fri, 21 Nov 1997 09:55:06 +0000 GMT",  // two zones
           "Fri, 21 Nov 1997 09:55:06+0000",       // a numeric zone needs white space before it
           "Fri, 21 Nov 1997 09:55:06 -0600 (unclosed",
           "Fri, 21 November 1997 09:55:06 -0600",
           "Fre, 21 Nov 1997 09:55:06 -0600",
           "Fri, 121 Nov 1997 09:55:06 -0600",
           "Fri, 21 Nov 7 09:55:06 -0600",
           "Fri, 21 Nov 1997 24:00:00 -0600",
           "Fri, 21 Nov 1997 09:60:00 -0600",
           "Fri, 21 Nov 1997 09:55:06 -0600 \xE2\x80\x8B",
           "",
       }) {
    SCOPED_TRACE(text);
    EXPECT_EQ(utc(text), "unparseable");
  }
}

TEST_F(MailMessageTest, DatesConvertedToUtc) {
  EXPECT_EQ(dateOf("Fri, 01 Mar 2024 17:05:09 +0100"), (Fields{2024, 3, 1, 16, 5, 9}));
  EXPECT_EQ(dateOf("Sun, 31 Dec 2023 23:30:00 -0130"), (Fields{2024, 1, 1, 1, 0, 0}));
  EXPECT_EQ(dateOf("Wed, 24 May 2017 17:28:19 +0900 (JST)"), (Fields{2017, 5, 24, 8, 28, 19}));
  EXPECT_EQ(dateOf("1 Mar 2024 17:05 +0200"), (Fields{2024, 3, 1, 15, 5, 0}));
  EXPECT_EQ(load("m.eml", "Date: Thu, 29 Feb 2024 23:59:59 -0000\n\n").MessageDate().weekday, 4);
}

TEST_F(MailMessageTest, ZonesNamedOrUnknown) {
  EXPECT_EQ(dateOf("Fri, 01 Mar 2024 17:05:09 EST"), (Fields{2024, 3, 1, 22, 5, 9}));
  EXPECT_EQ(dateOf("Fri, 01 Mar 2024 17:05:09 PDT"), (Fields{2024, 3, 2, 0, 5, 9}));
  EXPECT_EQ(dateOf("Fri, 01 Mar 2024 17:05:09 GMT"), (Fields{2024, 3, 1, 17, 5, 9}));
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

TEST_F(MailMessageFieldsTest, FoldedEncodedAndImpossibleDates) {
  EXPECT_EQ(dateOf("Thu, 29 Feb 2024 10:00:00 -0000"), "2024-02-29 10:00:00");
  EXPECT_EQ(dateOf("5 Mar 2024 23:30:00 -0930"), "2024-03-06 09:00:00");
  EXPECT_EQ(dateOf("Fri, 01 Mar 2024 17:05:09 +0000 (UTC)"), "2024-03-01 17:05:09");
  EXPECT_EQ(dateOf("Fri, 01 Mar 2024\n 17:05:09 +0100"), "2024-03-01 16:05:09");
  EXPECT_EQ(dateOf("=?us-ascii?q?Fri=2C_01_Mar_2024_17=3A05=3A09_+0100?="), "2024-03-01 16:05:09");
  EXPECT_EQ(dateOf("Mon, 01 Mar 0500 10:00:00 +0000"), "0500-03-01 10:00:00");
  // An impossible zone is ignored; an impossible day makes the date unusable.
  EXPECT_EQ(dateOf("Fri, 01 Mar 2024 17:05:09 +2400"), "2024-03-01 17:05:09");
  EXPECT_EQ(dateOf("Wed, 29 Feb 2023 10:00:00 +0000"), kNoDate);
  EXPECT_EQ(dateOf("Wed, 31 Apr 2024 10:00:00 +0000"), kNoDate);
  EXPECT_EQ(dateOf("Fri, 01 Mar 2024 17:05:60 +0000"), "2024-03-01 17:06:00");
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
