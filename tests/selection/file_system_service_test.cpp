#include "selection/file_system_service.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/temp_folder.h"

namespace drovanta {
namespace {

namespace fs = std::filesystem;
using Names = std::vector<std::string>;

TEST(DiskFileSystem, FolderExistsOnlyForFolders) {
  testing::TempFolder temp;
  const std::string file = temp.write("file.emlx", "x");
  fs::create_directory(temp.path() / "Folder");
  fs::create_directory_symlink(temp.path() / "Folder", temp.path() / "LinkToFolder");

  DiskFileSystem disk;
  EXPECT_TRUE(disk.FolderExists(temp.str()));
  EXPECT_TRUE(disk.FolderExists(temp.str() + "/Folder/"));
  // A start folder picked through a link is still a folder; only the walk skips such links.
  EXPECT_TRUE(disk.FolderExists(temp.str() + "/LinkToFolder"));
  EXPECT_FALSE(disk.FolderExists(file));
  EXPECT_FALSE(disk.FolderExists(temp.str() + "/missing"));
  EXPECT_FALSE(disk.FolderExists(""));
}

TEST(DiskFileSystem, ListsInNaturalOrderAndSeparatesFoldersFromFiles) {
  testing::TempFolder temp;
  for (const char* name : {"10.emlx", "9.emlx", "100.emlx", "Info.plist", "1.emlx"}) {
    temp.write(name, "x");
  }
  for (const char* name : {"Inbox10", "Inbox9", "Archive"}) {
    fs::create_directory(temp.path() / name);
  }
  DiskFileSystem disk;
  const auto files = disk.FileNames(temp.str());
  ASSERT_TRUE(files.ok());
  EXPECT_EQ(*files, (Names{"1.emlx", "9.emlx", "10.emlx", "100.emlx", "Info.plist"}));
  const auto folders = disk.SubFolderNames(temp.str() + "/");
  ASSERT_TRUE(folders.ok());
  EXPECT_EQ(*folders, (Names{"Archive", "Inbox9", "Inbox10"}));
}

TEST(DiskFileSystem, TellsLinksToFoldersButKeepsLinksToFiles) {
  testing::TempFolder temp;
  temp.write("real.emlx", "x");
  fs::create_directory(temp.path() / "Sub");
  fs::create_directory_symlink(temp.path(), temp.path() / "Sub" / "up");
  fs::create_symlink(temp.path() / "real.emlx", temp.path() / "Sub" / "link.emlx");
  fs::create_symlink(temp.path() / "gone.emlx", temp.path() / "Sub" / "dangling.emlx");
  fs::create_symlink("loop.emlx", temp.path() / "Sub" / "loop.emlx");
  ASSERT_EQ(::mkfifo((temp.path() / "Sub" / "pipe.emlx").c_str(), 0600), 0);
  fs::create_symlink(temp.path() / "Sub" / "pipe.emlx", temp.path() / "Sub" / "10.emlx");
  temp.write("Sub/own.emlx", "x");

  DiskFileSystem disk;
  const auto folders = disk.SubFolderNames(temp.str() + "/Sub/");
  ASSERT_TRUE(folders.ok());
  EXPECT_TRUE(folders->empty());
  // Reading a pipe would block the run, and a dangling link has nothing to read.
  const auto files = disk.FileNames(temp.str() + "/Sub/");
  ASSERT_TRUE(files.ok());
  EXPECT_EQ(*files, (Names{"link.emlx", "own.emlx"}));
  // Special files are not recorded but named with what they are; so are links to no file.
  Names special;
  for (const SpecialFile& file : disk.SpecialFiles(temp.str() + "/Sub/")) {
    special.push_back(file.name + ": " + file.kind);
  }
  EXPECT_EQ(special, (Names{"10.emlx: a symbolic link to a named pipe (FIFO)",
                            "dangling.emlx: a symbolic link to nothing",
                            "loop.emlx: a symbolic link loop", "pipe.emlx: a named pipe (FIFO)",
                            "up: a symbolic link to a folder, not followed"}));
}

// Subfolders and files come from one read of the folder; the files are kept only for the
// FileNames call that follows SubFolderNames on the same folder, so a folder that changes is
// seen afresh on the next listing.
TEST(DiskFileSystem, OneReadServesBothListsAndAChangedFolderIsReadAgain) {
  testing::TempFolder temp;
  temp.write("A/1.emlx", "x");
  temp.write("A/Sub/2.emlx", "x");
  temp.write("B/3.emlx", "x");
  const std::string a = temp.str() + "/A/";
  const std::string b = temp.str() + "/B/";

  DiskFileSystem disk;
  ASSERT_TRUE(disk.SubFolderNames(a).ok());
  temp.write("A/4.emlx", "x");
  // The files of the read that listed the subfolders.
  EXPECT_EQ(*disk.FileNames(a), (Names{"1.emlx"}));
  // Asked again, the folder is read again.
  EXPECT_EQ(*disk.FileNames(a), (Names{"1.emlx", "4.emlx"}));

  fs::create_directory(temp.path() / "A" / "New");
  EXPECT_EQ(*disk.SubFolderNames(a), (Names{"New", "Sub"}));
  temp.write("A/5.emlx", "x");
  ASSERT_TRUE(disk.SubFolderNames(b).ok());
  // Another folder listed since: A's files are read afresh, and B's kept files are not A's.
  EXPECT_EQ(*disk.FileNames(a), (Names{"1.emlx", "4.emlx", "5.emlx"}));
  EXPECT_EQ(*disk.FileNames(b), (Names{"3.emlx"}));

  // A folder removed after its subfolders were listed fails when listed again.
  ASSERT_TRUE(disk.SubFolderNames(b).ok());
  fs::remove_all(temp.path() / "B");
  EXPECT_FALSE(disk.SubFolderNames(b).ok());
  const auto gone = disk.FileNames(b);
  ASSERT_FALSE(gone.ok());
  EXPECT_EQ(describe(gone.failure()), b + ": cannot list the folder: No such file or directory");
}

TEST(DiskFileSystem, AFolderThatCannotBeListedFailsNamingItAndTheReason) {
  testing::TempFolder temp;
  const std::string file = temp.write("notAFolder.emlx", "x");
  const std::string missing = temp.str() + "/gone/";

  DiskFileSystem disk;
  for (const auto& [folder, reason] :
       {std::pair{file, std::string("Not a directory")},
        std::pair{missing, std::string("No such file or directory")}}) {
    for (const auto& listing : {disk.SubFolderNames(folder), disk.FileNames(folder)}) {
      ASSERT_FALSE(listing.ok()) << folder;
      EXPECT_EQ(listing.failure().code, FailureCode::FolderUnlistable);
      EXPECT_EQ(listing.failure().path, folder);
      // Printed as "folder: reason", so the reason need not repeat the folder.
      EXPECT_EQ(describe(listing.failure()), folder + ": cannot list the folder: " + reason);
    }
  }
}

}  // namespace
}  // namespace drovanta
