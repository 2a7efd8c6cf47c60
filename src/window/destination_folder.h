#pragma once

#include <string>
#include <vector>

namespace drovanta {

// Where a run reads its messages from: the folders added whole, whose whole trees are being
// converted, and the folders of the listed messages, each once.
struct FoldersBeingConverted {
  std::vector<std::string> trees;
  std::vector<std::string> messageFolders;
};
FoldersBeingConverted FoldersOfRun(const std::vector<std::string>& addedFolders,
                                   const std::vector<std::string>& messagePaths);

// The folder being converted that a destination would write into: a tree that is the
// destination or holds it at any depth, else a message folder that is the destination itself;
// "" when none. Both are compared as the file system resolves them (links, "." and "..", a
// trailing separator).
std::string FolderHolding(const std::string& destination, const FoldersBeingConverted& folders);

}  // namespace drovanta
