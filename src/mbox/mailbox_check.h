#pragma once

#include <string>

#include "shellutil/failure.h"

namespace drovanta {

// Whether the open file at `path` may take records: a failure naming it when it holds bytes
// but does not start with "From " (it is not an mbox, and appending would bury another
// program's file under ours). An empty file, or one that cannot be read, passes.
MaybeFailure NotAnMbox(int fd, const std::string& path);

}  // namespace drovanta
