#pragma once

#include <string>
#include <vector>

#include "shellutil/failure.h"

namespace drovanta {

// What the folder scanner asks of the file system. Names are last path components; both lists
// come in natural name order (see natural_order.h) so every walk is repeatable.
class FileSystemService {
 public:
  virtual ~FileSystemService() = default;

  virtual bool FolderExists(const std::string& path) = 0;
  // Immediate subfolders. Symbolic links to folders are not listed: the walk never follows them.
  virtual Outcome<std::vector<std::string>> SubFolderNames(const std::string& folder) = 0;
  // Files of the folder, links to files included.
  virtual Outcome<std::vector<std::string>> FileNames(const std::string& folder) = 0;
};

// The real file system. The walk asks for a folder's subfolders and then for its files; both
// come from one read of the folder, the files kept for the FileNames call that follows.
class DiskFileSystem : public FileSystemService {
 public:
  bool FolderExists(const std::string& path) override;
  Outcome<std::vector<std::string>> SubFolderNames(const std::string& folder) override;
  Outcome<std::vector<std::string>> FileNames(const std::string& folder) override;

 private:
  // The files of the folder SubFolderNames read last, until FileNames takes them; any other
  // question reads the folder afresh.
  std::string keptFolder_;
  std::vector<std::string> keptFiles_;
  bool filesKept_ = false;
};

}  // namespace drovanta
