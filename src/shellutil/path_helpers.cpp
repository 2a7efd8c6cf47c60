#include "shellutil/path_helpers.h"

#include <filesystem>
#include <system_error>

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

Outcome<std::string> MakeAbsolutePath(const std::string& path) {
  namespace fs = std::filesystem;
  if (path.empty()) return Failure{FailureCode::PathUnresolvable, path, "the path is empty"};
  std::error_code error;
  fs::path absolute = fs::absolute(fs::path(path), error);
  if (error) {
    return Failure{FailureCode::PathUnresolvable, path,
                   "cannot be found from the current folder: " + error.message()};
  }
  absolute = absolute.lexically_normal();
  std::string text = absolute.string();
  // lexically_normal keeps a trailing separator for "dir/" and "dir/."; a folder path here names
  // the folder itself, so drop it (but keep a root on its own).
  while (text.size() > 1 && text.back() == kPathSeparator &&
         text != absolute.root_path().string()) {
    text.pop_back();
  }
  return text;
}

namespace {

// The length of the well-formed UTF-8 sequence that starts at path[at] (1 for ASCII), or 0 when
// the byte there does not start one: a stray continuation byte, an overlong form, a surrogate,
// a code point past U+10FFFF or a sequence cut short.
std::size_t utf8SequenceLength(std::string_view path, std::size_t at) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(path[i]); };
  const unsigned char lead = byte(at);
  if (lead < 0x80) return 1;
  std::size_t length = 0;
  unsigned char low = 0x80;  // the range of the second byte, narrower after some leads
  unsigned char high = 0xbf;
  if (lead >= 0xc2 && lead <= 0xdf) {
    length = 2;
  } else if (lead >= 0xe0 && lead <= 0xef) {
    length = 3;
    if (lead == 0xe0) low = 0xa0;
    if (lead == 0xed) high = 0x9f;
  } else if (lead >= 0xf0 && lead <= 0xf4) {
    length = 4;
    if (lead == 0xf0) low = 0x90;
    if (lead == 0xf4) high = 0x8f;
  } else {
    return 0;
  }
  if (path.size() - at < length) return 0;
  if (byte(at + 1) < low || byte(at + 1) > high) return 0;
  for (std::size_t i = 2; i < length; ++i) {
    if (byte(at + i) < 0x80 || byte(at + i) > 0xbf) return 0;
  }
  return length;
}

}  // namespace

std::string PrintableText(std::string_view path) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string shown;
  shown.reserve(path.size());
  const auto hex = [&](unsigned char byte) {
    shown += "\\x";
    shown += kHex[byte >> 4];
    shown += kHex[byte & 0xf];
  };
  for (std::size_t i = 0; i < path.size();) {
    const auto byte = static_cast<unsigned char>(path[i]);
    const std::size_t length = utf8SequenceLength(path, i);
    if (byte == '\n') {
      shown += "\\n";
    } else if (byte == '\t') {
      shown += "\\t";
    } else if (byte == '\r') {
      shown += "\\r";
    } else if (byte < 0x20 || byte == 0x7f || length == 0) {
      // A byte outside UTF-8 is shown as a number too: an 8-bit terminal takes 0x9b for a
      // control sequence introducer.
      hex(byte);
    } else if (byte == 0xc2 && static_cast<unsigned char>(path[i + 1]) <= 0x9f) {
      // U+0080 to U+009F: a terminal may take them for control sequence introducers.
      hex(byte);
      hex(static_cast<unsigned char>(path[i + 1]));
    } else {
      shown.append(path.substr(i, length));
    }
    i += length == 0 ? 1 : length;
  }
  return shown;
}

}  // namespace drovanta
