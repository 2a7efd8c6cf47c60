#include "selection/natural_order.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

namespace drovanta {
namespace {

std::vector<std::string> sorted(std::vector<std::string> names) {
  std::sort(names.begin(), names.end(),
            [](const std::string& a, const std::string& b) { return NaturalLess(a, b); });
  return names;
}

TEST(NaturalOrder, ComparesDigitRunsByValue) {
  EXPECT_TRUE(NaturalLess("9.emlx", "10.emlx"));
  EXPECT_FALSE(NaturalLess("10.emlx", "9.emlx"));
  EXPECT_TRUE(NaturalLess("Inbox2", "Inbox10"));
  EXPECT_TRUE(NaturalLess("a9b", "a10a"));
  // Runs longer than any integer type still compare by value.
  EXPECT_TRUE(NaturalLess("99999999999999999999999", "100000000000000000000000"));
  EXPECT_EQ(sorted({"114862.emlx", "11507.emlx", "2.emlx", "10.partial.emlx", "10.emlx"}),
            (std::vector<std::string>{"2.emlx", "10.emlx", "10.partial.emlx", "11507.emlx",
                                      "114862.emlx"}));
}

TEST(NaturalOrder, OtherwiseBytewiseWithAFixedOrderForEqualValues) {
  EXPECT_TRUE(NaturalLess("B", "a"));  // bytewise: upper case first
  EXPECT_TRUE(NaturalLess("abc", "abd"));
  EXPECT_TRUE(NaturalLess("ab", "abc"));
  EXPECT_FALSE(NaturalLess("same", "same"));
  // Equal values: fewer leading zeros first, never "equal" for different names.
  EXPECT_TRUE(NaturalLess("1", "01"));
  EXPECT_FALSE(NaturalLess("01", "1"));
  EXPECT_TRUE(NaturalLess("0", "00"));
  EXPECT_TRUE(NaturalLess("a1b", "a01a"));
  // A digit against another character compares bytewise ('.' < '0' < ':').
  EXPECT_TRUE(NaturalLess("a.txt", "a1.txt"));
  EXPECT_TRUE(NaturalLess("a1", "a:"));
  // Bytes above 0x7F sort after ASCII.
  EXPECT_TRUE(NaturalLess("z", "\xC3\xA9"));
}

TEST(NaturalOrder, IsAStrictWeakOrderOverAMixedSet) {
  const std::vector<std::string> names = {"",     "0",   "00",  "1",   "01", "9",  "10", "a",
                                          "a0",   "a00", "a1",  "a01", "a.", "a:", "A1", "b2c",
                                          "b2c3", "b02", "b10", "x",   "~",  "1a", "1:", "1."};
  for (const auto& a : names) {
    EXPECT_FALSE(NaturalLess(a, a)) << a;
    for (const auto& b : names) {
      if (a != b) {
        EXPECT_NE(NaturalLess(a, b), NaturalLess(b, a)) << a << " / " << b;
      }
      for (const auto& c : names) {
        if (NaturalLess(a, b) && NaturalLess(b, c)) {
          EXPECT_TRUE(NaturalLess(a, c)) << a << " < " << b << " < " << c;
        }
      }
    }
  }
}

// The folder listing sorts with SortNaturally; it must give exactly the order of NaturalLess,
// also where leading numbers tie, have leading zeros, or are too long for an integer.
TEST(NaturalOrder, SortNaturallyGivesTheOrderOfNaturalLess) {
  std::vector<std::string> names = {"",
                                    "0",
                                    "00",
                                    "007.emlx",
                                    "7.emlx",
                                    "7.partial.emlx",
                                    "999999999999999999",
                                    "999999999999999999.emlx",
                                    "1000000000000000000",
                                    "0001000000000000000000",
                                    "1000000000000000001",
                                    "123456789012345678901234567890",
                                    "123456789012345678901234567891",
                                    ".hidden",
                                    "/",
                                    ":",
                                    " 1",
                                    "Info.plist",
                                    "\xC3\xA9t\xC3\xA9",
                                    "~"};
  std::mt19937 random(20261207);
  const std::string alphabet = "0123456789.:/aZ\x7F\xFF";
  for (int n = 0; n < 3000; ++n) {
    std::string name;
    const auto length = random() % 24;
    for (unsigned k = 0; k < length; ++k) name += alphabet[random() % alphabet.size()];
    // Mostly message-like names, whose leading numbers often tie or run long.
    if (n % 2 == 0) name = std::to_string(random() % 400) + (n % 4 == 0 ? ".emlx" : name);
    names.push_back(name);
  }
  std::sort(names.begin(), names.end());
  names.erase(std::unique(names.begin(), names.end()), names.end());
  std::shuffle(names.begin(), names.end(), random);

  std::vector<std::string> fast = names;
  SortNaturally(fast);
  EXPECT_EQ(fast, sorted(names));
  std::vector<std::string> none;
  SortNaturally(none);
  EXPECT_TRUE(none.empty());
}

}  // namespace
}  // namespace drovanta
