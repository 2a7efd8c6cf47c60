#pragma once

#include <string>

namespace drovanta {

// The add-folder test: lower-cased and trimmed of spaces, the path's last five characters are
// ".emlx". Shared by the window and the command line.
bool HasEmlxName(const std::string& path);

}  // namespace drovanta
