#include "selection/keyed_list.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace drovanta {
namespace {

TEST(KeyedList, KeepsInsertionOrderCountedFromOne) {
  KeyedList<std::string> list;
  EXPECT_EQ(list.Count(), 0);
  ASSERT_FALSE(list.Add("first", "K0"));
  ASSERT_FALSE(list.Add("second", "K2"));
  ASSERT_FALSE(list.Add("third", "K1"));
  EXPECT_EQ(list.Count(), 3);
  EXPECT_EQ(list.Item(1), "first");
  EXPECT_EQ(list.Item(2), "second");
  EXPECT_EQ(list.Item(3), "third");
  EXPECT_TRUE(list.Contains("K2"));
  EXPECT_FALSE(list.Contains("K3"));
  EXPECT_THROW(list.Item(0), std::out_of_range);
  EXPECT_THROW(list.Item(4), std::out_of_range);
}

TEST(KeyedList, DuplicateKeyFailsAndLeavesTheListUnchanged) {
  KeyedList<std::int32_t> list;
  ASSERT_FALSE(list.Add(7, "K1"));
  const MaybeFailure failure = list.Add(8, "K1");
  ASSERT_TRUE(failure);
  EXPECT_EQ(failure->code, FailureCode::DuplicateKey);
  EXPECT_EQ(failure->path, "K1");
  EXPECT_NE(describe(*failure).find("K1"), std::string::npos);
  EXPECT_EQ(list.Count(), 1);
  EXPECT_EQ(list.Item(1), 7);
  // Keys are exact text: letter case and digits matter.
  EXPECT_FALSE(list.Add(9, "k1"));
  EXPECT_FALSE(list.Add(10, "K01"));
  EXPECT_EQ(list.Count(), 3);
}

TEST(KeyedList, KeysThatShareTheirBytesStayApart) {
  // Keys lie back to back in one buffer: "K1" + "K12" must not be mistaken for "K1K1" and so on.
  KeyedList<std::string> list;
  for (const char* key : {"K1", "K12", "K123", "", "K1K1", "2K1"}) {
    ASSERT_FALSE(list.Add(key, key)) << key;
  }
  for (const char* key : {"K1", "K12", "K123", "", "K1K1", "2K1"}) {
    EXPECT_TRUE(list.Contains(key)) << key;
    EXPECT_TRUE(list.Add("again", key)) << key;
  }
  for (const char* key : {"K", "K11", "K1K12", "12", "K1231"}) {
    EXPECT_FALSE(list.Contains(key)) << key;
  }
  EXPECT_EQ(list.Count(), 6);
}

TEST(KeyedList, TakingTheValuesEmptiesTheListKeysIncluded) {
  KeyedList<std::string> list;
  ASSERT_FALSE(list.Add("/mail/1.emlx", "K1"));
  ASSERT_FALSE(list.Add("/mail/2.emlx", "K2"));
  EXPECT_EQ(list.takeValues(), (std::vector<std::string>{"/mail/1.emlx", "/mail/2.emlx"}));
  EXPECT_EQ(list.Count(), 0);
  EXPECT_FALSE(list.Contains("K1"));
  // The list is usable again, with the keys it held free once more.
  ASSERT_FALSE(list.Add("/mail/3.emlx", "K1"));
  EXPECT_EQ(list.Item(1), "/mail/3.emlx");
  EXPECT_TRUE(list.takeValues().size() == 1 && list.takeValues().empty());
}

TEST(KeyedList, AMillionEntriesStayAddressableAndUnique) {
  constexpr long kEntries = 1'000'000;
  // Grown step by step, as a walk does, which rebuilds the key table many times on the way.
  KeyedList<std::string> list;
  for (long k = 1; k <= kEntries; ++k) {
    const std::string number = std::to_string(k);
    std::string key = "K";
    key += number;
    ASSERT_FALSE(list.Add("/mail/" + number + ".emlx", key));
  }
  EXPECT_EQ(list.Count(), kEntries);
  EXPECT_EQ(list.Item(1), "/mail/1.emlx");
  EXPECT_EQ(list.Item(654321), "/mail/654321.emlx");
  EXPECT_EQ(list.Item(kEntries), "/mail/1000000.emlx");
  EXPECT_TRUE(list.Contains("K999999"));
  EXPECT_FALSE(list.Contains("K0"));
  const MaybeFailure failure = list.Add("again", "K500000");
  ASSERT_TRUE(failure);
  EXPECT_EQ(failure->code, FailureCode::DuplicateKey);
  EXPECT_EQ(list.Count(), kEntries);
}

}  // namespace
}  // namespace drovanta
