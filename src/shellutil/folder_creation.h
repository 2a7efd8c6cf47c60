#pragma once

#include <string>

#include "shellutil/failure.h"

namespace drovanta {

// Creates the folder and every missing folder above it. The last component always counts as a
// folder, with or without a trailing separator. True when the folder exists afterwards.
bool EnsureFolderExists(const std::string& path);

// The same, telling why the folder does not exist afterwards: the system's reason for the first
// level that could not be made ("Permission denied"), or "Not a directory" for a file standing
// where a level should be.
MaybeFailure CreateFolderPath(const std::string& path);

}  // namespace drovanta
