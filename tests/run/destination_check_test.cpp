#include "run/destination_check.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "mbox/apple_mailbox_naming.h"
#include "support/temp_folder.h"

namespace drovanta {
namespace {

namespace fs = std::filesystem;
using Strings = std::vector<std::string>;

TEST(DestinationCheck, RefusesEveryDestinationUnderWhichTheRunWritesIntoAFolderBeingConverted) {
  // Real folders and links under the test's own folder, written "{R}".
  testing::TempFolder root;
  const auto at = [&root](std::string path) {
    for (std::size_t i; (i = path.find("{R}")) != std::string::npos;)
      path.replace(i, 3, root.str());
    return path;
  };
  for (const char* folder : {"m/Tree/A", "p", "a", "lib/Acct/INBOX.mbox"}) {
    fs::create_directories(root.path() / folder);
  }
  fs::create_directories(at("{R}/x{R}/a"));
  fs::create_directory_symlink(root.path() / "m", root.path() / "link");
  fs::create_directory_symlink(root.path() / "x", root.path() / "linkx");
  const Strings tree = {"{R}/m/Tree"}, treeRows = {"{R}/m/Tree/A/1.emlx", "{R}/p/2.emlx"};
  const Strings library = {"{R}/lib/Acct"}, libraryRows = {"{R}/lib/Acct/INBOX.mbox/1.emlx"};
  struct Case {
    Strings trees, rows;
    bool appleNames;
    std::string destination, source, messagesOf;  // source "": not refused
  };
  for (const Case& c : std::vector<Case>{
           {tree, treeRows, false, "{R}/m/Tree/A/../B/", "{R}/m/Tree/", ""},
           {tree, treeRows, false, "{R}/link/Tree/new", "{R}/m/Tree/", ""},
           {tree, treeRows, false, "{R}/m", "", ""},
           {tree, treeRows, false, "{R}/p/", "{R}/p/", ""},  // a picked message's folder
           {tree, treeRows, false, "{R}/p/Out", "", ""},
           {tree, treeRows, false, "/", "{R}/m/Tree/", "{R}/m/Tree/A/"},  // each mirror is itself
           {{}, treeRows, false, "/", "{R}/m/Tree/A/", "{R}/m/Tree/A/"},
           // Under x (reached through a link) the mirror of one tree is the other.
           {{"{R}/a", "{R}/x{R}/a"}, {"{R}/a/1.emlx"}, false, "{R}/linkx", "{R}/x{R}/a/", "{R}/a/"},
           {library, libraryRows, true, "{R}/lib", "{R}/lib/Acct/", "{R}/lib/Acct/INBOX.mbox/"},
           {library, libraryRows, true, "/", "", ""},
           {library, libraryRows, false, "{R}/lib", "", ""}}) {
    Strings trees, rows;
    for (const std::string& path : c.trees) trees.push_back(at(path));
    for (const std::string& path : c.rows) rows.push_back(at(path));
    RunOptions options;
    if (c.appleNames) options.placer = PlanAppleLayout(rows).placer;
    const auto written =
        FindSourceWrittenInto(at(c.destination), FoldersOfRun(trees, rows), options);
    EXPECT_EQ(written ? written->source + " " + written->messagesOf : " ",
              at(c.source + " " + c.messagesOf))
        << c.destination;
  }
}

}  // namespace
}  // namespace drovanta
