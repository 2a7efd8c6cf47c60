#include "window/drop_command.h"

#include "selection/file_system_service.h"
#include "shellutil/path_helpers.h"
#include "window/add_folder_command.h"
#include "window/held_controls.h"
#include "window/selected_files_list.h"

namespace drovanta {

void AddDroppedCommand(const AddingWindow& window, const std::vector<std::string>& paths) {
  DiskFileSystem disk;
  FilesAdded result;
  {
    const auto held = window.holdForAdding();
    for (const std::string& path : paths) {
      if (disk.FolderExists(path)) {
        AddMessagesBelow(window, AddSeparator(path), result);
      } else if (AddNewFileToList(window.list, path)) {
        ++result.added;
      }
      window.list.DoEvents();
    }
  }
  ReportFilesAdded(window, result);
}

}  // namespace drovanta
