#pragma once

#include <QLabel>
#include <QPushButton>
#include <QWidget>
#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "app/flex_grid.h"
#include "app/precise_progress_bar.h"
#include "shellutil/window_platform.h"

namespace drovanta {

// Thrown out of a yield when the program ended inside it, so that the command that yielded
// unwinds without running another step. Caught at the top of every command.
struct ProgramEnded {};

// The main window: its controls, the two list operations and the commands of its buttons. The
// controls keep the names they are known by (also as objectName).
class frmStep1 : public QWidget {
  Q_OBJECT

 public:
  explicit frmStep1(WindowPlatform& platform, QWidget* parent = nullptr);

  WindowPlatform& platform() { return platform_; }

  // Centres the window on its screen and shows it with the focus on cmdAdd.
  void showCentred();

  // The selected-files list: the grid is its only store.
  void ResetFileList();
  void AddFileToList(std::string path);

  // Lets the window handle every pending event, at most about 60 times a second: calls in
  // between return at once. Throws ProgramEnded when the program ended meanwhile.
  void DoEvents();
  // The same, whatever the time since the last one.
  void DoEventsNow();
  // Between two messages: handles pending input within a few milliseconds, but refreshes the
  // displays only when DoEvents would, so a run of many small messages is not bound by painting.
  void DoEventsAtBoundary();
  // Puts the latest values on the displays without handling any event (before a final box).
  void refreshDisplays();
  // The least time between two yields; zero makes every DoEvents yield.
  void setYieldInterval(std::chrono::microseconds interval) { yieldInterval_ = interval; }
  // Runs before each yield so that displays show their latest values when the window repaints;
  // removed by the returned token's owner through removeDisplayFlush.
  int addDisplayFlush(std::function<void()> flush);
  void removeDisplayFlush(int token);

  // The commands, one per button.
  void cmdAdd_Click();
  void CmdAddFolder_Click();
  void cmdClear1_Click();
  void CmdConvert2PDF_Click();
  void CmdHelp_Click();
  void cmdEnd_Click();

  // Controls the commands write to or read from.
  FlexGrid* grdFiles1 = nullptr;
  QLabel* lblCount1 = nullptr;
  QPushButton* cmdAdd = nullptr;
  QPushButton* CmdAddFolder = nullptr;
  QPushButton* cmdClear1 = nullptr;
  QPushButton* CmdConvert2PDF = nullptr;
  QPushButton* CmdHelp = nullptr;
  QPushButton* cmdEnd = nullptr;
  PreciseProgressBar* EmlProgress = nullptr;
  PreciseProgressBar* ProgressBar1 = nullptr;
  QLabel* LblByteRead = nullptr;
  QLabel* LblProgessCurrent = nullptr;

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void createControls();
  // Runs one command to its end: a program ended inside it unwinds it quietly, and an
  // unexpected failure is shown instead of reaching the event loop.
  void runCommand(const std::function<void()>& command);
  void yieldNow();
  // A monotonic clock cheap enough to read after every line of a message.
  static std::chrono::nanoseconds now();

  WindowPlatform& platform_;
  std::chrono::microseconds yieldInterval_{16667};
  std::chrono::nanoseconds lastYield_{std::chrono::nanoseconds::min() / 2};
  std::chrono::nanoseconds lastInput_{std::chrono::nanoseconds::min() / 2};
  std::vector<std::pair<int, std::function<void()>>> displayFlushes_;
  int nextFlushToken_ = 0;
};

}  // namespace drovanta
