#include "window/distinct_folder_names.h"

#include <algorithm>
#include <filesystem>
#include <unordered_map>

namespace drovanta {

std::vector<std::string> DistinctFolderNames(const std::vector<std::string>& folders) {
  // Each folder's names from the last one up; a path's root (and drive) counts as its first
  // name, so that no whole path ends another one with more names.
  std::vector<std::vector<std::string>> parts;
  parts.reserve(folders.size());
  for (const std::string& folder : folders) {
    std::vector<std::string> names;
    const std::filesystem::path path(folder);
    for (const auto& part : path.relative_path()) {
      if (!part.empty()) names.push_back(part.string());
    }
    if (path.has_root_path()) names.insert(names.begin(), path.root_path().string());
    std::reverse(names.begin(), names.end());
    parts.push_back(std::move(names));
  }
  const auto lastNames = [&parts](std::size_t i, std::size_t count) {
    const std::vector<std::string>& names = parts[i];
    std::string joined;
    for (std::size_t k = std::min(count, names.size()); k-- > 0;) {
      const bool root =
          k + 1 == names.size() && (names[k].ends_with('/') || names[k].ends_with('\\'));
      joined += names[k] + (k == 0 || root ? "" : "/");
    }
    return joined;
  };

  std::vector<std::string> result(folders.size());
  std::vector<std::size_t> open(folders.size());
  for (std::size_t i = 0; i < open.size(); ++i) open[i] = i;
  // One more name at a time, for the folders not yet told apart; two folders that share their
  // last n names share every shorter ending too, so every folder takes part in the count. A
  // folder runs out of names at its whole path, which no other folder's ending can equal.
  for (std::size_t count = 1; !open.empty(); ++count) {
    std::unordered_map<std::string, std::size_t> seen;
    for (std::size_t i = 0; i < parts.size(); ++i) ++seen[lastNames(i, count)];
    std::erase_if(open, [&](std::size_t i) {
      std::string name = lastNames(i, count);
      if (seen[name] > 1 && count < parts[i].size()) return false;
      result[i] = std::move(name);
      return true;
    });
  }
  return result;
}

}  // namespace drovanta
