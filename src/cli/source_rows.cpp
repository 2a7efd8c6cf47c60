#include "cli/source_rows.h"

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <iterator>
#include <numeric>
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

// Leaves the first of each path where it stands and drops the later ones. Sorting positions by
// path spares a second copy of every path (a hash set of 200,000 paths took 42 MB).
void keepFirstOfEach(std::vector<std::string>& rows) {
  std::vector<std::uint32_t> order(rows.size());
  std::iota(order.begin(), order.end(), 0u);
  std::stable_sort(order.begin(), order.end(),
                   [&rows](std::uint32_t a, std::uint32_t b) { return rows[a] < rows[b]; });
  std::vector<bool> dropped(rows.size());
  for (std::size_t i = 1; i < order.size(); ++i) {
    if (rows[order[i]] == rows[order[i - 1]]) dropped[order[i]] = true;
  }
  std::size_t kept = 0;
  for (std::size_t i = 0; i < rows.size(); ++i) {
    if (dropped[i]) continue;
    if (kept != i) rows[kept] = std::move(rows[i]);  // a string moved onto itself is emptied
    ++kept;
  }
  rows.resize(kept);
}

}  // namespace

SourceRows CollectSourceRows(const std::vector<std::string>& absoluteSources,
                             const StopRequest* stop) {
  SourceRows result;
  const auto stopPoint = [stop] {
    if (stop != nullptr && stop->stopping()) throw WalkStopped{};
  };
  // SOURCEs may overlap (a folder and a folder or file inside it): each file is converted once,
  // where it first comes. One walk lists each file once.
  // The few paths that are not walked rows: SOURCE files and special files told as skipped.
  // A path comes once among them and the rows, where it first comes.
  std::unordered_set<std::string> named;
  for (const auto& source : absoluteSources) {
    std::error_code error;
    if (!std::filesystem::is_directory(source, error)) {
      if (named.insert(source).second) result.rows.push_back(source);
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
      if (!special.folderLink && !HasEmlxName(special.name)) continue;
      if (named.insert(special.name).second) {
        result.skipped.push_back(
            Notice{special.name,
                   special.folderLink ? special.kind : "not a regular file but " + special.kind});
      }
    }
    if (result.stopped) return result;
    // The scanner is dropped next: its paths move into the rows instead of being copied.
    auto paths = scanner.fullFileNames()->takeValues();
    std::erase_if(paths, [](const std::string& path) { return !HasEmlxName(path); });
    if (result.rows.empty()) {
      result.rows = std::move(paths);
    } else {
      result.rows.insert(result.rows.end(), std::make_move_iterator(paths.begin()),
                         std::make_move_iterator(paths.end()));
    }
    try {
      scanner.Terminate();  // it passes the stop point too
    } catch (const WalkStopped&) {
      result.stopped = true;
      return result;
    }
  }
  if (absoluteSources.size() > 1) keepFirstOfEach(result.rows);
  result.rows.shrink_to_fit();  // the walk's list grew by doubling; the run holds it throughout
  return result;
}

}  // namespace drovanta
