// Times the scanner's keyed lists at a million entries and a whole walk of a generated tree,
// each against a plain baseline measured in the same run, and prints the ratios.
//
//   keyed_list_bench [entries] [folders] [files-per-folder]

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <unordered_set>
#include <vector>

#include "bench_timing.h"
#include "selection/keyed_list.h"
#include "selection/path_logger.h"

namespace {

namespace fs = std::filesystem;

using drovanta::bench::bestSeconds;

std::string key(long number) {
  std::string text = "K";
  text += std::to_string(number);
  return text;
}

std::size_t sink = 0;  // keeps the optimiser from dropping the work

}  // namespace

int main(int argc, char** argv) {
  const long entries = argc > 1 ? std::atol(argv[1]) : 1'000'000;
  const int folders = argc > 2 ? std::atoi(argv[2]) : 200;
  const int filesPerFolder = argc > 3 ? std::atoi(argv[3]) : 100;
  constexpr int kRounds = 3;

  // Keyed list: the same values and keys, with and without the key set.
  const double plain = bestSeconds(kRounds, [&] {
    std::vector<std::string> values;
    for (long k = 1; k <= entries; ++k) {
      std::string value = "/Users/ann/Library/Mail/V10/Inbox.mbox/Messages/" + std::to_string(k);
      std::string name = key(k);
      sink += name.size();
      values.push_back(std::move(value));
    }
    sink += values.size();
  });
  // The key store the lists used before: one node per key.
  const double nodeSet = bestSeconds(kRounds, [&] {
    std::vector<std::string> values;
    std::unordered_set<std::string> keys;
    for (long k = 1; k <= entries; ++k) {
      std::string value = "/Users/ann/Library/Mail/V10/Inbox.mbox/Messages/" + std::to_string(k);
      if (keys.insert(key(k)).second) values.push_back(std::move(value));
    }
    sink += values.size();
  });
  const double keyed = bestSeconds(kRounds, [&] {
    drovanta::KeyedList<std::string> list;
    for (long k = 1; k <= entries; ++k) {
      (void)list.Add("/Users/ann/Library/Mail/V10/Inbox.mbox/Messages/" + std::to_string(k),
                     key(k));
    }
    sink += static_cast<std::size_t>(list.Count());
  });
  const double reserved = bestSeconds(kRounds, [&] {
    drovanta::KeyedList<std::string> list;
    list.reserve(entries);
    for (long k = 1; k <= entries; ++k) {
      (void)list.Add("/Users/ann/Library/Mail/V10/Inbox.mbox/Messages/" + std::to_string(k),
                     key(k));
    }
    sink += static_cast<std::size_t>(list.Count());
  });
  std::printf(
      "keyed list, %ld entries: vector only %.3f s, vector + unordered_set %.3f s (x%.2f), "
      "keyed %.3f s (x%.2f), keyed with reserve %.3f s (x%.2f)\n",
      entries, plain, nodeSet, nodeSet / plain, keyed, keyed / plain, reserved, reserved / plain);

  // Walk: pathLogger over the disk against a bare recursive listing of the same tree.
  const fs::path tree =
      fs::temp_directory_path() / ("drovanta-walk-bench-" + std::to_string(::getpid()));
  fs::remove_all(tree);
  for (int folder = 0; folder < folders; ++folder) {
    const fs::path messages = tree / ("Box" + std::to_string(folder) + ".mbox") / "Messages";
    fs::create_directories(messages);
    for (int file = 0; file < filesPerFolder; ++file) {
      std::ofstream(messages / (std::to_string(file) + ".emlx")) << "x";
    }
  }
  const double listing = bestSeconds(kRounds, [&] {
    std::vector<std::string> found;
    for (const auto& entry : fs::recursive_directory_iterator(tree)) {
      if (entry.is_regular_file()) found.push_back(entry.path().string());
    }
    sink += found.size();
  });
  long walked = 0;
  const double walk = bestSeconds(kRounds, [&] {
    drovanta::pathLogger scanner;
    scanner.PathLogInit();
    if (auto failure = scanner.LogPath(tree.string())) std::fprintf(stderr, "walk failed\n");
    walked = scanner.fullFileNames()->Count();
    scanner.Terminate();
  });
  fs::remove_all(tree);
  std::printf("walk of %ld files in %d folders: bare listing %.3f s, pathLogger %.3f s (x%.2f)\n",
              walked, 2 * folders + 1, listing, walk, walk / listing);
  return sink == 0 ? 1 : 0;
}
