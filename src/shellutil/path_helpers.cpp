#include "shellutil/path_helpers.h"

#include <filesystem>

namespace drovanta {

std::string GetFileName(const std::string& path, char separator) {
  const auto last = path.rfind(separator);
  return last == std::string::npos ? path : path.substr(last + 1);
}

std::string GetFolderPath(const std::string& path, char separator) {
  return path.substr(0, path.size() - GetFileName(path, separator).size());
}

std::string AddSeparator(const std::string& path, char separator) {
  if (!path.empty() && path.back() == separator) return path;
  return path + separator;
}

std::string MakeAbsolutePath(const std::string& path) {
  namespace fs = std::filesystem;
  fs::path absolute = fs::absolute(fs::path(path)).lexically_normal();
  std::string text = absolute.string();
  // lexically_normal keeps a trailing separator for "dir/" and "dir/."; a folder path here names
  // the folder itself, so drop it (but keep a root on its own).
  while (text.size() > 1 && text.back() == kPathSeparator &&
         text != absolute.root_path().string()) {
    text.pop_back();
  }
  return text;
}

}  // namespace drovanta
