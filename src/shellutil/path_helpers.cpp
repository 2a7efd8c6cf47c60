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

std::string PrintableText(std::string_view path) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string shown;
  shown.reserve(path.size());
  const auto hex = [&](unsigned char byte) {
    shown += "\\x";
    shown += kHex[byte >> 4];
    shown += kHex[byte & 0xf];
  };
  for (std::size_t i = 0; i < path.size(); ++i) {
    const auto byte = static_cast<unsigned char>(path[i]);
    if (byte == '\n') {
      shown += "\\n";
    } else if (byte == '\t') {
      shown += "\\t";
    } else if (byte == '\r') {
      shown += "\\r";
    } else if (byte < 0x20 || byte == 0x7f) {
      hex(byte);
    } else if (byte == 0xc2 && i + 1 < path.size() &&
               static_cast<unsigned char>(path[i + 1]) >= 0x80 &&
               static_cast<unsigned char>(path[i + 1]) <= 0x9f) {
      // U+0080 to U+009F: a terminal may take them for control sequence introducers.
      hex(byte);
      hex(static_cast<unsigned char>(path[++i]));
    } else {
      shown += path[i];
    }
  }
  return shown;
}

}  // namespace drovanta
