#include "shellutil/folder_creation.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <set>
#include <system_error>
#include <thread>

namespace drovanta {

namespace {

// Folders made here hold converted mail: private to their owner, like the mail store they
// come from. Folders that exist already keep their modes.
constexpr mode_t kNewFolderMode = 0700;

Failure notCreated(const std::string& path, int error) {
  return Failure{FailureCode::FolderNotCreated, path, std::generic_category().message(error)};
}

}  // namespace

bool EnsureFolderExists(const std::string& path) {
  return !CreateFolderPath(path);
}

MaybeFailure CreateFolderPath(const std::string& path, std::vector<std::string>* made) {
  namespace fs = std::filesystem;
  if (path.empty()) return notCreated(path, ENOENT);
  std::error_code error;
  const fs::path folder(path);
  if (fs::is_directory(folder, error)) return std::nullopt;
  // Every level from the top down; a level that exists (or is made by someone else meanwhile)
  // is passed by.
  fs::path level;
  for (const fs::path& part : folder) {
    if (part.empty()) continue;
    level /= part;
    if (::mkdir(level.c_str(), kNewFolderMode) == 0) {
      if (made != nullptr) made->push_back(level.string());
      continue;
    }
    if (errno == EEXIST) continue;
    const int made = errno;
    // Some file systems answer another error for a folder that exists (read-only, no access).
    if (!fs::is_directory(level, error)) return notCreated(path, made);
  }
  if (fs::is_directory(folder, error)) return std::nullopt;
  // The last level exists but is no folder (or cannot be looked at).
  return notCreated(path, error ? error.value() : ENOTDIR);
}

void RemoveFoldersLeftEmpty(std::vector<std::string> folders) {
  // A folder's path is longer than its parent's: the longest go first.
  std::sort(folders.begin(), folders.end(),
            [](const std::string& a, const std::string& b) { return a.size() > b.size(); });
  for (const std::string& folder : folders) ::rmdir(folder.c_str());
}

constexpr std::size_t kFoldersFlushedAtOnce = 16;

std::vector<Failure> FlushFoldersHolding(const std::vector<std::string>& paths) {
  namespace fs = std::filesystem;
  std::set<std::string> folders;
  for (const std::string& path : paths) {
    fs::path holding = fs::path(path).lexically_normal();
    if (!holding.has_filename()) holding = holding.parent_path();  // "a/b/" names b
    holding = holding.parent_path();
    folders.insert(holding.empty() ? std::string(".") : holding.string());
  }
  // Flushed several at once: each flush of a folder whose entries are already written still
  // waits for the device's cache to be emptied, and flushes asked for together share that wait.
  const std::vector<std::string> list(folders.begin(), folders.end());
  std::vector<int> errors(list.size(), 0);
  std::atomic<std::size_t> next{0};
  const auto flushSome = [&] {
    for (std::size_t i = next++; i < list.size(); i = next++) {
      const int fd = ::open(list[i].c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
      if (fd < 0 || ::fsync(fd) != 0) errors[i] = errno;
      if (fd >= 0) ::close(fd);
    }
  };
  {
    std::vector<std::jthread> helpers;
    for (std::size_t i = 1; i < std::min(list.size(), kFoldersFlushedAtOnce); ++i) {
      helpers.emplace_back(flushSome);
    }
    flushSome();
  }
  std::vector<Failure> failures;
  for (std::size_t i = 0; i < list.size(); ++i) {
    if (errors[i] == 0) continue;
    failures.push_back(
        Failure{FailureCode::FolderNotCreated, list[i],
                std::string("not flushed to the disk: ") + std::strerror(errors[i])});
  }
  return failures;
}

}  // namespace drovanta
