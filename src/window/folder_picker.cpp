#include "window/folder_picker.h"

namespace drovanta {

std::string BrowseForFolder(WindowPlatform& platform, const std::string& title,
                            const std::string& startFolder) {
  std::string path = platform.browseForFolder(title, startFolder);
  // The shell fills a fixed buffer: whatever follows the first NUL is not part of the path.
  const auto end = path.find('\0');
  if (end != std::string::npos) path.erase(end);
  return path;
}

bool ShellOpen(WindowPlatform& platform, const std::string& target) {
  if (target.empty()) return false;
  return platform.shellOpen(target);
}

}  // namespace drovanta
