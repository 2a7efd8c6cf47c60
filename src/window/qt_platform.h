#pragma once

#include <QPointer>
#include <QWidget>

#include "window/window_platform.h"

namespace drovanta {

// The desktop as Qt offers it: QFileDialog, QMessageBox, the application's event loop, the
// override cursor and QDesktopServices.
class QtPlatform : public WindowPlatform {
 public:
  // Dialogs and boxes are modal to the owner once it is set.
  void setOwner(QWidget* owner) { owner_ = owner; }

  std::string browseForFolder(const std::string& title) override;
  OpenFileResult showOpen(const OpenFileRequest& request) override;
  MessageAnswer messageBox(const MessageBoxRequest& request) override;
  void doEvents() override;
  void setMousePointer(MousePointer pointer) override;
  bool shellOpen(const std::string& target) override;
  [[noreturn]] void endProgram() override;

 private:
  QPointer<QWidget> owner_;
  bool hourglass_ = false;
};

// "desc|pattern|desc|pattern" as a Qt name filter list: "desc (pattern);;...".
QString QtNameFilter(const std::string& filter);

}  // namespace drovanta
