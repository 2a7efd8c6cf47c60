#pragma once

namespace drovanta {

class StepWindow;

// The add-folder command: asks for a folder, collects every file below it and appends each one
// whose name ends in ".emlx" to the list, then reports how many it added.
void AddFolderCommand(StepWindow& form);

}  // namespace drovanta
