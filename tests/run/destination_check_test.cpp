#include "run/destination_check.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "mbox/apple_mailbox_naming.h"
#include "support/temp_folder.h"

namespace drovanta {
namespace {

namespace fs = std::filesystem;
using Strings = std::vector<std::string>;

// "{R}" stands for the test's own folder, which holds real folders and links.
std::string at(const testing::TempFolder& root, std::string path) {
  for (std::size_t found; (found = path.find("{R}")) != std::string::npos;) {
    path.replace(found, 3, root.str());
  }
  return path;
}

TEST(DestinationCheck, RefusesEveryDestinationThatWouldWriteIntoAFolderBeingConverted) {
  struct Case {
    const char* name;
    Strings trees;
    Strings rows;
    bool appleNames;
    std::string destination;
    std::string source;      // "" when nothing is refused
    std::string messagesOf;  // "" when the destination itself lies in the source
  };
  const Strings tree = {"{R}/m/Tree"};
  const Strings treeRows = {"{R}/m/Tree/A/1.emlx", "{R}/m/Tree/A/2.emlx", "{R}/p/Picked/3.emlx"};
  const Strings library = {"{R}/lib/Acct"};
  const Strings libraryRows = {"{R}/lib/Acct/INBOX.mbox/Messages/1.emlx",
                               "{R}/lib/Acct/INBOX.mbox/A/Messages/2.emlx"};
  const std::vector<Case> cases = {
      {"the tree", tree, treeRows, false, "{R}/m/Tree", "{R}/m/Tree/", ""},
      {"deep in the tree", tree, treeRows, false, "{R}/m/Tree/A/../B/C/", "{R}/m/Tree/", ""},
      {"a link into the tree", tree, treeRows, false, "{R}/link/Tree/new", "{R}/m/Tree/", ""},
      {"beside the tree", tree, treeRows, false, "{R}/m/TreeOut", "", ""},
      {"above the tree", tree, treeRows, false, "{R}/m", "", ""},
      {"a picked message's folder", tree, treeRows, false, "{R}/p/Picked/", "{R}/p/Picked/", ""},
      {"below a picked message's folder", tree, treeRows, false, "{R}/p/Picked/Out", "", ""},
      {"the root: every mirror is its source", tree, treeRows, false, "/", "{R}/m/Tree/",
       "{R}/m/Tree/A/"},
      {"the root, picked messages only",
       {},
       treeRows,
       false,
       "/",
       "{R}/m/Tree/A/",
       "{R}/m/Tree/A/"},
      {"the mirror of one tree is another",
       {"{R}/a", "{R}/x{R}/a"},
       {"{R}/a/1.emlx"},
       false,
       "{R}/x",
       "{R}/x{R}/a/",
       "{R}/a/"},
      {"the same, through a link",
       {"{R}/a", "{R}/x{R}/a"},
       {"{R}/a/1.emlx"},
       false,
       "{R}/linkx",
       "{R}/x{R}/a/",
       "{R}/a/"},
      {"Apple names: the account goes into the tree", library, libraryRows, true, "{R}/lib",
       "{R}/lib/Acct/", "{R}/lib/Acct/INBOX.mbox/Messages/"},
      {"Apple names: the root holds no source", library, libraryRows, true, "/", "", ""},
      {"Apple names: beside the library", library, libraryRows, true, "{R}/out", "", ""},
      {"folder names into the same: outside", library, libraryRows, false, "{R}/lib", "", ""},
  };
  testing::TempFolder root;
  for (const char* folder : {"m/Tree/A", "m/Tree/B", "p/Picked", "a", "lib/Acct/INBOX.mbox"}) {
    fs::create_directories(root.path() / folder);
  }
  fs::create_directories(at(root, "{R}/x{R}/a"));
  fs::create_directory_symlink(root.path() / "m", root.path() / "link");
  fs::create_directory_symlink(root.path() / "x", root.path() / "linkx");

  for (const Case& c : cases) {
    Strings trees, rows;
    for (const std::string& path : c.trees) trees.push_back(at(root, path));
    for (const std::string& path : c.rows) rows.push_back(at(root, path));
    RunOptions options;
    if (c.appleNames) options.placer = PlanAppleLayout(rows).placer;
    const auto written =
        FindSourceWrittenInto(at(root, c.destination), FoldersOfRun(trees, rows), options);
    EXPECT_EQ(written ? written->source : "", at(root, c.source)) << c.name;
    EXPECT_EQ(written ? written->messagesOf : "", at(root, c.messagesOf)) << c.name;
  }
}

}  // namespace
}  // namespace drovanta
