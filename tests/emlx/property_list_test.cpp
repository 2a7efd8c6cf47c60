#include "emlx/property_list.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <string>

#include "emlx/emlx_framing.h"
#include "support/temp_folder.h"

namespace drovanta {
namespace {

std::string plist(const std::string& entries) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
         "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
         "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
         "<plist version=\"1.0\">\n<dict>\n" +
         entries + "</dict>\n</plist>\n";
}

TEST(PropertyList, IntegerAndRealDatesAndWideFlags) {
  const EmlxProperties p =
      ParsePropertyList(plist("\t<key>color</key>\n\t<string>000000</string>\n"
                              "\t<key>date-last-viewed</key>\n\t<integer>0</integer>\n"
                              "\t<key>date-received</key>\n\t<integer>1516985072</integer>\n"
                              "\t<key>date-sent</key>\n\t<real>1565148386.5</real>\n"
                              "\t<key>flags</key>\n\t<integer>8623750272</integer>\n"));
  EXPECT_EQ(p.dateReceived, 1516985072.0);
  EXPECT_EQ(p.dateSent, 1565148386.5);
  EXPECT_EQ(p.flags, 8623750272u);
}

TEST(PropertyList, MissingKeysStayEmpty) {
  const EmlxProperties p = ParsePropertyList(plist("<key>remote-id</key><string>50751</string>"));
  EXPECT_FALSE(p.dateReceived);
  EXPECT_FALSE(p.dateSent);
  EXPECT_FALSE(p.flags);
}

TEST(PropertyList, OnlyTheTopLevelDictionaryCounts) {
  const EmlxProperties p =
      ParsePropertyList(plist("<key>nested</key><dict><key>date-received</key><integer>5</integer>"
                              "<key>more</key><array><dict/><integer>6</integer></array></dict>"
                              "<key>list</key><array><key>flags</key><integer>7</integer></array>"
                              "<key>date-sent</key><integer>1303394185</integer>"));
  EXPECT_FALSE(p.dateReceived);
  EXPECT_FALSE(p.flags);
  EXPECT_EQ(p.dateSent, 1303394185.0);
}

TEST(PropertyList, ToleratesWhiteSpaceAndComments) {
  const EmlxProperties p = ParsePropertyList(
      "<plist>\n<!-- <dict><key>flags</key><integer>1</integer> -->\r\n<dict >\r\n"
      "  <key> date-received </key>\r\n  <real>\n 1565148386.0 \n</real>\r\n"
      "  <key>flags</key> <integer> 25803555841 </integer>\r\n</dict></plist>");
  EXPECT_EQ(p.dateReceived, 1565148386.0);
  EXPECT_EQ(p.flags, 25803555841u);
}

TEST(PropertyList, MalformedValuesArePassedOver) {
  const EmlxProperties p =
      ParsePropertyList(plist("<key>date-received</key><integer>12abc</integer>"
                              "<key>date-sent</key><real>nan</real>"
                              "<key>flags</key><integer>-1</integer>"
                              // A key owns only the value right after it.
                              "<key>date-received</key><string>x</string><integer>12</integer>"));
  EXPECT_FALSE(p.dateReceived);
  EXPECT_FALSE(p.dateSent);
  EXPECT_FALSE(p.flags);

  const EmlxProperties overflow =
      ParsePropertyList(plist("<key>flags</key><integer>99999999999999999999999</integer>"));
  EXPECT_FALSE(overflow.flags);
}

TEST(PropertyList, GarbageNeverCrashes) {
  const std::string good = plist(
      "<key>date-received</key><integer>1517000478</integer><key>flags</key>"
      "<integer>8623689857</integer>");
  // Every prefix of a real list: truncated files are common.
  for (std::size_t n = 0; n <= good.size(); ++n)
    ParsePropertyList(std::string_view(good).substr(0, n));
  EXPECT_EQ(ParsePropertyList(good).flags, 8623689857u);

  std::mt19937 random(7);
  std::uniform_int_distribution<int> pick(0, 9);
  const char kAlphabet[] = "<>/!?- dk1";
  for (int round = 0; round < 500; ++round) {
    std::string noise;
    for (int i = 0; i < 64; ++i) noise += kAlphabet[pick(random)];
    ParsePropertyList(noise);
  }
  EXPECT_FALSE(ParsePropertyList("</dict></plist><dict").dateReceived);
}

TEST(PropertyList, BinaryListsReadAsXmlOnes) {
  // {date-received: 1565148386, date-sent: 1565148386.5, flags: 8590132225}, as Python's
  // plistlib writes it in Apple's binary format.
  const std::string binary(
      "\x62\x70\x6c\x69\x73\x74\x30\x30\xd3\x01\x02\x03\x04\x05\x06\x5d\x64\x61\x74\x65\x2d\x72"
      "\x65\x63\x65\x69\x76\x65\x64\x59\x64\x61\x74\x65\x2d\x73\x65\x6e\x74\x55\x66\x6c\x61\x67"
      "\x73\x12\x5d\x4a\x44\xe2\x23\x41\xd7\x52\x91\x38\xa0\x00\x00\x13\x00\x00\x00\x02\x00\x03"
      "\x04\x01\x08\x0f\x1d\x27\x2d\x32\x3b\x00\x00\x00\x00\x00\x00\x01\x01\x00\x00\x00\x00\x00"
      "\x00\x00\x07\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x44",
      107);
  const EmlxProperties p = ParsePropertyList(binary);
  EXPECT_EQ(p.dateReceived, 1565148386.0);
  EXPECT_EQ(p.dateSent, 1565148386.5);
  EXPECT_EQ(p.flags, 8590132225u);
  // Cut short, it is no list.
  EXPECT_FALSE(ParsePropertyList(binary.substr(0, 60)).dateReceived);

  // A damaged binary list whose dictionary takes a string value for a key (found by fuzzing:
  // iterating it directly stopped the program in an assertion of libplist).
  const std::string damaged(
      "\x62\x70\x6c\x69\x73\x74\x30\x30\xd4\x01\x02\x03\x04\x05\x06\x07\x08\x5d\x64\x61\x74\x65"
      "\x2d\x72\x65\x63\x65\x69\x76\x65\x64\x59\x64\x61\x74\x65\x2d\x73\x65\x6e\x74\x55\x66\x6c"
      "\x61\x67\x73\x59\x72\x65\x6d\x6f\x74\x65\x2d\x69\x64\x12\x9c\x6b\x97\x1e\x23\x41\xd6\x9a"
      "\xe5\xc5\xa0\x00\x00\x13\x00\x00\x00\x02\x00\x03\xfc\x05\x52\x31\x32\x08\x11\x32\x1f\x29"
      "\x2f\x39\x3e\x47\x50\x00\x00\x00\x00\x00\x00\x01\x01\x00\x00\x00\x00\x00\x00\x00\x09\x00"
      "\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x53",
      125);
  // It is read as far as it goes, instead of ending the program: its date-received is a string
  // and is passed over.
  const EmlxProperties fromDamaged = ParsePropertyList(damaged);
  EXPECT_FALSE(fromDamaged.dateReceived);
}

TEST(PropertyList, RealFilesFromTheCorpus) {
  const std::filesystem::path root = DROVANTA_CORPUS_DIR;
  ASSERT_TRUE(std::filesystem::is_directory(root)) << "no corpus at " << root;
  const std::string realDates = testing::readFile(root / "terhechte-emlx/tests/emails/4.emlx");
  const EmlxProperties real = ParsePropertyList(FrameEmlx(realDates, true).propertyList);
  EXPECT_EQ(real.dateReceived, 1565148386.0);
  EXPECT_EQ(real.flags, 8590132225u);

  const std::string japanese = testing::readFile(
      root / "partial-emlx-converter/test/__testdata/input/Messages/465622.partial.emlx");
  const EmlxProperties p = ParsePropertyList(FrameEmlx(japanese, true).propertyList);
  EXPECT_EQ(p.flags, 25803555841u);
  EXPECT_TRUE(p.dateReceived.has_value());
}

}  // namespace
}  // namespace drovanta
