#include "shellutil/folder_creation.h"

#include <filesystem>
#include <system_error>

namespace drovanta {

bool EnsureFolderExists(const std::string& path) {
  namespace fs = std::filesystem;
  if (path.empty()) return false;
  std::error_code error;
  const fs::path folder(path);
  if (fs::is_directory(folder, error)) return true;
  fs::create_directories(folder, error);
  return !error && fs::is_directory(folder, error);
}

}  // namespace drovanta
