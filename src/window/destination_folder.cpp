#include "window/destination_folder.h"

#include <filesystem>
#include <system_error>
#include <unordered_set>

#include "shellutil/path_helpers.h"

namespace drovanta {
namespace {

namespace fs = std::filesystem;

// The path as the file system resolves it, without a trailing separator.
fs::path resolved(const std::string& path) {
  std::error_code error;
  fs::path result = fs::weakly_canonical(fs::path(path), error);
  if (error) result = fs::path(path).lexically_normal();
  if (!result.has_filename() && result.has_relative_path()) result = result.parent_path();
  return result;
}

bool isWithin(const fs::path& inner, const fs::path& outer) {
  auto innerPart = inner.begin();
  for (const fs::path& part : outer) {
    if (part.empty()) continue;  // the empty name after a trailing separator
    if (innerPart == inner.end() || *innerPart != part) return false;
    ++innerPart;
  }
  return true;
}

}  // namespace

FoldersBeingConverted FoldersOfRun(const std::vector<std::string>& addedFolders,
                                   const std::vector<std::string>& messagePaths) {
  FoldersBeingConverted folders;
  std::unordered_set<std::string> seen;
  for (const std::string& folder : addedFolders) {
    if (seen.insert(AddSeparator(folder)).second) folders.trees.push_back(AddSeparator(folder));
  }
  std::string previous;  // messages come folder by folder
  for (const std::string& path : messagePaths) {
    std::string folder = GetFolderPath(path);
    if (folder == previous || folder.empty()) continue;
    previous = folder;
    if (seen.insert(folder).second) folders.messageFolders.push_back(std::move(folder));
  }
  return folders;
}

std::string FolderHolding(const std::string& destination, const FoldersBeingConverted& folders) {
  const fs::path target = resolved(destination);
  for (const std::string& tree : folders.trees) {
    if (isWithin(target, resolved(tree))) return tree;
  }
  for (const std::string& folder : folders.messageFolders) {
    if (target == resolved(folder)) return folder;
  }
  return {};
}

}  // namespace drovanta
