#include "window/precise_progress_bar.h"

#include <algorithm>
#include <cmath>

namespace drovanta {
namespace {

constexpr int kSteps = 10000;

}  // namespace

PreciseProgressBar::PreciseProgressBar(QWidget* parent) : QProgressBar(parent) {
  QProgressBar::setRange(0, kSteps);
  QProgressBar::setValue(0);
  setTextVisible(false);
}

void PreciseProgressBar::setMin(double min) {
  min_ = min;
  value_ = std::clamp(value_, min_, std::max(min_, max_));
  redraw();
}

void PreciseProgressBar::setMax(double max) {
  max_ = max;
  value_ = std::clamp(value_, std::min(min_, max_), max_);
  redraw();
}

void PreciseProgressBar::setValue(double value) {
  value_ = std::clamp(value, min_, std::max(min_, max_));
  redraw();
}

void PreciseProgressBar::redraw() {
  const double span = max_ - min_;
  const double fraction = span > 0 ? (value_ - min_) / span : 0.0;
  QProgressBar::setValue(static_cast<int>(std::lround(fraction * kSteps)));
}

}  // namespace drovanta
