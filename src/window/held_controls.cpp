#include "window/held_controls.h"

#include <QCheckBox>
#include <QComboBox>
#include <QPushButton>

namespace drovanta {

HeldControls::HeldControls(StepWindow& form, Busy busy, BusyCommand* command)
    : form_(form),
      busyBefore_(form.busy),
      commandBefore_(form.busyCommand),
      controls_{form.cmdAdd,        form.CmdAddFolder, form.cmdClear1,     form.CmdConvert2PDF,
                form.chkAppleNames, form.chkKeepState, form.cboMailProgram} {
  form_.busy = busy;
  form_.busyCommand = command;
  // The window's focus child, also while a dialog just closed leaves the window inactive
  // (hasFocus() is then false), and before disabling moves it on to the next control.
  for (QWidget* control : controls_) {
    if (control->window()->focusWidget() == control) focused_ = control;
  }
  for (std::size_t i = 0; i < controls_.size(); ++i) {
    enabled_[i] = controls_[i]->isEnabled();
    controls_[i]->setEnabled(false);
  }
}

HeldControls::~HeldControls() {
  for (std::size_t i = 0; i < controls_.size(); ++i) controls_[i]->setEnabled(enabled_[i]);
  if (focused_ != nullptr && focused_->isEnabled()) focused_->setFocus(Qt::OtherFocusReason);
  form_.busy = busyBefore_;
  form_.busyCommand = commandBefore_;
}

}  // namespace drovanta
