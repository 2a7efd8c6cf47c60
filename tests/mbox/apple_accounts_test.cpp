#include "mbox/apple_accounts.h"

#include <gtest/gtest.h>

#include <string>

namespace drovanta {
namespace {

TEST(AccountNameFromUrl, TakesTheAddressElseTheHost) {
  const struct {
    const char* url;
    const char* name;
  } cases[] = {
      {"imap://jane.doe%40example.org@imap.example.org/", "jane.doe@example.org"},
      {"imap://jane.doe%40example.org;AUTH=PLAIN@imap.example.org:993/", "jane.doe@example.org"},
      {"pop://jane@pop.example.net/", "pop.example.net"},
      {"imap://imap.example.org:143", "imap.example.org"},
      {"ews:opaque-identifier", ""},
      {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(AccountNameFromUrl(c.url), c.name) << c.url;
}

TEST(ReadAccountsMap, TellsNamesApartAndWarnsOfWhatItChanged) {
  const std::string list =
      "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict>"
      "<key>B</key><dict><key>AccountURL</key><string>imap://a%40x.org@h1/</string></dict>"
      "<key>A</key><dict><key>AccountURL</key><string>imap://a%40x.org@h2/</string></dict>"
      "<key>C</key><dict><key>AccountURL</key><string>imap://s%2F%0A%40x.org@h/</string></dict>"
      "<key>D</key><dict><key>AccountURL</key><string>ews:x</string></dict>"
      "<key>E</key><dict><key>AccountURL</key><string>imap://e%40x.org@h/</string></dict>"
      "<key>E</key><dict><key>AccountURL</key><string>imap://f%40x.org@h/</string></dict>"
      "</dict></plist>";
  const AccountsMapNames names = ReadAccountsMap("AccountsMap.plist", list);
  EXPECT_EQ(names.nameOfUuid.at("A"), "a@x.org");
  EXPECT_EQ(names.nameOfUuid.at("B"), "a@x.org (2)");
  EXPECT_EQ(names.nameOfUuid.at("C"), "s__@x.org");
  EXPECT_EQ(names.nameOfUuid.count("D"), 0u);
  EXPECT_EQ(names.nameOfUuid.at("E"), "f@x.org");
  EXPECT_EQ(names.warnings.size(), 3u);

  const AccountsMapNames broken = ReadAccountsMap("AccountsMap.plist", "no list");
  EXPECT_TRUE(broken.nameOfUuid.empty());
  ASSERT_EQ(broken.warnings.size(), 1u);
  EXPECT_EQ(broken.warnings[0].path, "AccountsMap.plist");
}

}  // namespace
}  // namespace drovanta
