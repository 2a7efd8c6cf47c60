#pragma once

#include <chrono>
#include <string>
#include <unordered_set>
#include <vector>

#include "window/flex_grid.h"
#include "window/precise_progress_bar.h"
#include "window/selected_files_list.h"
#include "window/window_platform.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;

namespace drovanta {

// Thrown out of a yield when the program ended inside it, so that the command that yielded
// unwinds without running another step. Caught at the top of every command.
struct ProgramEnded {};

// What the window is busy with: while not idle, the commands that change the list or start a
// run, and the run's choices, are held (window/held_controls.h).
enum class Busy { Idle, Adding, Counting, Converting };

// The command that keeps the window busy, as the window's own events reach it.
class BusyCommand {
 public:
  virtual ~BusyCommand() = default;
  // Escape: cancels the count, or asks whether to stop the run.
  virtual void escape() {}
  // The exit question is open (true) or was answered No (false): meanwhile a run takes no new
  // message.
  virtual void holdForQuestion(bool /*held*/) {}
  // The program ends: stops what runs and waits until the records being written are complete.
  virtual void end() {}
  // Just before each repaint: puts the latest progress on the displays.
  virtual void showProgress() {}
};

// What the button commands need of the main window: its controls, its list and the yields. The
// window implements it; the commands see only this, so they never depend on the window class that
// calls them.
class StepWindow {
 public:
  virtual ~StepWindow() = default;

  virtual WindowPlatform& platform() = 0;

  // Lets the window handle every pending event, at most about 60 times a second: calls in
  // between return at once. Throws ProgramEnded when the program ended meanwhile.
  virtual void DoEvents() = 0;
  // The same, whatever the time since the last one.
  virtual void DoEventsNow() = 0;
  // The least time between two repaints that DoEvents allows (1/60 s).
  virtual std::chrono::microseconds yieldInterval() const = 0;
  // Puts the latest values on the displays without handling any event (before a final box).
  virtual void refreshDisplays() = 0;

  // What the window is busy with, and the command that keeps it so (both set by HeldControls
  // only): Escape, the exit question and the end of the program go to that command.
  Busy busy = Busy::Idle;
  BusyCommand* busyCommand = nullptr;
  // Convert holds the window (the count or the run): closing the window asks first.
  bool convertBusy() const { return busy == Busy::Counting || busy == Busy::Converting; }
  // The run itself: mailboxes are being written.
  bool conversionRunning() const { return busy == Busy::Converting; }
  // While busy, the list takes no change.
  bool controlsHeld() const { return busy != Busy::Idle; }

  // The selected-files list as its operations take it (window/selected_files_list.h): the grid is
  // its only store.
  FileList fileList() {
    return {*grdFiles1,   *lblCount1,    listedPaths,
            addedFolders, chkAppleNames, [this] { DoEvents(); }};
  }

  // Every path the list holds, so that a path is listed once; kept by the list operations.
  std::unordered_set<std::string> listedPaths;
  // The folders added whole (by Add Folder or a drop) since the list was last emptied.
  std::vector<std::string> addedFolders;

  // Controls the commands write to or read from; the names are the ones users and tests know.
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
  // The run's two choices, in the bottom band (window/conversion_options.h).
  QCheckBox* chkAppleNames = nullptr;
  QCheckBox* chkKeepState = nullptr;
  // "For:": the mail program the mailboxes are made for (Any mail program, Thunderbird, Apple
  // Mail).
  QComboBox* cboMailProgram = nullptr;
};

}  // namespace drovanta
