#include "window/selected_files_list.h"

#include <QLabel>
#include <QPushButton>

#include "window/conversion_options.h"
#include "window/flex_grid.h"
#include "window/window_layout.h"
#include "window/window_platform.h"

namespace drovanta {

void ResetFileList(const FileList& list) {
  list.grdFiles1.setRows(1);
  list.grdFiles1.Clear();
  list.lblCount1.setText(QStringLiteral("0 files"));
  list.listedPaths.clear();
  list.addedFolders.clear();
}

void AddFileToList(const FileList& list, std::string path) {
  FlexGrid& grid = list.grdFiles1;
  bool firstEntry = false;
  if (grid.Rows() == 1) {
    grid.setRow(0);
    grid.setCol(0);
    if (grid.Text().empty()) {
      // Shape the grid for its first entry.
      list.DoEvents();
      grid.setRows(1);
      grid.setCols(1);
      grid.setFixedRows(0);
      grid.setRow(0);
      grid.setColWidth(0, kListColumnWidth);
      grid.setCol(0);
      list.DoEvents();
      firstEntry = true;
    }
  }
  if (!firstEntry) grid.setRows(grid.Rows() + 1);
  grid.setRow(grid.Rows() - 1);
  grid.setCol(0);
  list.listedPaths.insert(path);
  TickAppleNamesFor(list.chkAppleNames, path);
  grid.setText(std::move(path));
  list.DoEvents();
  list.lblCount1.setText(QString::number(grid.Rows()) + QStringLiteral(" files"));
}

bool AddNewFileToList(const FileList& list, std::string path) {
  if (list.listedPaths.contains(path)) return false;
  AddFileToList(list, std::move(path));
  return true;
}

bool ListHasEntries(const FlexGrid& grdFiles1) {
  return grdFiles1.Rows() > 1 || !grdFiles1.model().text(0, 0).empty();
}

std::vector<std::string> ListedPaths(const FlexGrid& grdFiles1) {
  std::vector<std::string> paths;
  if (!ListHasEntries(grdFiles1)) return paths;
  const FlexGridModel& cells = grdFiles1.model();
  paths.reserve(static_cast<std::size_t>(cells.rows()));
  for (long row = 0; row < cells.rows(); ++row) paths.push_back(cells.text(row, 0));
  return paths;
}

bool FirstEntryIsEmpty(FlexGrid& grdFiles1) {
  grdFiles1.setRow(0);
  grdFiles1.setCol(0);
  return grdFiles1.Text().empty();
}

void ClearCommand(WindowPlatform& platform, const FileList& list) {
  if (FirstEntryIsEmpty(list.grdFiles1)) return;
  const MessageAnswer answer = platform.messageBox(
      {"Do you want to clear all the files in the list\r\n Proceed?", kApplicationTitle,
       MessageButtons::YesNo, MessageIcon::Question, MessageAnswer::Yes});
  if (answer == MessageAnswer::Yes) ResetFileList(list);
}

}  // namespace drovanta
