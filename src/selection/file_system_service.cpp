#include "selection/file_system_service.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "selection/natural_order.h"

namespace drovanta {
namespace {

namespace fs = std::filesystem;

enum class EntryKind { SubFolder, File };

Failure unlistable(const std::string& folder, const std::error_code& error) {
  return Failure{FailureCode::FolderUnlistable, folder,
                 "cannot list the folder: " + error.message()};
}

// One pass over the folder's entries, keeping those of the wanted kind. Subfolders are real
// folders only: a link to a folder is neither descended into nor recorded, so a link to an
// ancestor cannot make the walk endless. Files are regular files reached directly or through a
// link; devices, pipes and dangling links are left out (reading a pipe would block the run).
Outcome<std::vector<std::string>> listEntries(const std::string& folder, EntryKind kind) {
  std::error_code error;
  fs::directory_iterator entries(fs::path(folder), error);
  if (error) return unlistable(folder, error);

  std::vector<std::string> names;
  const fs::directory_iterator end;
  while (entries != end) {
    const fs::directory_entry& entry = *entries;
    std::error_code ignored;
    bool wanted = false;
    if (kind == EntryKind::SubFolder) {
      wanted = !entry.is_symlink(ignored) && entry.is_directory(ignored);
    } else {
      wanted = entry.is_regular_file(ignored);
    }
    if (wanted) names.push_back(entry.path().filename().string());
    entries.increment(error);
    if (error) break;
  }
  // An error while reading on (the folder removed meanwhile, an I/O error) also fails.
  if (error) return unlistable(folder, error);

  std::sort(names.begin(), names.end(),
            [](const std::string& a, const std::string& b) { return NaturalLess(a, b); });
  return names;
}

}  // namespace

bool DiskFileSystem::FolderExists(const std::string& path) {
  if (path.empty()) return false;
  std::error_code ignored;
  return fs::is_directory(fs::path(path), ignored);
}

Outcome<std::vector<std::string>> DiskFileSystem::SubFolderNames(const std::string& folder) {
  return listEntries(folder, EntryKind::SubFolder);
}

Outcome<std::vector<std::string>> DiskFileSystem::FileNames(const std::string& folder) {
  return listEntries(folder, EntryKind::File);
}

}  // namespace drovanta
