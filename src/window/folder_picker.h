#pragma once

#include <string>

#include "window/window_platform.h"

namespace drovanta {

// Asks the user for a folder under the given title, the dialog opened in `startFolder` (or where
// the platform chooses). Answers "" when nothing was chosen; the answer never holds a NUL and
// keeps the trailing separator exactly as the dialog gave it.
std::string BrowseForFolder(WindowPlatform& platform, const std::string& title,
                            const std::string& startFolder = {});

// Hands a document or web address to the default handler; false when nothing could take it.
// An empty target does nothing.
bool ShellOpen(WindowPlatform& platform, const std::string& target);

}  // namespace drovanta
