#include "conversion/property_list.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <string>

#include "conversion/emlx_framing.h"
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

TEST(PropertyList, RealFilesFromTheCorpus) {
  const std::filesystem::path root = DROVANTA_CORPUS_DIR;
  if (!std::filesystem::is_directory(root)) GTEST_SKIP() << "no corpus at " << root;
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
