#pragma once

#include <array>

#include "window/step_window.h"

class QWidget;

namespace drovanta {

// Makes the window busy while a command works through yields (an add, the count before a run,
// the run): the commands that change the list or start a run, and the run's choices, are
// disabled and the list takes no drop; Escape, Help and Exit stay and go to `command`. Each
// control gets its state back when the hold ends, the focus too, and the window is again what
// it was before (idle, or the hold this one lies in).
class HeldControls {
 public:
  HeldControls(StepWindow& form, Busy busy, BusyCommand* command = nullptr);
  ~HeldControls();
  HeldControls(const HeldControls&) = delete;
  HeldControls& operator=(const HeldControls&) = delete;

 private:
  StepWindow& form_;
  Busy busyBefore_;
  BusyCommand* commandBefore_;
  std::array<QWidget*, 7> controls_;
  std::array<bool, 7> enabled_{};
  QWidget* focused_ = nullptr;
};

}  // namespace drovanta
