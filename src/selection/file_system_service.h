#pragma once

#include <string>
#include <vector>

#include "shellutil/failure.h"

namespace drovanta {

// An entry of a folder that is neither a folder nor a regular file (nor a link to a file): a
// named pipe, a socket, a device, a link to nothing, a link loop, or a link to a folder, which
// the walk does not follow. The walk does not record it, but says what it is.
struct SpecialFile {
  std::string name;  // last path component
  std::string kind;  // "a named pipe (FIFO)", "a symbolic link to a socket", "a symbolic link to
                     // nothing", "a symbolic link loop", ...
  // A link to a folder ("a symbolic link to a folder, not followed"): worth telling whatever
  // its name, as messages may lie below it.
  bool folderLink = false;
};

// What the folder scanner asks of the file system. Names are last path components; both lists
// come in natural name order (see natural_order.h) so every walk is repeatable.
class FileSystemService {
 public:
  virtual ~FileSystemService() = default;

  virtual bool FolderExists(const std::string& path) = 0;
  // Immediate subfolders. Symbolic links to folders are not listed: the walk never follows them
  // (they are special files).
  virtual Outcome<std::vector<std::string>> SubFolderNames(const std::string& folder) = 0;
  // Files of the folder, links to files included.
  virtual Outcome<std::vector<std::string>> FileNames(const std::string& folder) = 0;
  // The special files of the folder, in natural name order. Asked after FileNames; a folder
  // that cannot be listed has none.
  virtual std::vector<SpecialFile> SpecialFiles(const std::string& /*folder*/) { return {}; }
};

// The real file system. The walk asks for a folder's subfolders, then for its files and its
// special files; all come from one read of the folder, kept for the calls that follow.
class DiskFileSystem : public FileSystemService {
 public:
  bool FolderExists(const std::string& path) override;
  Outcome<std::vector<std::string>> SubFolderNames(const std::string& folder) override;
  Outcome<std::vector<std::string>> FileNames(const std::string& folder) override;
  std::vector<SpecialFile> SpecialFiles(const std::string& folder) override;

 private:
  // The files of the folder SubFolderNames read last, until FileNames takes them, and its
  // special files, until SpecialFiles takes them; any other question reads the folder afresh.
  std::string keptFolder_;
  std::vector<std::string> keptFiles_;
  std::vector<SpecialFile> keptSpecial_;
  bool filesKept_ = false;
  bool specialKept_ = false;
};

}  // namespace drovanta
