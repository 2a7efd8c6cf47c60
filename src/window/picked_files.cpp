#include "window/picked_files.h"

namespace drovanta {
namespace {

// The folder as a dialog reports it: without a trailing separator, except for a root folder,
// which keeps its own.
std::string dialogFolder(const std::string& path, char separator) {
  std::string folder = GetFolderPath(path, separator);
  if (folder.size() > 1 && folder.back() == separator && folder[folder.size() - 2] != separator &&
      folder[folder.size() - 2] != ':') {
    folder.pop_back();
  }
  return folder;
}

}  // namespace

OpenFileResult PickedFilesResult(const std::vector<std::string>& pickedPaths, char separator) {
  OpenFileResult result;
  if (pickedPaths.empty()) return result;
  if (pickedPaths.size() == 1) {
    result.fileName = pickedPaths.front();
    return result;
  }
  result.fileName = dialogFolder(pickedPaths.front(), separator);
  for (const auto& path : pickedPaths) {
    result.fileName += '\0';
    result.fileName += GetFileName(path, separator);
  }
  return result;
}

}  // namespace drovanta
