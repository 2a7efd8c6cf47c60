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

OpenFileResult PickedFilesResult(const std::vector<std::string>& pickedPaths, int maxFileSize,
                                 char separator) {
  OpenFileResult result;
  if (pickedPaths.empty()) return result;
  const auto limit = static_cast<std::size_t>(maxFileSize < 0 ? 0 : maxFileSize);

  if (pickedPaths.size() == 1) {
    // The path, its NUL and the closing NUL.
    if (pickedPaths.front().size() + 2 > limit) {
      result.error = kBufferTooSmall;
      return result;
    }
    result.fileName = pickedPaths.front();
    return result;
  }

  const std::string folder = dialogFolder(pickedPaths.front(), separator);
  std::string text = folder;
  std::size_t used = folder.size() + 1 + 1;  // the folder's NUL and the closing NUL
  int fitted = 0;
  bool overflow = false;
  for (const auto& path : pickedPaths) {
    const std::string name = GetFileName(path, separator);
    used += name.size() + 1;
    if (used > limit) {
      overflow = true;
      break;
    }
    ++fitted;
    text += '\0';
    text += name;
  }
  if (overflow) {
    result.error = kBufferTooSmall;
    result.errorDescription = "The buffer is too small for the picked names";
    result.maxFiles = fitted;
    return result;
  }
  result.fileName = std::move(text);
  return result;
}

}  // namespace drovanta
