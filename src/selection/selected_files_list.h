#pragma once

#include <string>

namespace drovanta {

class frmStep1;

// The selected-files list lives in the window's grid, one full path per row in column 0; it is
// empty exactly when the grid has one row whose text is empty.

// Empties the list: one row, no text, "0 files". Leaves the Convert button as it is.
void ResetFileList(frmStep1& form);
// Appends one entry, exactly as given, and shows the new count. Yields on the way.
void AddFileToList(frmStep1& form, std::string path);
// True when the grid's first cell is empty (the test the clear command makes).
bool FirstEntryIsEmpty(frmStep1& form);
// The clear command: asks, then empties the list on Yes; an empty list is left alone.
void ClearCommand(frmStep1& form);

}  // namespace drovanta
