#include "selection/path_logger.h"

#include <utility>

#include "shellutil/path_helpers.h"

namespace drovanta {
namespace {

Failure notReady(const std::string& folder) {
  return Failure{FailureCode::ScannerNotReady, folder,
                 "cannot walk the folder: the scanner has no file-system service (PathLogInit "
                 "was not called, or Terminate was)"};
}

// The lists were dropped under the walk (Terminate or PathLogInit from a yield): the queue no
// longer holds the folder the walk was about to visit.
Failure queueLost(const std::string& folder) {
  return Failure{FailureCode::ScannerNotReady, folder,
                 "cannot walk the folder: the scanner was reset during the walk"};
}

template <typename List>
std::shared_ptr<List> existing(std::shared_ptr<List>& field) {
  if (!field) field = std::make_shared<List>();
  return field;
}

// The list itself, made when missing, for one step of the walk without copying its shared
// pointer; the reference is not held across a yield, which may drop the list.
template <typename List>
List& listIn(std::shared_ptr<List>& field) {
  if (!field) field = std::make_shared<List>();
  return *field;
}

// One allocation for the joined path.
std::string joined(const std::string& folder, const std::string& name) {
  std::string path;
  path.reserve(folder.size() + name.size() + 1);
  path.append(folder).append(name);
  return path;
}

}  // namespace

pathLogger::pathLogger(ServiceFactory makeService, YieldPoint yieldPoint)
    : makeService_(makeService ? std::move(makeService)
                               : ServiceFactory([] { return std::make_shared<DiskFileSystem>(); })),
      yieldPoint_(std::move(yieldPoint)) {}

void pathLogger::PathLogInit() {
  fileSystem_ = makeService_();
  yield();
  fullFileNamesOnly_ = true;
  fileNames_.reset();
  pathPointers_.reset();
  pathNames_.reset();
  fullFileNames_.reset();
  unlistableFolders_.clear();
  specialFiles_.clear();
}

MaybeFailure pathLogger::LogPath(const std::string& strPARENT) {
  if (!fileSystem_) return notReady(strPARENT);
  if (!fileSystem_->FolderExists(strPARENT)) return std::nullopt;

  std::int32_t queued = 1;    // j: folders queued in pathNames
  std::int32_t position = 1;  // i: the folder being processed
  count_ = 1;
  yield();
  if (pathNames()->Count() != 0) {
    return Failure{FailureCode::ScannerNotReady, strPARENT,
                   "cannot walk the folder: the scanner holds a walk already (PathLogInit was "
                   "not called since)"};
  }
  pathNames()->Add(AddBackslash(strPARENT));

  for (; position <= queued; ++position) {
    // Every step re-reads the fields: a yield may have run Terminate or PathLogInit.
    const WalkStringList& queue = listIn(pathNames_);
    if (position > queue.Count()) return queueLost(strPARENT);
    // A copy: the queue grows (and may move its storage) while this folder is processed.
    const std::string folder = queue.Item(position);

    if (!fileSystem_) return notReady(strPARENT);
    auto subFolders = fileSystem_->SubFolderNames(folder);
    if (!subFolders) {
      unlistableFolders_.push_back(subFolders.failure());
      yield();
      continue;
    }
    yield();
    for (const std::string& name : *subFolders) {
      ++queued;
      std::string path = joined(folder, name);
      path += kPathSeparator;
      listIn(pathNames_).Add(std::move(path));
      yield();
    }

    if (!fileSystem_) return notReady(strPARENT);
    auto files = fileSystem_->FileNames(folder);
    if (!files) {
      unlistableFolders_.push_back(files.failure());
      yield();
      continue;
    }
    for (SpecialFile& special : fileSystem_->SpecialFiles(folder)) {
      specialFiles_.push_back(
          SpecialFile{joined(folder, special.name), std::move(special.kind), special.folderLink});
    }
    yield();

    if (fullFileNamesOnly_) {
      yield();
      for (const std::string& name : *files) {
        listIn(fullFileNames_).Add(joined(folder, name));
        ++count_;
        yield();
      }
    } else {
      yield();
      for (std::string& name : *files) {
        std::string path = joined(folder, name);
        listIn(fileNames_).Add(std::move(name));
        listIn(fullFileNames_).Add(std::move(path));
        listIn(pathPointers_).Add(position);
        ++count_;
        yield();
      }
    }
  }
  return std::nullopt;
}

void pathLogger::Terminate() {
  yield();
  fileSystem_.reset();
  fileNames_.reset();
  pathNames_.reset();
  pathPointers_.reset();
  fullFileNames_.reset();
}

std::shared_ptr<WalkStringList> pathLogger::fileNames() {
  return existing(fileNames_);
}
std::shared_ptr<WalkStringList> pathLogger::pathNames() {
  return existing(pathNames_);
}
std::shared_ptr<WalkNumberList> pathLogger::pathPointers() {
  return existing(pathPointers_);
}
std::shared_ptr<WalkStringList> pathLogger::fullFileNames() {
  return existing(fullFileNames_);
}

std::string pathLogger::AddBackslash(const std::string& path) const {
  if (!path.empty() && path.back() == kPathSeparator) return path;
  return path + kPathSeparator;
}

void pathLogger::yield() const {
  if (yieldPoint_) yieldPoint_();
}

}  // namespace drovanta
