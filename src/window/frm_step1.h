#pragma once

#include <QLabel>
#include <QPushButton>
#include <QWidget>
#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "window/add_folder_command.h"
#include "window/step_window.h"
#include "window/window_layout.h"

namespace drovanta {

// The main window: its controls, the two list operations and the commands of its buttons. The
// controls keep the names they are known by (also as objectName).
class frmStep1 : public QWidget, public StepWindow {
  Q_OBJECT

 public:
  explicit frmStep1(WindowPlatform& platform, QWidget* parent = nullptr);

  WindowPlatform& platform() override { return platform_; }

  // Centres the window on its screen and shows it with the focus on cmdAdd.
  void showCentred();
  // Centres the window within `available`, its frame kept inside. Where the fixed layout does not
  // fit, the window is made smaller and resizable, the list giving up or taking the room; lower
  // than the smallest layout, it leaves out the title band.
  void placeWithin(const QRect& available);

  // The list operations (window/selected_files_list.h) on this window's list.
  void ResetFileList();
  void AddFileToList(std::string path);

  // The yields the commands use (documented in StepWindow).
  void DoEvents() override;
  void DoEventsNow() override;
  std::chrono::microseconds yieldInterval() const override { return yieldInterval_; }
  void refreshDisplays() override;

  // The least time between two yields; zero makes every DoEvents yield.
  void setYieldInterval(std::chrono::microseconds interval) { yieldInterval_ = interval; }

  // The commands, one per button.
  void cmdAdd_Click();
  void CmdAddFolder_Click();
  void cmdClear1_Click();
  void CmdConvert2PDF_Click();
  void CmdHelp_Click();
  void cmdEnd_Click();

  // Hides the window and, when a conversion runs, stops it and waits until it has ended, the
  // records being written completed. Whatever ends the program calls it first.
  void letConversionEnd();

 protected:
  void closeEvent(QCloseEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  // What the add commands touch of this window.
  AddingWindow addingWindow();
  // A control with its place in the fixed layout and how it follows a resized window.
  struct PlacedControl {
    QWidget* control;
    QRect fixedGeometry;
    ControlAnchors anchors;
    bool inTitleBand;
  };

  void createControls();
  void followWindowSize();
  QMargins expectedFrame() const;
  // Runs one command to its end: a program ended inside it unwinds it quietly, and an
  // unexpected failure is shown instead of reaching the event loop.
  void runCommand(const std::function<void()>& command);
  void yieldNow();
  // The exit question: true when answered Yes.
  bool exitConfirmed();
  // A monotonic clock cheap enough to read after every line of a message.
  static std::chrono::nanoseconds now();

  WindowPlatform& platform_;
  QSize fixedSize_;
  // Where the window was last placed, and the frame it was placed with.
  QRect placedArea_;
  QMargins placedFrame_;
  std::vector<PlacedControl> placedControls_;
  std::chrono::microseconds yieldInterval_{16667};
  std::chrono::nanoseconds lastYield_{std::chrono::nanoseconds::min() / 2};
  bool exitConfirmed_ = false;  // Exit was answered Yes: closing asks nothing more
};

}  // namespace drovanta
