#include "window/add_folder_command.h"

#include <QLabel>
#include <QPushButton>
#include <memory>
#include <string>
#include <vector>

#include "selection/emlx_name_filter.h"
#include "selection/path_logger.h"
#include "shellutil/path_helpers.h"
#include "window/first_lines.h"
#include "window/folder_picker.h"
#include "window/held_controls.h"
#include "window/selected_files_list.h"
#include "window/window_layout.h"
#include "window/window_platform.h"

namespace drovanta {
namespace {

// Puts the pointer back however the command ends, a program ended inside a yield included.
class HourglassPointer {
 public:
  explicit HourglassPointer(WindowPlatform& platform) : platform_(platform) { show(); }
  ~HourglassPointer() { restore(); }
  void show() {
    if (!active_) platform_.setMousePointer(MousePointer::Hourglass);
    active_ = true;
  }
  void restore() {
    if (active_) platform_.setMousePointer(MousePointer::Default);
    active_ = false;
  }

 private:
  WindowPlatform& platform_;
  bool active_ = false;
};

}  // namespace

void AddMessagesBelow(const AddingWindow& window, const std::string& folder, FilesAdded& result) {
  WindowPlatform& platform = window.platform;
  const FileList& list = window.list;
  HourglassPointer pointer(platform);
  std::shared_ptr<WalkStringList> found;
  std::vector<Failure> unsearched;
  std::vector<std::string> skipped;
  {
    auto scanner =
        std::make_unique<pathLogger>(pathLogger::ServiceFactory{}, [&list] { list.DoEvents(); });
    list.DoEvents();
    scanner->PathLogInit();
    scanner->fullFileNamesOnly(true);
    if (auto failure = scanner->LogPath(folder)) unsearched.push_back(std::move(*failure));
    unsearched.insert(unsearched.begin(), scanner->unlistableFolders().begin(),
                      scanner->unlistableFolders().end());
    // A pipe, socket, device or broken link named like a message is never read, nor is a folder
    // reached through a link searched, but the user hears of each as skipped.
    for (const SpecialFile& special : scanner->specialFiles()) {
      if (special.folderLink) {
        skipped.push_back("skipped: " + PrintableText(special.name) + ": " + special.kind);
      } else if (HasEmlxName(special.name)) {
        skipped.push_back("skipped: " + PrintableText(special.name) + ": not a regular file but " +
                          special.kind);
      }
    }
    found = scanner->fullFileNames();
    scanner->Terminate();
    list.DoEvents();
  }
  if (!unsearched.empty() || !skipped.empty()) {
    // The first few are named in the box, the whole list is under its details: a tree with
    // many unreadable folders would otherwise make the box taller than the screen.
    pointer.restore();
    std::vector<std::string> lines;
    for (const Failure& failure : unsearched) lines.push_back(PrintableText(describe(failure)));
    lines.insert(lines.end(), skipped.begin(), skipped.end());
    std::string text = unsearched.empty() ? "" : "Some folders could not be searched.";
    if (!skipped.empty()) {
      text += std::string(text.empty() ? "" : " ") + "Some entries were skipped.";
    }
    std::string details;
    text += FirstLinesOf(lines, details);
    if (lines.size() <= kLinesShown) details.clear();  // all named in the box already
    platform.messageBox({text, kApplicationTitle, MessageButtons::Ok, MessageIcon::Exclamation,
                         MessageAnswer::Ok, details});
    pointer.show();
  }

  list.addedFolders.push_back(folder);
  long messages = 0;
  if (found) {
    for (const std::string& path : found->values()) {
      list.DoEvents();
      if (!HasEmlxName(path)) continue;
      ++messages;
      list.DoEvents();
      // A path listed already (the same folder added twice) is converted once.
      if (AddNewFileToList(list, path)) ++result.added;
      list.DoEvents();
    }
  }
  if (messages == 0) result.foldersWithout.push_back(folder);
}

void ReportFilesAdded(const AddingWindow& window, const FilesAdded& result) {
  window.refreshDisplays();
  // An add that found nothing leaves the files listed before convertible.
  window.CmdConvert2PDF.setEnabled(ListHasEntries(window.list.grdFiles1));
  std::string text = std::to_string(result.added) + " Files Added to List.";
  std::string details;
  if (!result.foldersWithout.empty()) {
    std::vector<std::string> lines;
    for (const std::string& folder : result.foldersWithout) lines.push_back(PrintableText(folder));
    text += "\r\nNo .emlx files were found in:" + FirstLinesOf(lines, details);
    if (lines.size() <= kLinesShown) details.clear();  // all named in the box already
  }
  window.platform.messageBox(
      {text, kApplicationTitle, MessageButtons::Ok, MessageIcon::None, MessageAnswer::Ok, details});
}

void AddFolderCommand(const AddingWindow& window) {
  const std::string folder = BrowseForFolder(window.platform, "Choose Source Folder...");
  if (folder.empty()) return;
  FilesAdded result;
  {
    const auto held = window.holdForAdding();
    AddMessagesBelow(window, AddSeparator(folder), result);
  }
  ReportFilesAdded(window, result);
}

}  // namespace drovanta
