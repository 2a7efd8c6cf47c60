#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "run/conversion_run.h"

namespace drovanta {

// Prints "message -> mailbox" for every row, in the order a run would write them, touching
// nothing on disk. Returns how many distinct mailboxes the rows would fill.
std::size_t PrintDryRun(std::FILE* stream, const std::vector<std::string>& rows,
                        const std::string& destinationFolder, const RunOptions& options);

}  // namespace drovanta
