#pragma once

#include <QProgressBar>

namespace drovanta {

// A progress bar whose value is a real number kept exactly as set (33.333...), while the bar
// draws it on a finer whole-number scale. A value outside the range is held at the nearest end.
class PreciseProgressBar : public QProgressBar {
  Q_OBJECT

 public:
  explicit PreciseProgressBar(QWidget* parent = nullptr);

  double Min() const { return min_; }
  double Max() const { return max_; }
  double Value() const { return value_; }
  void setMin(double min);
  void setMax(double max);
  void setValue(double value);

 private:
  void redraw();

  double min_ = 0;
  double max_ = 100;
  double value_ = 0;
};

}  // namespace drovanta
