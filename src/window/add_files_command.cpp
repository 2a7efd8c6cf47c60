#include "window/add_files_command.h"

#include <QLabel>
#include <QPushButton>
#include <string>
#include <vector>

#include "selection/natural_order.h"
#include "shellutil/path_helpers.h"
#include "window/add_folder_command.h"
#include "window/held_controls.h"
#include "window/selected_files_list.h"
#include "window/window_layout.h"
#include "window/window_platform.h"

namespace drovanta {
namespace {

constexpr long kExplorerMultiSelect = 0x80200;  // explorer-style dialog, multiple selection

std::vector<std::string> splitAtNul(const std::string& text) {
  std::vector<std::string> parts;
  std::string::size_type start = 0;
  for (;;) {
    const auto end = text.find('\0', start);
    if (end == std::string::npos) {
      parts.push_back(text.substr(start));
      return parts;
    }
    parts.push_back(text.substr(start, end - start));
    start = end + 1;
  }
}

void showFailure(WindowPlatform& platform, const std::string& text) {
  platform.messageBox(
      {text, kApplicationTitle, MessageButtons::Ok, MessageIcon::Exclamation, MessageAnswer::Ok});
}

}  // namespace

void AddFilesCommand(const AddingWindow& window) {
  const OpenFileResult picked =
      window.platform.showOpen({"", "Mail Messages (*.emlx)|*.emlx", kExplorerMultiSelect});
  if (picked.error != 0) {
    showFailure(window.platform, std::to_string(picked.error) + ":" + picked.errorDescription);
    return;
  }
  std::string result = picked.fileName;
  // A cancelled dialog leaves the list as it was; only a pick replaces it.
  if (result.empty()) return;
  ResetFileList(window.list);
  if (result.back() != '\0') result += '\0';

  // One pick: the full path then the closing NUL. Several: the folder first, then the names,
  // listed in the natural order the folder walk gives (9.emlx before 10.emlx).
  std::vector<std::string> parts = splitAtNul(result);
  parts.pop_back();  // the empty text after the closing NUL
  std::string prefix;
  if (parts.size() > 1) {
    prefix = parts.front() + kPathSeparator;
    parts.erase(parts.begin());
    SortNaturally(parts);
  }
  {
    // The list is filled through yields: nothing may convert or change it half-filled.
    const auto held = window.holdForAdding();
    window.list.DoEvents();
    for (std::string& name : parts) {
      window.list.DoEvents();
      AddNewFileToList(window.list, prefix + name);
      window.list.DoEvents();
    }
  }
  window.CmdConvert2PDF.setEnabled(true);
}

}  // namespace drovanta
