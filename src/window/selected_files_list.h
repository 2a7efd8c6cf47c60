#pragma once

#include <string>
#include <vector>

namespace drovanta {

class StepWindow;

// The selected-files list lives in the window's grid, one full path per row in column 0; it is
// empty exactly when the grid has one row whose text is empty.

// Empties the list: one row, no text, "0 files". Leaves the Convert button as it is.
void ResetFileList(StepWindow& form);
// Appends one entry, exactly as given, and shows the new count. Yields on the way.
void AddFileToList(StepWindow& form, std::string path);
// Appends the path unless the list holds it already; true when it was added.
bool AddNewFileToList(StepWindow& form, std::string path);
// True when the list holds at least one file.
bool ListHasEntries(StepWindow& form);
// The paths the list holds, top to bottom.
std::vector<std::string> ListedPaths(StepWindow& form);
// True when the grid's first cell is empty (the test the clear command makes).
bool FirstEntryIsEmpty(StepWindow& form);
// The clear command: asks, then empties the list on Yes; an empty list is left alone.
void ClearCommand(StepWindow& form);

}  // namespace drovanta
