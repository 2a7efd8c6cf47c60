#include "shellutil/folder_creation.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "support/temp_folder.h"

namespace drovanta {
namespace {

namespace fs = std::filesystem;

TEST(FolderCreation, CreatesEveryMissingLevelWithOrWithoutFinalSeparator) {
  testing::TempFolder temp;
  const std::string deep = temp.str() + "/a/b/c/d";
  EXPECT_TRUE(EnsureFolderExists(deep));
  EXPECT_TRUE(fs::is_directory(deep));

  const std::string withSeparator = temp.str() + "/x/y/";
  EXPECT_TRUE(EnsureFolderExists(withSeparator));
  EXPECT_TRUE(fs::is_directory(temp.str() + "/x/y"));
  // The last component is a folder even when it looks like a file name.
  EXPECT_TRUE(EnsureFolderExists(temp.str() + "/z/Inbox.mbox"));
  EXPECT_TRUE(fs::is_directory(temp.str() + "/z/Inbox.mbox"));
}

TEST(FolderCreation, AnExistingFolderIsLeftAsItIs) {
  testing::TempFolder temp;
  const std::string file = temp.write("Out/Inbox.mbox", "records");
  EXPECT_TRUE(EnsureFolderExists(temp.str() + "/Out"));
  EXPECT_TRUE(EnsureFolderExists(temp.str() + "/Out/"));
  EXPECT_EQ(testing::readFile(file), "records");
}

TEST(FolderCreation, AnswersFalseWhenAFileStandsInTheWay) {
  testing::TempFolder temp;
  const std::string file = temp.write("blocker", "data");
  EXPECT_FALSE(EnsureFolderExists(file));
  EXPECT_FALSE(EnsureFolderExists(file + "/"));
  EXPECT_FALSE(EnsureFolderExists(file + "/below/deeper"));
  EXPECT_EQ(testing::readFile(file), "data");
  EXPECT_FALSE(fs::exists(file + "/below"));
}

}  // namespace
}  // namespace drovanta
