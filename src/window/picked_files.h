#pragma once

#include <string>
#include <vector>

#include "shellutil/path_helpers.h"
#include "window/window_platform.h"

namespace drovanta {

// What the open-file dialog hands back for the files the user picked (all in one folder): one
// full path; or the folder, then each name, separated by NULs. Any number of names fits.
OpenFileResult PickedFilesResult(const std::vector<std::string>& pickedPaths,
                                 char separator = kPathSeparator);

}  // namespace drovanta
