#pragma once

#include <functional>
#include <string>
#include <unordered_set>
#include <vector>

class QCheckBox;
class QLabel;

namespace drovanta {

class FlexGrid;
class WindowPlatform;

// The selected-files list lives in the window's grid, one full path per row in column 0; it is
// empty exactly when the grid has one row whose text is empty.

// What the list operations touch of the window (StepWindow::fileList()).
struct FileList {
  FlexGrid& grdFiles1;
  // "N files" under the list.
  QLabel& lblCount1;
  // Every path the list holds, so that a path is listed once.
  std::unordered_set<std::string>& listedPaths;
  // The folders added whole (by Add Folder or a drop) since the list was last emptied.
  std::vector<std::string>& addedFolders;
  // Ticked by a row from an Apple Mail mailbox (TickAppleNamesFor); may be null.
  QCheckBox* chkAppleNames;
  // The window's yield (StepWindow::DoEvents).
  std::function<void()> DoEvents;
};

// Empties the list: one row, no text, "0 files". Leaves the Convert button as it is.
void ResetFileList(const FileList& list);
// Appends one entry, exactly as given, and shows the new count. Yields on the way.
void AddFileToList(const FileList& list, std::string path);
// Appends the path unless the list holds it already; true when it was added.
bool AddNewFileToList(const FileList& list, std::string path);
// True when the list holds at least one file.
bool ListHasEntries(const FlexGrid& grdFiles1);
// The paths the list holds, top to bottom.
std::vector<std::string> ListedPaths(const FlexGrid& grdFiles1);
// True when the grid's first cell is empty (the test the clear command makes).
bool FirstEntryIsEmpty(FlexGrid& grdFiles1);
// The clear command: asks, then empties the list on Yes; an empty list is left alone.
void ClearCommand(WindowPlatform& platform, const FileList& list);

}  // namespace drovanta
