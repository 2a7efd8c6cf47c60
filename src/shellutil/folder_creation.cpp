#include "shellutil/folder_creation.h"

#include <sys/stat.h>

#include <cerrno>
#include <filesystem>
#include <system_error>

namespace drovanta {

namespace {

// Folders made here hold converted mail: private to their owner, like the mail store they
// come from. Folders that exist already keep their modes.
constexpr mode_t kNewFolderMode = 0700;

}  // namespace

bool EnsureFolderExists(const std::string& path) {
  namespace fs = std::filesystem;
  if (path.empty()) return false;
  std::error_code error;
  const fs::path folder(path);
  if (fs::is_directory(folder, error)) return true;
  // Every level from the top down; a level that exists (or is made by someone else meanwhile)
  // is passed by.
  fs::path level;
  for (const fs::path& part : folder) {
    if (part.empty()) continue;
    level /= part;
    if (::mkdir(level.c_str(), kNewFolderMode) == 0 || errno == EEXIST) continue;
    // Some file systems answer another error for a folder that exists (read-only, no access).
    if (!fs::is_directory(level, error)) return false;
  }
  return fs::is_directory(folder, error);
}

}  // namespace drovanta
