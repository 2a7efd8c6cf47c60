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
#include "window/step_window.h"
#include "window/window_layout.h"

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

long AddMessagesBelow(StepWindow& form, const std::string& folder) {
  WindowPlatform& platform = form.platform();
  HourglassPointer pointer(platform);
  std::shared_ptr<WalkStringList> found;
  std::vector<Failure> scanFailures;
  {
    auto scanner =
        std::make_unique<pathLogger>(pathLogger::ServiceFactory{}, [&form] { form.DoEvents(); });
    form.DoEvents();
    scanner->PathLogInit();
    scanner->fullFileNamesOnly(true);
    if (auto failure = scanner->LogPath(folder)) scanFailures.push_back(std::move(*failure));
    scanFailures.insert(scanFailures.begin(), scanner->unlistableFolders().begin(),
                        scanner->unlistableFolders().end());
    // A pipe, socket or device named like a message is never read, nor is a folder reached
    // through a link searched, but the user hears of each.
    for (const SpecialFile& special : scanner->specialFiles()) {
      if (special.folderLink) {
        scanFailures.push_back(Failure{FailureCode::FolderUnlistable, special.name, special.kind});
      } else if (HasEmlxName(special.name)) {
        scanFailures.push_back(Failure{FailureCode::MessageUnreadable, special.name,
                                       "not a regular file but " + special.kind + ", not added"});
      }
    }
    found = scanner->fullFileNames();
    scanner->Terminate();
    form.DoEvents();
  }
  if (!scanFailures.empty()) {
    // The first few are named in the box, the whole list is under its details: a tree with
    // many unreadable folders would otherwise make the box taller than the screen.
    pointer.restore();
    std::vector<std::string> lines;
    for (const Failure& failure : scanFailures) lines.push_back(PrintableText(describe(failure)));
    std::string details;
    std::string text = "Some files could not be searched.";
    text += FirstLinesOf(lines, details);
    platform.messageBox({text, kApplicationTitle, MessageButtons::Ok, MessageIcon::Exclamation,
                         MessageAnswer::Ok, details});
    pointer.show();
  }

  form.addedFolders.push_back(folder);
  long added = 0;
  if (found) {
    for (const std::string& path : found->values()) {
      form.DoEvents();
      if (!HasEmlxName(path)) continue;
      form.DoEvents();
      // A path listed already (the same folder added twice) is converted once.
      if (AddNewFileToList(form, path)) ++added;
      form.DoEvents();
    }
  }
  return added;
}

void ReportFilesAdded(StepWindow& form, long added) {
  form.refreshDisplays();
  // An add that found nothing leaves the files listed before convertible.
  form.CmdConvert2PDF->setEnabled(ListHasEntries(form));
  form.platform().messageBox({std::to_string(added) + " Files Added to List.", kApplicationTitle,
                              MessageButtons::Ok, MessageIcon::None, MessageAnswer::Ok});
}

void AddFolderCommand(StepWindow& form) {
  const std::string folder = BrowseForFolder(form.platform(), "Choose Source Folder...");
  if (folder.empty()) return;
  long added = 0;
  {
    HeldControls held(form);
    added = AddMessagesBelow(form, AddSeparator(folder));
  }
  ReportFilesAdded(form, added);
}

}  // namespace drovanta
