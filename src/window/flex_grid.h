#pragma once

#include <QAbstractTableModel>
#include <QTableView>
#include <string>
#include <vector>

namespace drovanta {

// The cells of a FlexGrid: the grid's only store, one vector of texts per column.
class FlexGridModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  explicit FlexGridModel(QObject* parent = nullptr);

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;

  long rows() const { return rows_; }
  long cols() const { return static_cast<long>(columns_.size()); }
  void setRows(long rows);
  void setCols(long cols);
  long fixedRows() const { return fixedRows_; }
  void setFixedRows(long fixedRows);
  const std::string& text(long row, long col) const;
  void setText(long row, long col, std::string text);
  void clear();

  void setColours(QColor cell, QColor text, QColor fixedCell, QColor fixedText);

 private:
  long rows_ = 1;
  long fixedRows_ = 0;
  std::vector<std::vector<std::string>> columns_;
  QColor cell_, text_, fixedCell_, fixedText_;
};

// A grid control with the operations of the classic flex grid: Rows, Cols, FixedRows, the
// current cell (Row, Col) that Text reads and writes, ColWidth in twips, and Clear. It starts
// with one empty cell. Moving the current cell is cheap; the view follows it at the next
// syncView(), so long loops over the grid do not pay for scrolling.
class FlexGrid : public QTableView {
  Q_OBJECT

 public:
  explicit FlexGrid(QWidget* parent = nullptr);

  long Rows() const { return model_.rows(); }
  void setRows(long rows);
  long Cols() const { return model_.cols(); }
  void setCols(long cols);
  long FixedRows() const { return model_.fixedRows(); }
  void setFixedRows(long fixedRows) { model_.setFixedRows(fixedRows); }
  long Row() const { return row_; }
  void setRow(long row);
  long Col() const { return col_; }
  void setCol(long col);
  std::string Text() const;
  void setText(std::string text);
  long ColWidth(long col) const;
  void setColWidth(long col, long twips);
  void Clear() { model_.clear(); }

  // Shows the current cell: selects it and scrolls it into view.
  void syncView();

  FlexGridModel& model() { return model_; }
  const FlexGridModel& model() const { return model_; }

 protected:
  // A focused grid shows the style's focus frame around its cells, as a focused field does.
  void paintEvent(QPaintEvent* event) override;
  void focusInEvent(QFocusEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;

 private:
  FlexGridModel model_;
  long row_ = 0;
  long col_ = 0;
  std::vector<long> colWidthTwips_;
};

}  // namespace drovanta
