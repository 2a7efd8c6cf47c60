#include "selection/file_system_service.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <memory>
#include <system_error>
#include <utility>

#include "selection/natural_order.h"

namespace drovanta {
namespace {

Failure unlistable(const std::string& folder, int error) {
  return Failure{FailureCode::FolderUnlistable, folder,
                 "cannot list the folder: " + std::generic_category().message(error)};
}

enum class EntryKind { SubFolder, File, Neither };

// Subfolders are real folders only: a link to a folder is neither descended into nor recorded,
// so a link to an ancestor cannot make the walk endless. Files are regular files reached
// directly or through a link; devices, pipes and dangling links are left out (reading a pipe
// would block the run). The entry's type from the listing decides without a stat call, except
// for links and file systems that do not report types.
EntryKind kindOf(int folderHandle, const dirent& entry) {
  struct stat info {};
  unsigned char type = entry.d_type;
  if (type == DT_UNKNOWN) {
    if (::fstatat(folderHandle, entry.d_name, &info, AT_SYMLINK_NOFOLLOW) != 0) {
      return EntryKind::Neither;
    }
    if (S_ISDIR(info.st_mode)) return EntryKind::SubFolder;
    if (S_ISREG(info.st_mode)) return EntryKind::File;
    if (!S_ISLNK(info.st_mode)) return EntryKind::Neither;
    type = DT_LNK;
  }
  switch (type) {
    case DT_DIR:
      return EntryKind::SubFolder;
    case DT_REG:
      return EntryKind::File;
    case DT_LNK:
      return ::fstatat(folderHandle, entry.d_name, &info, 0) == 0 && S_ISREG(info.st_mode)
                 ? EntryKind::File
                 : EntryKind::Neither;
    default:
      return EntryKind::Neither;
  }
}

struct FolderListing {
  std::vector<std::string> subFolders;
  std::vector<std::string> files;
};

// One pass over the folder's entries, each kept as a subfolder, a file or neither.
Outcome<FolderListing> listFolder(const std::string& folder) {
  const std::unique_ptr<DIR, int (*)(DIR*)> entries(::opendir(folder.c_str()), &::closedir);
  if (!entries) return unlistable(folder, errno);
  const int handle = ::dirfd(entries.get());

  FolderListing listing;
  for (;;) {
    errno = 0;
    const dirent* entry = ::readdir(entries.get());
    if (entry == nullptr) break;
    const char* name = entry->d_name;
    if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'))) continue;
    switch (kindOf(handle, *entry)) {
      case EntryKind::SubFolder:
        listing.subFolders.emplace_back(name);
        break;
      case EntryKind::File:
        listing.files.emplace_back(name);
        break;
      case EntryKind::Neither:
        break;
    }
  }
  // An error while reading on (the folder removed meanwhile, an I/O error) also fails.
  if (errno != 0) return unlistable(folder, errno);

  SortNaturally(listing.subFolders);
  SortNaturally(listing.files);
  return listing;
}

}  // namespace

bool DiskFileSystem::FolderExists(const std::string& path) {
  if (path.empty()) return false;
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

Outcome<std::vector<std::string>> DiskFileSystem::SubFolderNames(const std::string& folder) {
  filesKept_ = false;
  auto listing = listFolder(folder);
  if (!listing) return listing.failure();
  keptFolder_ = folder;
  keptFiles_ = std::move(listing->files);
  filesKept_ = true;
  return std::move(listing->subFolders);
}

Outcome<std::vector<std::string>> DiskFileSystem::FileNames(const std::string& folder) {
  if (filesKept_ && folder == keptFolder_) {
    filesKept_ = false;
    return std::move(keptFiles_);
  }
  filesKept_ = false;
  auto listing = listFolder(folder);
  if (!listing) return listing.failure();
  return std::move(listing->files);
}

}  // namespace drovanta
