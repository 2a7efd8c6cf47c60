#include "selection/path_logger.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "support/temp_folder.h"

namespace drovanta {
namespace {

namespace fs = std::filesystem;
using Names = std::vector<std::string>;

template <typename T>
std::vector<T> valuesOf(const std::shared_ptr<WalkList<T>>& list) {
  return list->values();
}

// A file system held in memory that writes every question it is asked into a shared trace, and
// can refuse to list chosen folders.
class TracingFileSystem : public FileSystemService {
 public:
  struct Folder {
    Names subFolders;
    Names files;
    bool unlistable = false;
  };

  TracingFileSystem(std::map<std::string, Folder> folders, std::string* trace)
      : folders_(std::move(folders)), trace_(trace) {}

  bool FolderExists(const std::string& path) override {
    note("exists " + path);
    return folders_.count(path) != 0 || folders_.count(path + "/") != 0;
  }
  Outcome<std::vector<std::string>> SubFolderNames(const std::string& folder) override {
    note("subfolders " + folder);
    return answer(folder, &Folder::subFolders);
  }
  Outcome<std::vector<std::string>> FileNames(const std::string& folder) override {
    note("files " + folder);
    return answer(folder, &Folder::files);
  }

 private:
  void note(const std::string& text) {
    if (trace_) *trace_ += text + "\n";
  }
  Outcome<std::vector<std::string>> answer(const std::string& folder, Names Folder::*list) {
    const auto found = folders_.find(folder);
    if (found == folders_.end() || found->second.unlistable) {
      return Failure{FailureCode::FolderUnlistable, folder, "Permission denied"};
    }
    return found->second.*list;
  }

