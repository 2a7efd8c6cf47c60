#include "shellutil/folder_creation.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <system_error>

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

}  // namespace drovanta
