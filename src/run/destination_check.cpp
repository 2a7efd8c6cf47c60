#include "run/destination_check.h"

#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <unordered_map>
#include <unordered_set>
#include <utility>

#include "run/row_source.h"
#include "shellutil/folder_creation.h"
#include "shellutil/path_helpers.h"

namespace drovanta {
namespace {

namespace fs = std::filesystem;

// The folder as the file system resolves it (the part that exists), ending with one separator,
// so that "lies in" is a test of the text's start.
std::string resolvedFolder(const std::string& path) {
  std::error_code error;
  fs::path result = fs::weakly_canonical(fs::path(path), error);
  if (error) result = fs::path(path).lexically_normal();
  std::string text = result.generic_string();
  if (text.empty() || text.back() != '/') text += '/';
  return text;
}

}  // namespace

FoldersBeingConverted FoldersOfRun(const std::vector<std::string>& trees,
                                   const std::vector<std::string>& rows) {
  FoldersBeingConverted folders;
  std::unordered_set<std::string> treesSeen;
  for (const std::string& tree : trees) {
    if (treesSeen.insert(AddSeparator(tree)).second) folders.trees.push_back(AddSeparator(tree));
  }
  std::unordered_set<std::string> foldersSeen;
  std::string previous;  // rows come folder by folder, mostly
  for (const std::string& row : rows) {
    std::string path = MessagePathOfRow(row);
    if (path.empty()) continue;
    std::string folder = GetFolderPath(path);
    if (folder == previous) continue;
    previous = folder;
    if (!foldersSeen.insert(folder).second) continue;
    folders.oneMessageEach.push_back(std::move(path));
    // A folder the walk of a tree found lies in it by its very name; the tree covers it.
    const auto inTree = [&folder](const std::string& tree) { return folder.starts_with(tree); };
    if (!folder.empty() && std::none_of(folders.trees.begin(), folders.trees.end(), inTree)) {
      folders.messageFolders.push_back(std::move(folder));
    }
  }
  return folders;
}

std::optional<SourceWrittenInto> FindSourceWrittenInto(const std::string& destination,
                                                       const FoldersBeingConverted& folders,
                                                       const RunOptions& options) {
  std::vector<std::string> trees;
  for (const std::string& tree : folders.trees) trees.push_back(resolvedFolder(tree));
  std::unordered_map<std::string, const std::string*> messageFolders;
  for (const std::string& folder : folders.messageFolders) {
    messageFolders.emplace(resolvedFolder(folder), &folder);
  }
  // A folder written lies anywhere in a tree, but only a message folder itself holds messages:
  // a folder made below it is left alone by the run.
  const auto sourceHolding = [&](const std::string& written) -> const std::string* {
    const std::string resolved = resolvedFolder(written);
    for (std::size_t i = 0; i < trees.size(); ++i) {
      if (resolved.starts_with(trees[i])) return &folders.trees[i];
    }
    const auto found = messageFolders.find(resolved);
    return found != messageFolders.end() ? found->second : nullptr;
  };

  if (const std::string* source = sourceHolding(destination)) {
    return SourceWrittenInto{*source, {}};
  }
  // The mailbox of every message of a folder goes into one output folder, and the folders made
  // on the way to it lie above it, under the destination: one look per output folder suffices.
  std::unordered_set<std::string> outputsSeen;
  for (const std::string& message : folders.oneMessageEach) {
    const std::string output = PlaceForMessage(options, destination, message).outputFolder;
    if (!outputsSeen.insert(output).second) continue;
    if (const std::string* source = sourceHolding(output)) {
      return SourceWrittenInto{*source, GetFolderPath(message)};
    }
  }
  return std::nullopt;
}

MaybeFailure TryWritingInto(const std::string& destination, std::vector<std::string>* made) {
  if (MaybeFailure failure = CreateFolderPath(destination, made)) {
    return Failure{FailureCode::FolderNotCreated, destination,
                   "cannot create the destination folder: " + failure->reason};
  }
  std::string probe = AddSeparator(destination) + ".drovanta-write-test-XXXXXX";
  const int fd = ::mkstemp(probe.data());
  if (fd < 0) {
    return Failure{
        FailureCode::FolderNotCreated, destination,
        std::string("cannot write into the destination folder: ") + std::strerror(errno)};
  }
  ::close(fd);
  ::unlink(probe.c_str());
  return std::nullopt;
}

}  // namespace drovanta
