#include "window/flex_grid.h"

#include <QApplication>
#include <QHeaderView>
#include <QPainter>
#include <QStyleOptionFrame>
#include <stdexcept>

#include "window/window_layout.h"

namespace drovanta {
namespace {

const std::string kNoText;

void checkIndex(long value, long count, const char* what) {
  if (value < 0 || value >= count) throw std::out_of_range(std::string("invalid grid ") + what);
}

}  // namespace

FlexGridModel::FlexGridModel(QObject* parent) : QAbstractTableModel(parent), columns_(1) {
  columns_[0].resize(1);
}

int FlexGridModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(rows_);
}

int FlexGridModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(columns_.size());
}

QVariant FlexGridModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid()) return {};
  const bool fixed = index.row() < fixedRows_;
  switch (role) {
    case Qt::DisplayRole:
      return QString::fromStdString(text(index.row(), index.column()));
    case Qt::BackgroundRole:
      return fixed ? fixedCell_ : cell_;
    case Qt::ForegroundRole:
      return fixed ? fixedText_ : text_;
    default:
      return {};
  }
}

Qt::ItemFlags FlexGridModel::flags(const QModelIndex& index) const {
  return index.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable : Qt::NoItemFlags;
}

void FlexGridModel::setRows(long rows) {
  if (rows < 1) throw std::out_of_range("invalid grid row count");
  if (rows == rows_) return;
  if (rows > rows_) {
    beginInsertRows({}, static_cast<int>(rows_), static_cast<int>(rows - 1));
    for (auto& column : columns_) column.resize(static_cast<std::size_t>(rows));
    rows_ = rows;
    endInsertRows();
  } else {
    beginRemoveRows({}, static_cast<int>(rows), static_cast<int>(rows_ - 1));
    for (auto& column : columns_) {
      column.resize(static_cast<std::size_t>(rows));
      column.shrink_to_fit();
    }
    rows_ = rows;
    endRemoveRows();
  }
}

void FlexGridModel::setCols(long cols) {
  if (cols < 1) throw std::out_of_range("invalid grid column count");
  const long old = this->cols();
  if (cols == old) return;
  if (cols > old) {
    beginInsertColumns({}, static_cast<int>(old), static_cast<int>(cols - 1));
    columns_.resize(static_cast<std::size_t>(cols),
                    std::vector<std::string>(static_cast<std::size_t>(rows_)));
    endInsertColumns();
  } else {
    beginRemoveColumns({}, static_cast<int>(cols), static_cast<int>(old - 1));
    columns_.resize(static_cast<std::size_t>(cols));
    endRemoveColumns();
  }
}

void FlexGridModel::setFixedRows(long fixedRows) {
  if (fixedRows < 0 || fixedRows >= rows_) throw std::out_of_range("invalid fixed row count");
  fixedRows_ = fixedRows;
  emit dataChanged(index(0, 0), index(static_cast<int>(rows_ - 1), static_cast<int>(cols() - 1)));
}

const std::string& FlexGridModel::text(long row, long col) const {
  if (row < 0 || row >= rows_ || col < 0 || col >= cols()) return kNoText;
  return columns_[static_cast<std::size_t>(col)][static_cast<std::size_t>(row)];
}

void FlexGridModel::setText(long row, long col, std::string text) {
  columns_[static_cast<std::size_t>(col)][static_cast<std::size_t>(row)] = std::move(text);
  const QModelIndex cell = index(static_cast<int>(row), static_cast<int>(col));
  emit dataChanged(cell, cell, {Qt::DisplayRole});
}

void FlexGridModel::clear() {
  for (auto& column : columns_) {
    for (auto& text : column) text.clear();
  }
  emit dataChanged(index(0, 0), index(static_cast<int>(rows_ - 1), static_cast<int>(cols() - 1)),
                   {Qt::DisplayRole});
}

void FlexGridModel::setColours(QColor cell, QColor text, QColor fixedCell, QColor fixedText) {
  cell_ = cell;
  text_ = text;
  fixedCell_ = fixedCell;
  fixedText_ = fixedText;
}

FlexGrid::FlexGrid(QWidget* parent) : QTableView(parent), colWidthTwips_(1, kDefaultColWidth) {
  setModel(&model_);
  // No header rows or columns are shown; every row has the classic fixed height.
  horizontalHeader()->hide();
  verticalHeader()->hide();
  verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  verticalHeader()->setDefaultSectionSize(TwipsToPixels(kDefaultRowHeight));
  horizontalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  horizontalHeader()->setDefaultSectionSize(TwipsToPixels(kDefaultColWidth));
  setSelectionMode(QAbstractItemView::SingleSelection);
  setSelectionBehavior(QAbstractItemView::SelectItems);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
  setWordWrap(false);
  setTextElideMode(Qt::ElideNone);
  setTabKeyNavigation(false);
}

void FlexGrid::setRows(long rows) {
  model_.setRows(rows);
  if (row_ >= rows) row_ = rows - 1;
}

void FlexGrid::setCols(long cols) {
  model_.setCols(cols);
  colWidthTwips_.resize(static_cast<std::size_t>(cols), kDefaultColWidth);
  if (col_ >= cols) col_ = cols - 1;
}

void FlexGrid::setRow(long row) {
  checkIndex(row, Rows(), "row");
  row_ = row;
}

void FlexGrid::setCol(long col) {
  checkIndex(col, Cols(), "column");
  col_ = col;
}

std::string FlexGrid::Text() const {
  return model_.text(row_, col_);
}

void FlexGrid::setText(std::string text) {
  model_.setText(row_, col_, std::move(text));
}

long FlexGrid::ColWidth(long col) const {
  checkIndex(col, Cols(), "column");
  return colWidthTwips_[static_cast<std::size_t>(col)];
}

void FlexGrid::setColWidth(long col, long twips) {
  checkIndex(col, Cols(), "column");
  colWidthTwips_[static_cast<std::size_t>(col)] = twips;
  setColumnWidth(static_cast<int>(col), TwipsToPixels(static_cast<int>(twips)));
}

void FlexGrid::syncView() {
  const QModelIndex cell = model_.index(static_cast<int>(row_), static_cast<int>(col_));
  if (currentIndex() != cell) {
    setCurrentIndex(cell);
    scrollTo(cell);
  }
}

}  // namespace drovanta

namespace drovanta {

void FlexGrid::paintEvent(QPaintEvent* event) {
  QTableView::paintEvent(event);
  if (!hasFocus()) return;
  // The frame the style gives a focused input field, in the application's colours rather than
  // the grid's grey highlight of the current cell, along the edge of the cells.
  QPainter painter(viewport());
  QStyleOptionFrame frame;
  frame.initFrom(this);
  frame.rect = viewport()->rect();
  frame.palette = QApplication::palette(this);
  frame.lineWidth = 1;
  frame.state |= QStyle::State_HasFocus | QStyle::State_Sunken;
  constexpr int kBand = 2;  // only the band: a style that fills its frame does not tint the cells
  painter.setClipRegion(
      QRegion(frame.rect).subtracted(QRegion(frame.rect.adjusted(kBand, kBand, -kBand, -kBand))));
  style()->drawPrimitive(QStyle::PE_FrameLineEdit, &frame, &painter, this);
}

void FlexGrid::focusInEvent(QFocusEvent* event) {
  QTableView::focusInEvent(event);
  viewport()->update();
}

void FlexGrid::focusOutEvent(QFocusEvent* event) {
  QTableView::focusOutEvent(event);
  viewport()->update();
}

}  // namespace drovanta
