#pragma once

#include <string>
#include <vector>

namespace drovanta {

// For each folder path, its last few folder names joined by "/": as few as tell it apart from
// every other folder given ("Inbox"; "Work/Messages" beside "Home/Messages"). A folder whose
// whole path is the end of another's keeps its whole path. The paths are taken as they are:
// give each folder once.
std::vector<std::string> DistinctFolderNames(const std::vector<std::string>& folders);

}  // namespace drovanta
