#include "window/held_controls.h"

#include <QCheckBox>
#include <QComboBox>
#include <QPushButton>

#include "window/step_window.h"

namespace drovanta {

HeldControls::HeldControls(StepWindow& form)
    : form_(form), controls_{form.cmdAdd,         form.CmdAddFolder,  form.cmdClear1,
                             form.CmdConvert2PDF, form.chkAppleNames, form.chkKeepState,
                             form.cboMailProgram} {
  ++form_.heldControls;
  for (std::size_t i = 0; i < controls_.size(); ++i) {
    enabled_[i] = controls_[i]->isEnabled();
    if (controls_[i]->hasFocus()) focused_ = controls_[i];
    controls_[i]->setEnabled(false);
  }
}

HeldControls::~HeldControls() {
  for (std::size_t i = 0; i < controls_.size(); ++i) controls_[i]->setEnabled(enabled_[i]);
  if (focused_ != nullptr && focused_->isEnabled()) focused_->setFocus(Qt::OtherFocusReason);
  --form_.heldControls;
}

}  // namespace drovanta
