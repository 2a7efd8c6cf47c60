#include "selection/walk_list.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

namespace drovanta {
namespace {

TEST(WalkList, KeepsInsertionOrderCountedFromOneAndHandsItsValuesOver) {
  WalkList<std::string> list;
  EXPECT_EQ(list.Count(), 0);
  list.Add("first");
  list.Add("second");
  EXPECT_EQ(list.Count(), 2);
  EXPECT_EQ(list.Item(1), "first");
  EXPECT_EQ(list.Item(2), "second");
  EXPECT_THROW(list.Item(0), std::out_of_range);
  EXPECT_THROW(list.Item(3), std::out_of_range);
  EXPECT_EQ(list.takeValues(), (std::vector<std::string>{"first", "second"}));
  EXPECT_EQ(list.Count(), 0);
}

}  // namespace
}  // namespace drovanta
