#pragma once

#include <string>
#include <vector>

namespace drovanta {

struct AddingWindow;

// Files and folders dropped onto the list, appended in their order: a folder as the add-folder
// command adds one (every ".emlx" file below it), a file as the add-files command adds a picked
// one (whatever its name). Then the count, as after adding a folder.
void AddDroppedCommand(const AddingWindow& window, const std::vector<std::string>& paths);

}  // namespace drovanta
