#pragma once

#include <string>
#include <vector>

#include "mbox/stop_request.h"
#include "shellutil/failure.h"

namespace drovanta {

// The messages a run converts, in order, the SOURCEs that are folders, the folders whose walk
// failed on the way, and the special files named like messages that were left out.
struct SourceRows {
  std::vector<std::string> rows;
  std::vector<std::string> folders;
  std::vector<Failure> failures;
  std::vector<Notice> skipped;
  bool stopped = false;  // a stop was asked for during the walk; the rows are incomplete
};

// The absolute form of every SOURCE; the first one that cannot be made absolute or does not
// exist is returned as a failure (its path the SOURCE as given) instead.
struct AbsoluteSources {
  std::vector<std::string> paths;
  MaybeFailure failure;
};
AbsoluteSources MakeSourcesAbsolute(const std::vector<std::string>& sources);

// A folder is walked and its ".emlx" files kept, in the walk's order; a file is taken as it is.
// Every folder that cannot be listed is recorded as a failure and the walk goes on without it;
// a named pipe, socket or device named like a message is recorded as skipped. When `stop` is
// given and asks to stop, the walk ends at its next file or folder with `stopped` set.
SourceRows CollectSourceRows(const std::vector<std::string>& absoluteSources,
                             const StopRequest* stop = nullptr);

}  // namespace drovanta
