#include "window/selected_files_list.h"

#include <QLabel>
#include <QPushButton>

#include "window/conversion_options.h"
#include "window/step_window.h"
#include "window/window_layout.h"

namespace drovanta {

void ResetFileList(StepWindow& form) {
  form.grdFiles1->setRows(1);
  form.grdFiles1->Clear();
  form.lblCount1->setText(QStringLiteral("0 files"));
  form.listedPaths.clear();
  form.addedFolders.clear();
}

void AddFileToList(StepWindow& form, std::string path) {
  FlexGrid& grid = *form.grdFiles1;
  bool firstEntry = false;
  if (grid.Rows() == 1) {
    grid.setRow(0);
    grid.setCol(0);
    if (grid.Text().empty()) {
      // Shape the grid for its first entry.
      form.DoEvents();
      grid.setRows(1);
      grid.setCols(1);
      grid.setFixedRows(0);
      grid.setRow(0);
      grid.setColWidth(0, kListColumnWidth);
      grid.setCol(0);
      form.DoEvents();
      firstEntry = true;
    }
  }
  if (!firstEntry) grid.setRows(grid.Rows() + 1);
  grid.setRow(grid.Rows() - 1);
  grid.setCol(0);
  form.listedPaths.insert(path);
  TickAppleNamesFor(form, path);
  grid.setText(std::move(path));
  form.DoEvents();
  form.lblCount1->setText(QString::number(grid.Rows()) + QStringLiteral(" files"));
}

bool AddNewFileToList(StepWindow& form, std::string path) {
  if (form.listedPaths.contains(path)) return false;
  AddFileToList(form, std::move(path));
  return true;
}

bool ListHasEntries(StepWindow& form) {
  return form.grdFiles1->Rows() > 1 || !form.grdFiles1->model().text(0, 0).empty();
}

std::vector<std::string> ListedPaths(StepWindow& form) {
  std::vector<std::string> paths;
  if (!ListHasEntries(form)) return paths;
  const FlexGridModel& cells = form.grdFiles1->model();
  paths.reserve(static_cast<std::size_t>(cells.rows()));
  for (long row = 0; row < cells.rows(); ++row) paths.push_back(cells.text(row, 0));
  return paths;
}

bool FirstEntryIsEmpty(StepWindow& form) {
  form.grdFiles1->setRow(0);
  form.grdFiles1->setCol(0);
  return form.grdFiles1->Text().empty();
}

void ClearCommand(StepWindow& form) {
  if (FirstEntryIsEmpty(form)) return;
  const MessageAnswer answer = form.platform().messageBox(
      {"Do you want to clear all the files in the list\r\n Proceed?", kApplicationTitle,
       MessageButtons::YesNo, MessageIcon::Question, MessageAnswer::Yes});
  if (answer == MessageAnswer::Yes) ResetFileList(form);
}

}  // namespace drovanta
