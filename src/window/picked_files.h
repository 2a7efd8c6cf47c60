#pragma once

#include <string>
#include <vector>

#include "shellutil/path_helpers.h"
#include "window/window_platform.h"

namespace drovanta {

// What the open-file dialog hands back for the files the user picked (all in one folder): one
// full path; or the folder, then each name, separated by NULs. When the names do not fit
// maxFileSize characters (every terminating NUL counted, the closing one too), the result is
// the buffer error with the number of picked names that would have fitted.
OpenFileResult PickedFilesResult(const std::vector<std::string>& pickedPaths, int maxFileSize,
                                 char separator = kPathSeparator);

}  // namespace drovanta