  std::map<std::string, Folder> folders_;
  std::string* trace_;
};

// The tree of the scanner's worked example: files a and b and a subfolder Sub holding c.
struct ExampleTree {
  testing::TempFolder temp;
  std::string mail;
  ExampleTree() {
    temp.write("Mail/b", "b");
    temp.write("Mail/a", "a");
    temp.write("Mail/Sub/c", "c");
    mail = temp.str() + "/Mail";
  }
};

TEST(PathLogger, ThreeListModeRecordsTheWorkedExample) {
  ExampleTree tree;
  pathLogger scanner;
  scanner.PathLogInit();
  scanner.fullFileNamesOnly(false);
  ASSERT_FALSE(scanner.LogPath(tree.mail));

  const std::string root = tree.mail + "/";
  EXPECT_EQ(valuesOf(scanner.pathNames()), (Names{root, root + "Sub/"}));
  EXPECT_EQ(valuesOf(scanner.fullFileNames()), (Names{root + "a", root + "b", root + "Sub/c"}));
  EXPECT_EQ(valuesOf(scanner.fileNames()), (Names{"a", "b", "c"}));
  EXPECT_EQ(valuesOf(scanner.pathPointers()), (std::vector<std::int32_t>{1, 1, 2}));
  EXPECT_EQ(scanner.Count(), 4);
  for (long k = 1; k <= scanner.fullFileNames()->Count(); ++k) {
    EXPECT_EQ(
        scanner.pathNames()->Item(scanner.pathPointers()->Item(k)) + scanner.fileNames()->Item(k),
        scanner.fullFileNames()->Item(k));
  }
}

TEST(PathLogger, FullNamesOnlyModeFillsOnlyFullNamesAndTheQueue) {
  ExampleTree tree;
  pathLogger scanner;
  EXPECT_FALSE(scanner.fullFileNamesOnly());
  EXPECT_EQ(scanner.Count(), 0);
  scanner.PathLogInit();
  EXPECT_TRUE(scanner.fullFileNamesOnly());
  EXPECT_EQ(scanner.Count(), 0);
  ASSERT_FALSE(scanner.LogPath(tree.mail + "/"));

  const std::string root = tree.mail + "/";
  EXPECT_EQ(valuesOf(scanner.fullFileNames()), (Names{root + "a", root + "b", root + "Sub/c"}));
  EXPECT_EQ(valuesOf(scanner.pathNames()), (Names{root, root + "Sub/"}));
  EXPECT_EQ(scanner.fileNames()->Count(), 0);
  EXPECT_EQ(scanner.pathPointers()->Count(), 0);
  EXPECT_EQ(scanner.Count(), 4);
}

TEST(PathLogger, StartFolderWithOrWithoutSeparatorGivesTheSameResult) {
  ExampleTree tree;
  pathLogger plain;
  plain.PathLogInit();
  ASSERT_FALSE(plain.LogPath(tree.mail));
  pathLogger withSeparator;
  withSeparator.PathLogInit();
  ASSERT_FALSE(withSeparator.LogPath(tree.mail + "/"));
  EXPECT_EQ(valuesOf(plain.pathNames()), valuesOf(withSeparator.pathNames()));
  EXPECT_EQ(valuesOf(plain.fullFileNames()), valuesOf(withSeparator.fullFileNames()));
  EXPECT_EQ(plain.pathNames()->Item(1), tree.mail + "/");
}

TEST(PathLogger, EmptyStartFolderRecordsOnlyItself) {
  testing::TempFolder temp;
  pathLogger scanner;
  scanner.PathLogInit();
  ASSERT_FALSE(scanner.LogPath(temp.str()));
  EXPECT_EQ(valuesOf(scanner.pathNames()), (Names{temp.str() + "/"}));
  EXPECT_EQ(scanner.fullFileNames()->Count(), 0);
  EXPECT_EQ(scanner.Count(), 1);
}

TEST(PathLogger, MissingStartFolderOrEmptyArgumentReturnsQuietly) {
  ExampleTree tree;
  pathLogger scanner;
  scanner.PathLogInit();
  EXPECT_FALSE(scanner.LogPath(tree.temp.str() + "/missing"));
  EXPECT_FALSE(scanner.LogPath(""));
  EXPECT_FALSE(scanner.LogPath(tree.mail + "/a"));  // a file is no folder
  EXPECT_EQ(scanner.Count(), 0);
  EXPECT_EQ(scanner.pathNames()->Count(), 0);

  ASSERT_FALSE(scanner.LogPath(tree.mail));
  EXPECT_FALSE(scanner.LogPath(tree.temp.str() + "/missing"));
  EXPECT_EQ(scanner.Count(), 4);  // kept from the walk
  EXPECT_EQ(scanner.fullFileNames()->Count(), 3);
}

TEST(PathLogger, WalksBreadthFirstInNaturalOrder) {
  testing::TempFolder temp;
  temp.write("Top/Deep/Deeper/5.emlx", "x");
  temp.write("Top/Deep/4.emlx", "x");
  temp.write("Top/10/3.emlx", "x");
  temp.write("Top/9/2.emlx", "x");
  temp.write("Top/10.emlx", "x");
  temp.write("Top/9.emlx", "x");
  pathLogger scanner;
  scanner.PathLogInit();
  ASSERT_FALSE(scanner.LogPath(temp.str() + "/Top"));

  const std::string top = temp.str() + "/Top/";
  EXPECT_EQ(valuesOf(scanner.pathNames()),
            (Names{top, top + "9/", top + "10/", top + "Deep/", top + "Deep/Deeper/"}));
  // Every file of a level comes before any file of the next level.
  EXPECT_EQ(valuesOf(scanner.fullFileNames()),
            (Names{top + "9.emlx", top + "10.emlx", top + "9/2.emlx", top + "10/3.emlx",
                   top + "Deep/4.emlx", top + "Deep/Deeper/5.emlx"}));
  EXPECT_EQ(scanner.Count(), 7);
}

TEST(PathLogger, LinkToAnAncestorEndsTheWalkAndLinksToFilesAreRecorded) {
  testing::TempFolder temp;
  temp.write("Mail/1.emlx", "x");
  temp.write("Mail/Sub/2.emlx", "x");
  const fs::path mail = temp.path() / "Mail";
  fs::create_directory_symlink(mail, mail / "Sub" / "loop");
  fs::create_directory_symlink(temp.path(), mail / "Sub" / "up");
  fs::create_symlink(mail / "1.emlx", mail / "Sub" / "3.emlx");

  pathLogger scanner;
  scanner.PathLogInit();
  ASSERT_FALSE(scanner.LogPath(mail.string()));
  const std::string root = mail.string() + "/";
  EXPECT_EQ(valuesOf(scanner.pathNames()), (Names{root, root + "Sub/"}));
  EXPECT_EQ(valuesOf(scanner.fullFileNames()),
            (Names{root + "1.emlx", root + "Sub/2.emlx", root + "Sub/3.emlx"}));
  EXPECT_EQ(scanner.Count(), 4);
}

// A folder that cannot be listed is named with its reason and passed over; every other folder
// still queued, and every one queued later, is walked.
TEST(PathLogger, UnlistableFoldersAreNamedAndTheWalkGoesOn) {
  const std::map<std::string, TracingFileSystem::Folder> folders = {
      {"/R/", {{"Bad", "Good", "Worse"}, {"1", "2"}}},
      {"/R/Bad/", {{"Hidden"}, {"3"}, true}},
      {"/R/Good/", {{"Deep"}, {"4"}}},
      {"/R/Worse/", {{}, {}, true}},
      {"/R/Good/Deep/", {{}, {"5"}}},
  };
  pathLogger scanner([&] { return std::make_shared<TracingFileSystem>(folders, nullptr); });
  scanner.PathLogInit();
  scanner.fullFileNamesOnly(false);
  ASSERT_FALSE(scanner.LogPath("/R"));
  ASSERT_EQ(scanner.unlistableFolders().size(), 2U);
  EXPECT_EQ(describe(scanner.unlistableFolders()[0]), "/R/Bad/: Permission denied");
  EXPECT_EQ(describe(scanner.unlistableFolders()[1]), "/R/Worse/: Permission denied");
  EXPECT_EQ(valuesOf(scanner.pathNames()),
            (Names{"/R/", "/R/Bad/", "/R/Good/", "/R/Worse/", "/R/Good/Deep/"}));
  EXPECT_EQ(valuesOf(scanner.fullFileNames()),
            (Names{"/R/1", "/R/2", "/R/Good/4", "/R/Good/Deep/5"}));
  EXPECT_EQ(valuesOf(scanner.fileNames()), (Names{"1", "2", "4", "5"}));
  EXPECT_EQ(valuesOf(scanner.pathPointers()), (std::vector<std::int32_t>{1, 1, 3, 5}));
  EXPECT_EQ(scanner.Count(), 5);
  // A new walk starts with none.
  scanner.PathLogInit();
  EXPECT_TRUE(scanner.unlistableFolders().empty());
}

TEST(PathLogger, FolderRemovedDuringTheWalkIsNamedAndTheWalkGoesOn) {
  ExampleTree tree;
  tree.temp.write("Mail/Tail/d", "d");
  pathLogger* self = nullptr;
  bool removed = false;
  // At the first yield after Sub is queued, take Sub away from the disk.
  pathLogger scanner({}, [&] {
    if (!removed && self->pathNames()->Count() == 2) {
      fs::remove_all(tree.mail + "/Sub");
      removed = true;
    }
  });
  self = &scanner;
  scanner.PathLogInit();
  ASSERT_FALSE(scanner.LogPath(tree.mail));
  ASSERT_TRUE(removed);
  ASSERT_EQ(scanner.unlistableFolders().size(), 1U);
  const Failure& failure = scanner.unlistableFolders()[0];
  EXPECT_EQ(failure.code, FailureCode::FolderUnlistable);
  EXPECT_EQ(failure.path, tree.mail + "/Sub/");
  EXPECT_NE(describe(failure).find("No such file or directory"), std::string::npos);
  EXPECT_EQ(valuesOf(scanner.fullFileNames()),
            (Names{tree.mail + "/a", tree.mail + "/b", tree.mail + "/Tail/d"}));
  EXPECT_EQ(scanner.Count(), 4);
}

TEST(PathLogger, YieldsExactlyAtTheListedPoints) {
  std::string trace;
  const std::map<std::string, TracingFileSystem::Folder> folders = {
      {"/Mail/", {{"Sub"}, {"a", "b"}}},
      {"/Mail/Sub/", {{}, {"c"}}},
  };
  pathLogger* self = nullptr;
  pathLogger scanner([&] { return std::make_shared<TracingFileSystem>(folders, &trace); },
                     [&] {
                       trace += "yield " + std::to_string(self->pathNames()->Count()) + "/" +
                                std::to_string(self->fullFileNames()->Count()) + "\n";
                     });
  self = &scanner;
  scanner.PathLogInit();
  trace += "walk\n";
  ASSERT_FALSE(scanner.LogPath("/Mail"));
  trace += "end\n";
  scanner.Terminate();
  EXPECT_EQ(trace,
            "yield 0/0\n"  // PathLogInit, after the service is made
            "walk\n"
            "exists /Mail\n"
            "yield 0/0\n"  // after the existence test
            "subfolders /Mail/\n"
            "yield 1/0\n"  // subfolder list fetched
            "yield 2/0\n"  // Sub queued
            "files /Mail/\n"
            "yield 2/0\n"  // file list fetched
            "yield 2/0\n"  // before the file loop
            "yield 2/1\n"  // a
            "yield 2/2\n"  // b
            "subfolders /Mail/Sub/\n"
            "yield 2/2\n"
            "files /Mail/Sub/\n"
            "yield 2/2\n"
            "yield 2/2\n"
            "yield 2/3\n"  // c
            "end\n"
            "yield 2/3\n");  // Terminate, before anything is dropped
}

TEST(PathLogger, WalkingWithoutInitFails) {
  ExampleTree tree;
  pathLogger scanner;
  MaybeFailure failure = scanner.LogPath(tree.mail);
  ASSERT_TRUE(failure);
  EXPECT_EQ(failure->code, FailureCode::ScannerNotReady);

  scanner.PathLogInit();
  ASSERT_FALSE(scanner.LogPath(tree.mail));
  scanner.Terminate();
  failure = scanner.LogPath(tree.mail);
  ASSERT_TRUE(failure);
  EXPECT_EQ(failure->code, FailureCode::ScannerNotReady);
  EXPECT_EQ(scanner.Count(), 4);
  EXPECT_TRUE(scanner.fullFileNamesOnly());
}

TEST(PathLogger, SecondWalkWithoutInitFailsAndLeavesTheFirstAsItWas) {
  ExampleTree tree;
  testing::TempFolder other;
  other.write("x", "x");
  pathLogger scanner;
  scanner.PathLogInit();
  ASSERT_FALSE(scanner.LogPath(tree.mail));
  const MaybeFailure failure = scanner.LogPath(other.str());
  ASSERT_TRUE(failure);
  EXPECT_EQ(failure->code, FailureCode::ScannerNotReady);
  EXPECT_EQ(failure->path, other.str());
  EXPECT_EQ(scanner.Count(), 1);
  EXPECT_EQ(scanner.fullFileNames()->Count(), 3);
  EXPECT_EQ(scanner.pathNames()->Item(1), tree.mail + "/");

  // With PathLogInit in between, the second walk starts afresh.
  scanner.PathLogInit();
  ASSERT_FALSE(scanner.LogPath(other.str()));
  EXPECT_EQ(valuesOf(scanner.fullFileNames()), (Names{other.str() + "/x"}));
  EXPECT_EQ(scanner.Count(), 2);
}

TEST(PathLogger, ListsAreSharedAndOutliveTerminate) {
  ExampleTree tree;
  pathLogger scanner;
  scanner.PathLogInit();
  // Taken before the walk: the same list, so it sees the walk's additions.
  const auto early = scanner.fullFileNames();
  ASSERT_FALSE(scanner.LogPath(tree.mail));
  EXPECT_EQ(early->Count(), 3);
  EXPECT_EQ(early, scanner.fullFileNames());

  scanner.Terminate();
  EXPECT_EQ(early->Count(), 3);
  EXPECT_EQ(early->Item(3), tree.mail + "/Sub/c");
  const auto after = scanner.fullFileNames();
  EXPECT_NE(after, early);
  EXPECT_EQ(after->Count(), 0);
  EXPECT_EQ(after, scanner.fullFileNames());  // created once, then kept
  EXPECT_EQ(scanner.Count(), 4);

  // PathLogInit drops the lists too, without touching a holder's copy.
  const auto queue = scanner.pathNames();
  scanner.PathLogInit();
  EXPECT_NE(scanner.pathNames(), queue);
}

TEST(PathLogger, ResetFromAYieldEndsTheWalkWithAFailure) {
  ExampleTree tree;
  pathLogger* self = nullptr;
  int yields = 0;
  pathLogger scanner({}, [&] {
    if (++yields == 4) self->Terminate();  // a command run inside the yield
  });
  self = &scanner;
  scanner.PathLogInit();
  const MaybeFailure failure = scanner.LogPath(tree.mail);
  ASSERT_TRUE(failure);
  EXPECT_EQ(failure->code, FailureCode::ScannerNotReady);
  EXPECT_EQ(failure->path, tree.mail);
}

}  // namespace
}  // namespace drovanta
