#include "selection/emlx_name_filter.h"

#include <gtest/gtest.h>

namespace drovanta {
namespace {

TEST(EmlxNameFilter, AcceptsTheEndingInAnyLetterCase) {
  EXPECT_TRUE(HasEmlxName("/Mail/Inbox/Messages/1.emlx"));
  EXPECT_TRUE(HasEmlxName("/Mail/2.EMLX"));
  EXPECT_TRUE(HasEmlxName("/Mail/3.Emlx"));
  EXPECT_TRUE(HasEmlxName("/Mail/114892.partial.emlx"));
  EXPECT_TRUE(HasEmlxName(".emlx"));
  EXPECT_TRUE(HasEmlxName("  /Mail/4.emlx  "));  // trimmed of spaces before the test
}

TEST(EmlxNameFilter, RejectsOtherEndings) {
  EXPECT_FALSE(HasEmlxName("/Mail/1.emlx.bak"));
  EXPECT_FALSE(HasEmlxName("/Mail/1.eml"));
  EXPECT_FALSE(HasEmlxName("emlx"));
  EXPECT_FALSE(HasEmlxName("/Mail/1.emlxpart"));
  EXPECT_FALSE(HasEmlxName("/Mail/1.emlx\t"));  // only spaces are trimmed
  EXPECT_FALSE(HasEmlxName(""));
  EXPECT_FALSE(HasEmlxName("     "));
  EXPECT_FALSE(HasEmlxName("/Mail/1_emlx"));
}

}  // namespace
}  // namespace drovanta
