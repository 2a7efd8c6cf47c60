// Times the folder walk over a tree of messages (by default build/bench/trees/realistic, made
// by bench/run-bench.sh) against a bare recursive listing of the same tree measured in the same
// run, and against the two-pass std::filesystem listing the scanner used before it read each
// folder once. Prints the ratios.
//
//   walk_bench [tree] [rounds]

#include <dirent.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include "bench_timing.h"
#include "cli/source_rows.h"
#include "selection/file_system_service.h"
#include "selection/natural_order.h"
#include "selection/path_logger.h"

namespace {

namespace fs = std::filesystem;

using drovanta::bench::bestSeconds;

// The least any walk must do: read every folder once and keep each file's full path, unsorted.
void bareListing(const std::string& folder, std::vector<std::string>& found) {
  DIR* entries = ::opendir(folder.c_str());
  if (entries == nullptr) return;
  while (const dirent* entry = ::readdir(entries)) {
    const std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    if (entry->d_type == DT_DIR) {
      bareListing(folder + "/" + name, found);
    } else if (entry->d_type == DT_REG) {
      found.push_back(folder + "/" + name);
    }
  }
  ::closedir(entries);
}

// The scanner's earlier service: each folder listed twice through std::filesystem, once for
// the subfolders and once for the files.
class TwoPassFileSystem : public drovanta::FileSystemService {
 public:
  bool FolderExists(const std::string& path) override {
    std::error_code ignored;
    return !path.empty() && fs::is_directory(fs::path(path), ignored);
  }
  drovanta::Outcome<std::vector<std::string>> SubFolderNames(const std::string& folder) override {
    return list(folder, true);
  }
  drovanta::Outcome<std::vector<std::string>> FileNames(const std::string& folder) override {
    return list(folder, false);
  }

 private:
  static drovanta::Outcome<std::vector<std::string>> list(const std::string& folder,
                                                          bool subFolders) {
    std::error_code error;
    fs::directory_iterator entries(fs::path(folder), error);
    if (error) {
      return drovanta::Failure{drovanta::FailureCode::FolderUnlistable, folder, error.message()};
    }
    std::vector<std::string> names;
    for (const fs::directory_iterator end; entries != end; entries.increment(error)) {
      std::error_code ignored;
      const bool wanted = subFolders
                              ? !entries->is_symlink(ignored) && entries->is_directory(ignored)
                              : entries->is_regular_file(ignored);
      if (wanted) names.push_back(entries->path().filename().string());
    }
    std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
      return drovanta::NaturalLess(a, b);
    });
    return names;
  }
};

long walkWith(const std::string& tree, drovanta::pathLogger::ServiceFactory factory) {
  drovanta::pathLogger scanner(std::move(factory));
  scanner.PathLogInit();
  if (auto failure = scanner.LogPath(tree)) {
    std::fprintf(stderr, "walk_bench: %s\n", drovanta::describe(*failure).c_str());
    std::exit(1);
  }
  const long files = scanner.fullFileNames()->Count();
  scanner.Terminate();
  return files;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string tree = fs::absolute(argc > 1 ? argv[1] : DROVANTA_BENCH_TREE).string();
  const int rounds = argc > 2 ? std::atoi(argv[2]) : 9;
  if (!fs::is_directory(tree)) {
    std::fprintf(stderr, "walk_bench: %s: no tree there (bench/run-bench.sh makes it)\n",
                 tree.c_str());
    return 2;
  }

  long listed = 0;
  long before = 0;
  long walked = 0;
  long rows = 0;
  // Alternate the contenders round by round so that a busy machine slows them alike.
  double bare = 1e30, twoPass = 1e30, walk = 1e30, command = 1e30;
  for (int round = 0; round < rounds; ++round) {
    bare = std::min(bare, bestSeconds(1, [&] {
                      std::vector<std::string> found;
                      bareListing(tree, found);
                      listed = static_cast<long>(found.size());
                    }));
    twoPass = std::min(twoPass, bestSeconds(1, [&] {
                         before =
                             walkWith(tree, [] { return std::make_shared<TwoPassFileSystem>(); });
                       }));
    walk = std::min(walk, bestSeconds(1, [&] { walked = walkWith(tree, {}); }));
    command = std::min(command, bestSeconds(1, [&] {
                         rows = static_cast<long>(drovanta::CollectSourceRows({tree}).rows.size());
                       }));
  }
  if (before != walked || listed < walked) {
    std::fprintf(stderr, "walk_bench: the walks disagree: %ld, %ld, %ld files\n", listed, before,
                 walked);
    return 1;
  }
  std::printf(
      "walk of %ld files (%ld .emlx rows), best of %d: bare listing %.4f s; two-pass walk %.4f s "
      "(x%.2f); walk %.4f s (x%.2f, %.2f of two-pass); command-line rows %.4f s (x%.2f)\n",
      walked, rows, rounds, bare, twoPass, twoPass / bare, walk, walk / bare, walk / twoPass,
      command, command / bare);
  return 0;
}
