#include "window/drop_command.h"

#include "selection/file_system_service.h"
#include "shellutil/path_helpers.h"
#include "window/add_folder_command.h"
#include "window/held_controls.h"
#include "window/selected_files_list.h"
#include "window/step_window.h"

namespace drovanta {

void AddDroppedCommand(StepWindow& form, const std::vector<std::string>& paths) {
  DiskFileSystem disk;
  FilesAdded result;
  {
    HeldControls held(form, Busy::Adding);
    for (const std::string& path : paths) {
      if (disk.FolderExists(path)) {
        AddMessagesBelow(form, AddSeparator(path), result);
      } else if (AddNewFileToList(form, path)) {
        ++result.added;
      }
      form.DoEvents();
    }
  }
  ReportFilesAdded(form, result);
}

}  // namespace drovanta
