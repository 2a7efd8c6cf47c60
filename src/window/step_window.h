#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <unordered_set>
#include <vector>

#include "window/flex_grid.h"
#include "window/precise_progress_bar.h"
#include "window/window_platform.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;

namespace drovanta {

// Thrown out of a yield when the program ended inside it, so that the command that yielded
// unwinds without running another step. Caught at the top of every command.
struct ProgramEnded {};

// What the button commands need of the main window: its controls, the two list operations and
// the yields. The window implements it; the commands see only this, so they never depend on the
// window class that calls them.
class StepWindow {
 public:
  virtual ~StepWindow() = default;

  virtual WindowPlatform& platform() = 0;

  // The selected-files list: the grid is its only store.
  virtual void ResetFileList() = 0;
  virtual void AddFileToList(std::string path) = 0;

  // Lets the window handle every pending event, at most about 60 times a second: calls in
  // between return at once. Throws ProgramEnded when the program ended meanwhile.
  virtual void DoEvents() = 0;
  // The same, whatever the time since the last one.
  virtual void DoEventsNow() = 0;
  // The least time between two repaints that DoEvents allows (1/60 s).
  virtual std::chrono::microseconds yieldInterval() const = 0;
  // Puts the latest values on the displays without handling any event (before a final box).
  virtual void refreshDisplays() = 0;
  // Runs before each yield so that displays show their latest values when the window repaints;
  // removed by the returned token's owner through removeDisplayFlush.
  virtual int addDisplayFlush(std::function<void()> flush) = 0;
  virtual void removeDisplayFlush(int token) = 0;

  // Set while Convert holds the window: from the count of what the destination already holds
  // to the end of the run; empty otherwise. Escape calls it: it cancels the count, or asks
  // whether to stop the run.
  std::function<void()> askToStopConversion;
  // True while the destination is counted, before anything is written.
  bool countingDestination = false;
  // Convert holds the window (the count or the run): closing the window asks first.
  bool convertBusy() const { return static_cast<bool>(askToStopConversion); }
  // The run itself: mailboxes are being written.
  bool conversionRunning() const { return convertBusy() && !countingDestination; }
  // Set while a conversion runs (the count included): stops it (the records being written are
  // completed) and waits for its end. Called before the program ends during a run.
  std::function<void()> endConversion;

  // How many HeldControls are in force: while any is, the list takes no change.
  int heldControls = 0;
  bool controlsHeld() const { return heldControls > 0; }

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
