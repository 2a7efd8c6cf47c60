#pragma once

#include <string>

namespace drovanta {

// Creates the folder and every missing folder above it. The last component always counts as a
// folder, with or without a trailing separator. True when the folder exists afterwards.
bool EnsureFolderExists(const std::string& path);

}  // namespace drovanta
