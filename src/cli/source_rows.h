#pragma once

#include <optional>
#include <string>
#include <vector>

#include "shellutil/failure.h"

namespace drovanta {

// The messages a run converts, in order, and the folders whose walk failed on the way.
struct SourceRows {
  std::vector<std::string> rows;
  std::vector<Failure> failures;
};

// The absolute form of every SOURCE; the first one that does not exist is returned as an
// error path instead.
struct AbsoluteSources {
  std::vector<std::string> paths;
  std::optional<std::string> missing;
};
AbsoluteSources MakeSourcesAbsolute(const std::vector<std::string>& sources);

// A folder is walked and its ".emlx" files kept, in the walk's order; a file is taken as it is.
// Every folder that cannot be listed is recorded as a failure and the walk goes on without it.
SourceRows CollectSourceRows(const std::vector<std::string>& absoluteSources);

}  // namespace drovanta
