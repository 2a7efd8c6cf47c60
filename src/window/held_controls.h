#pragma once

#include <array>

class QWidget;

namespace drovanta {

class StepWindow;

// While a command works through yields (an add, a run, the count before a run), the commands
// that change the list or start a run, and the run's choices, are disabled and the list takes
// no drop; Escape, Help and Exit stay. Each control gets its state back when the hold ends, and
// the focus too. Holds nest: the list stays held until the outermost one ends.
class HeldControls {
 public:
  explicit HeldControls(StepWindow& form);
  ~HeldControls();
  HeldControls(const HeldControls&) = delete;
  HeldControls& operator=(const HeldControls&) = delete;

 private:
  StepWindow& form_;
  std::array<QWidget*, 7> controls_;
  std::array<bool, 7> enabled_{};
  QWidget* focused_ = nullptr;
};

}  // namespace drovanta
