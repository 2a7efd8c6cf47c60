#include "cli/source_rows.h"

#include <filesystem>
#include <system_error>
#include <unordered_set>
#include <utility>

#include "selection/emlx_name_filter.h"
#include "selection/path_logger.h"
#include "shellutil/path_helpers.h"

namespace drovanta {

AbsoluteSources MakeSourcesAbsolute(const std::vector<std::string>& sources) {
  AbsoluteSources result;
  for (const auto& source : sources) {
    Outcome<std::string> path = MakeAbsolutePath(source);
    if (!path) {
      result.failure = path.failure();
      return result;
    }
    // The entry itself must exist; a link whose target is gone is still a SOURCE file, and
    // its conversion reports the missing message like any other.
    std::error_code error;
    if (!std::filesystem::exists(std::filesystem::symlink_status(*path, error))) {
      result.failure = Failure{FailureCode::MessageMissing, source, "no such file or folder"};
      return result;
    }
    result.paths.push_back(std::move(*path));
  }
  return result;
}

namespace {

// Thrown from the walk's yield point to leave a walk that was asked to stop.
struct WalkStopped {};

}  // namespace

SourceRows CollectSourceRows(const std::vector<std::string>& absoluteSources,
                             const StopRequest* stop) {
  SourceRows result;
  const auto stopPoint = [stop] {
    if (stop != nullptr && stop->stopping()) throw WalkStopped{};
  };
  // SOURCEs may overlap (a folder and a folder or file inside it): each file is converted once,
  // where it first comes.
  std::unordered_set<std::string> listed;
  const auto keep = [&](std::string&& path) {
    if (listed.insert(path).second) result.rows.push_back(std::move(path));
  };
  for (const auto& source : absoluteSources) {
    std::error_code error;
    if (!std::filesystem::is_directory(source, error)) {
      keep(std::string(source));
      continue;
    }
    result.folders.push_back(source);
    pathLogger scanner({}, stopPoint);
    MaybeFailure failure;
    try {
      scanner.PathLogInit();
      scanner.fullFileNamesOnly(true);
      failure = scanner.LogPath(source);
    } catch (const WalkStopped&) {
      result.stopped = true;
    }
    const auto& unlistable = scanner.unlistableFolders();
    result.failures.insert(result.failures.end(), unlistable.begin(), unlistable.end());
    if (failure) result.failures.push_back(std::move(*failure));
    for (const SpecialFile& special : scanner.specialFiles()) {
      if (HasEmlxName(special.name) && listed.insert(special.name).second) {
        result.skipped.push_back(Notice{special.name, "not a regular file but " + special.kind});
      }
    }
    if (result.stopped) return result;
    // The scanner is dropped next: its paths move into the rows instead of being copied.
    auto paths = scanner.fullFileNames()->takeValues();
    for (auto& path : paths) {
      if (HasEmlxName(path)) keep(std::move(path));
    }
    try {
      scanner.Terminate();  // it passes the stop point too
    } catch (const WalkStopped&) {
      result.stopped = true;
      return result;
    }
  }
  return result;
}

}  // namespace drovanta
