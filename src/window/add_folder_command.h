#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "window/selected_files_list.h"

class QPushButton;

namespace drovanta {

class HeldControls;
class WindowPlatform;

// What the add commands (Add, Add Folder, a drop) touch of the window.
struct AddingWindow {
  WindowPlatform& platform;
  FileList list;
  // Enabled when the add leaves files in the list.
  QPushButton& CmdConvert2PDF;
  // Puts the latest values on the displays before the closing box (StepWindow::refreshDisplays).
  std::function<void()> refreshDisplays;
  // Holds the window's commands (Busy::Adding) while the add fills the list through yields, for as
  // long as the returned hold lives.
  std::function<std::unique_ptr<HeldControls>()> holdForAdding;
};

// What an add found and put in the list, and the folders it added in which it found no ".emlx"
// file at all.
struct FilesAdded {
  long added = 0;
  std::vector<std::string> foldersWithout;
};

// Walks `folder` (ending in a separator) and every folder below it, and appends each found file
// whose name ends in ".emlx" to the list, unless listed already, showing the hourglass meanwhile.
// A folder that could not be searched, and a file skipped as no regular file, are reported;
// what was found is added all the same. Counts into `result`. The caller holds the window's
// commands meanwhile (HeldControls), since it yields between files.
void AddMessagesBelow(const AddingWindow& window, const std::string& folder, FilesAdded& result);

// The end of an add: Convert enabled exactly when the list holds files, and the count of files
// this add put in the list shown in a box, with the folders where none were found.
void ReportFilesAdded(const AddingWindow& window, const FilesAdded& result);

// The add-folder command: asks for a folder, collects every file below it and appends each one
// whose name ends in ".emlx" to the list, then reports how many it added.
void AddFolderCommand(const AddingWindow& window);

}  // namespace drovanta
