#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "selection/file_system_service.h"
#include "selection/walk_list.h"
#include "shellutil/failure.h"

namespace drovanta {

using WalkStringList = WalkList<std::string>;
using WalkNumberList = WalkList<std::int32_t>;

// Walks a folder tree breadth-first and records every file it finds. The list properties hand
// out the scanner's own lists (shared, not copied), which stay readable after Terminate.
class pathLogger {
 public:
  using ServiceFactory = std::function<std::shared_ptr<FileSystemService>()>;
  using YieldPoint = std::function<void()>;

  // The factory makes the file-system service at PathLogInit (the disk by default); the
  // yield point is called wherever the walk lets the owner handle pending events.
  explicit pathLogger(ServiceFactory makeService = {}, YieldPoint yieldPoint = {});

  void PathLogInit();
  // Returns quietly for a folder that does not exist. Fails when the lists hold a walk
  // already: one walk per PathLogInit. A folder that cannot be listed (no
  // access, removed meanwhile) is recorded in unlistableFolders() and the walk goes on with the
  // rest of its queue; a failure is returned only when the walk itself cannot go on.
  MaybeFailure LogPath(const std::string& strPARENT);
  std::int32_t Count() const { return count_; }
  void Terminate();

  void fullFileNamesOnly(bool fullPath) { fullFileNamesOnly_ = fullPath; }
  bool fullFileNamesOnly() const { return fullFileNamesOnly_; }

  std::shared_ptr<WalkStringList> fileNames();
  std::shared_ptr<WalkStringList> pathNames();
  std::shared_ptr<WalkNumberList> pathPointers();
  std::shared_ptr<WalkStringList> fullFileNames();
  // Every folder of the walks since PathLogInit that could not be listed, named with the
  // reason, in walk order.
  const std::vector<Failure>& unlistableFolders() const { return unlistableFolders_; }
  // Every special file (a named pipe, a socket, a device) the walks since PathLogInit found
  // and left out, as its full path and what it is, in walk order.
  const std::vector<SpecialFile>& specialFiles() const { return specialFiles_; }

 private:
  std::string AddBackslash(const std::string& path) const;
  void yield() const;

  ServiceFactory makeService_;
  YieldPoint yieldPoint_;
  std::shared_ptr<FileSystemService> fileSystem_;
  std::int32_t count_ = 0;
  std::shared_ptr<WalkStringList> fileNames_;
  std::shared_ptr<WalkNumberList> pathPointers_;
  std::shared_ptr<WalkStringList> pathNames_;
  std::shared_ptr<WalkStringList> fullFileNames_;
  bool fullFileNamesOnly_ = false;
  std::vector<Failure> unlistableFolders_;
  std::vector<SpecialFile> specialFiles_;
};

}  // namespace drovanta
