#pragma once

#include <QPointer>
#include <QWidget>

#include "window/window_platform.h"

namespace drovanta {

// The desktop as Qt offers it: QFileDialog, QMessageBox (kept within the screen), the application's
// event loop, the override cursor, QDesktopServices and QSettings.
class QtPlatform : public WindowPlatform {
 public:
  // Dialogs and boxes are modal to the owner once it is set.
  void setOwner(QWidget* owner) { owner_ = owner; }

  std::string browseForFolder(const std::string& title,
                              const std::string& startFolder = {}) override;
  OpenFileResult showOpen(const OpenFileRequest& request) override;
  MessageAnswer messageBox(const MessageBoxRequest& request) override;
  void doEvents() override;
  void setMousePointer(MousePointer pointer) override;
  bool shellOpen(const std::string& target) override;
  [[noreturn]] void endProgram() override;
  // Kept by QSettings in the user's settings for this program.
  std::string setting(const std::string& key) override;
  void setSetting(const std::string& key, const std::string& value) override;

 private:
  QPointer<QWidget> owner_;
  bool hourglass_ = false;
};

// Makes a dialog no larger than the free area of its owner's screen (the owner's frame taken
// off) and places it centred on its owner within that area, so that it opens with its buttons
// on the screen.
void KeepWithinScreen(QWidget& dialog, const QWidget* owner);

// The width a title bar needs to show `caption` whole beside the window's icon and buttons.
int CaptionWidth(const QString& caption, const QWidget& window);

// "desc|pattern|desc|pattern" as a Qt name filter list: "desc (pattern);;...".
QString QtNameFilter(const std::string& filter);

}  // namespace drovanta
