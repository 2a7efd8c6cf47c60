#pragma once

#include <string>

namespace drovanta {

class StepWindow;

// Walks `folder` (ending in a separator) and every folder below it, and appends each found file
// whose name ends in ".emlx" to the list, unless listed already, showing the hourglass meanwhile.
// A folder that could not be searched is reported; what was found is added all the same.
// Returns how many it added. The caller holds the window's commands meanwhile (HeldControls),
// since it yields between files.
long AddMessagesBelow(StepWindow& form, const std::string& folder);

// The end of an add: Convert enabled exactly when the list holds files, and the count of files
// this add put in the list shown in a box.
void ReportFilesAdded(StepWindow& form, long added);

// The add-folder command: asks for a folder, collects every file below it and appends each one
// whose name ends in ".emlx" to the list, then reports how many it added.
void AddFolderCommand(StepWindow& form);

}  // namespace drovanta
