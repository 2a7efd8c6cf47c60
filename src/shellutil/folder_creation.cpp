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

MaybeFailure CreateFolderBelow(const std::string& base, const std::string& path,
                               std::vector<std::string>* made) {
  std::string top = base;
  while (top.size() > 1 && top.back() == '/') top.pop_back();
  if (top.empty() || path.compare(0, top.size(), top) != 0 ||
      (path.size() > top.size() && path[top.size()] != '/' && top != "/")) {
    return CreateFolderPath(path, made);
  }
  if (MaybeFailure failure = CreateFolderPath(top, made)) {
    return Failure{FailureCode::FolderNotCreated, path, failure->reason};
  }
  struct Handle {
    int fd;
    ~Handle() {
      if (fd >= 0) ::close(fd);
    }
  } level{::open(top.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)};
  if (level.fd < 0) return notCreated(path, errno);
  std::string levelPath = top == "/" ? std::string() : top;
  std::size_t at = top.size();
  while (at < path.size()) {
    const std::size_t end = std::min(path.find('/', at), path.size());
    const std::string name = path.substr(at, end - at);
    at = end + 1;
    if (name.empty() || name == ".") continue;
    levelPath += '/' + name;
    constexpr int kNoFollow = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
    int next = ::openat(level.fd, name.c_str(), kNoFollow);
    if (next < 0 && errno == ENOENT) {
      if (::mkdirat(level.fd, name.c_str(), kNewFolderMode) == 0) {
        if (made != nullptr) made->push_back(levelPath);
      } else if (errno != EEXIST) {
        return notCreated(path, errno);
      }
      next = ::openat(level.fd, name.c_str(), kNoFollow);
    }
    if (next < 0) {
      const int error = errno;
      struct stat info {};
      if (::fstatat(level.fd, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0) {
        if (S_ISLNK(info.st_mode)) {
          return Failure{FailureCode::FolderNotCreated, path,
                         "a symbolic link stands in the way: " + levelPath + ", not followed"};
        }
        if (!S_ISDIR(info.st_mode)) {
          return Failure{FailureCode::FolderNotCreated, path,
                         "a file stands in the way: " + levelPath};
        }
      }
      return notCreated(path, error);
    }
    ::close(level.fd);
    level.fd = next;
  }
  return std::nullopt;
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
