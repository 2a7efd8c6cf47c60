#include "selection/file_system_service.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
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

enum class EntryKind { SubFolder, File, Special, FolderLink, Neither };

constexpr const char* kFolderLink = "a symbolic link to a folder, not followed";

// What a special file is, from its mode; null for anything else.
const char* specialKindOfMode(mode_t mode) {
  if (S_ISFIFO(mode)) return "a named pipe (FIFO)";
  if (S_ISSOCK(mode)) return "a socket";
  if (S_ISCHR(mode)) return "a character device";
  if (S_ISBLK(mode)) return "a block device";
  return nullptr;
}

const char* specialKindOfType(unsigned char type) {
  switch (type) {
    case DT_FIFO:
      return specialKindOfMode(S_IFIFO);
    case DT_SOCK:
      return specialKindOfMode(S_IFSOCK);
    case DT_CHR:
      return specialKindOfMode(S_IFCHR);
    case DT_BLK:
      return specialKindOfMode(S_IFBLK);
    default:
      return nullptr;
  }
}

// What a link that leads to no file is: its target is missing, it loops, or it cannot be
// followed for another reason.
std::string brokenLinkKind(int error) {
  if (error == ENOENT || error == ENOTDIR) return "a symbolic link to nothing";
  if (error == ELOOP) return "a symbolic link loop";
  return "a symbolic link that cannot be followed (" + std::generic_category().message(error) + ")";
}

// Subfolders are real folders only: a link to a folder is not descended into, so a link to an
// ancestor cannot make the walk endless; it is told as a special file. Files are regular files
// reached directly or through a link. Devices, pipes and sockets, or links to them, are special
// files (reading a pipe would block the run), and so are links that lead to no file. The entry's
// type from the listing decides without a stat call, except for links and file systems that do not
// report types. `kind` is set for a special file.
EntryKind kindOf(int folderHandle, const dirent& entry, std::string& kind) {
  struct stat info {};
  unsigned char type = entry.d_type;
  if (type == DT_UNKNOWN) {
    if (::fstatat(folderHandle, entry.d_name, &info, AT_SYMLINK_NOFOLLOW) != 0) {
      return EntryKind::Neither;
    }
    if (S_ISDIR(info.st_mode)) return EntryKind::SubFolder;
    if (S_ISREG(info.st_mode)) return EntryKind::File;
    if (const char* special = specialKindOfMode(info.st_mode)) {
      kind = special;
      return EntryKind::Special;
    }
    if (!S_ISLNK(info.st_mode)) return EntryKind::Neither;
    type = DT_LNK;
  }
  if (type == DT_DIR) return EntryKind::SubFolder;
  if (type == DT_REG) return EntryKind::File;
  if (const char* special = specialKindOfType(type)) {
    kind = special;
    return EntryKind::Special;
  }
  if (type != DT_LNK) return EntryKind::Neither;
  if (::fstatat(folderHandle, entry.d_name, &info, 0) != 0) {
    kind = brokenLinkKind(errno);
    return EntryKind::Special;
  }
  if (S_ISREG(info.st_mode)) return EntryKind::File;
  if (S_ISDIR(info.st_mode)) return EntryKind::FolderLink;
  if (const char* special = specialKindOfMode(info.st_mode)) {
    kind = std::string("a symbolic link to ") + special;
    return EntryKind::Special;
  }
  return EntryKind::Neither;
}

struct FolderListing {
  std::vector<std::string> subFolders;
  std::vector<std::string> files;
  std::vector<SpecialFile> special;
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
    std::string kind;
    switch (kindOf(handle, *entry, kind)) {
      case EntryKind::SubFolder:
        listing.subFolders.emplace_back(name);
        break;
      case EntryKind::File:
        listing.files.emplace_back(name);
        break;
      case EntryKind::Special:
        listing.special.push_back(SpecialFile{name, std::move(kind)});
        break;
      case EntryKind::FolderLink:
        listing.special.push_back(SpecialFile{name, kFolderLink, true});
        break;
      case EntryKind::Neither:
        break;
    }
  }
  // An error while reading on (the folder removed meanwhile, an I/O error) also fails.
  if (errno != 0) return unlistable(folder, errno);

  SortNaturally(listing.subFolders);
  SortNaturally(listing.files);
  std::sort(listing.special.begin(), listing.special.end(),
            [](const SpecialFile& a, const SpecialFile& b) { return NaturalLess(a.name, b.name); });
  return listing;
}

}  // namespace

bool DiskFileSystem::FolderExists(const std::string& path) {
  if (path.empty()) return false;
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

Outcome<std::vector<std::string>> DiskFileSystem::SubFolderNames(const std::string& folder) {
  filesKept_ = specialKept_ = false;
  auto listing = listFolder(folder);
  if (!listing) return listing.failure();
  keptFolder_ = folder;
  keptFiles_ = std::move(listing->files);
  keptSpecial_ = std::move(listing->special);
  filesKept_ = specialKept_ = true;
  return std::move(listing->subFolders);
}

Outcome<std::vector<std::string>> DiskFileSystem::FileNames(const std::string& folder) {
  if (filesKept_ && folder == keptFolder_) {
    filesKept_ = false;
    return std::move(keptFiles_);
  }
  filesKept_ = specialKept_ = false;
  auto listing = listFolder(folder);
  if (!listing) return listing.failure();
  keptFolder_ = folder;
  keptSpecial_ = std::move(listing->special);
  specialKept_ = true;
  return std::move(listing->files);
}

std::vector<SpecialFile> DiskFileSystem::SpecialFiles(const std::string& folder) {
  if (specialKept_ && folder == keptFolder_) {
    specialKept_ = false;
    return std::move(keptSpecial_);
  }
  specialKept_ = false;
  auto listing = listFolder(folder);
  if (!listing) return {};
  return std::move(listing->special);
}

}  // namespace drovanta
