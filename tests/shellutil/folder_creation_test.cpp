#include "shellutil/folder_creation.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

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

TEST(FolderCreation, BelowTheDestinationNoLevelIsTakenThroughALink) {
  testing::TempFolder temp;
  fs::create_directory(temp.path() / "Real");
  fs::create_directory(temp.path() / "Elsewhere");
  // The destination itself may be a link: the user named it.
  fs::create_directory_symlink(temp.path() / "Real", temp.path() / "Dest");
  const std::string dest = temp.str() + "/Dest";
  std::vector<std::string> made;
  EXPECT_FALSE(CreateFolderBelow(dest + "/", dest + "/a/b/", &made));
  EXPECT_EQ(made, (std::vector<std::string>{dest + "/a", dest + "/a/b"}));
  EXPECT_TRUE(fs::is_directory(temp.path() / "Real" / "a" / "b"));

  fs::create_directory_symlink(temp.path() / "Elsewhere", temp.path() / "Real" / "a" / "link");
  const MaybeFailure refused = CreateFolderBelow(dest, dest + "/a/link/c/");
  ASSERT_TRUE(refused);
  EXPECT_EQ(refused->path, dest + "/a/link/c/");
  EXPECT_EQ(refused->reason,
            "a symbolic link stands in the way: " + dest + "/a/link, not followed");
  EXPECT_TRUE(fs::is_empty(temp.path() / "Elsewhere"));
}

}  // namespace
}  // namespace drovanta
