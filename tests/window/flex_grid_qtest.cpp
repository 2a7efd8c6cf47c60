// The grid control's operations and the progress displays' arithmetic.
#include <QTest>

#include "window/conversion_command.h"
#include "window/flex_grid.h"
#include "window/precise_progress_bar.h"
#include "window/window_layout.h"

using namespace drovanta;

class FlexGridTest : public QObject {
  Q_OBJECT

 private slots:
  void textActsOnTheCurrentCell() {
    FlexGrid grid;
    QCOMPARE(grid.Rows(), 1L);
    QCOMPARE(grid.Cols(), 1L);
    QCOMPARE(grid.Text(), std::string());
    grid.setCols(2);
    grid.setRows(3);
    grid.setRow(2);
    grid.setCol(1);
    grid.setText("bottom right");
    grid.setRow(0);
    QCOMPARE(grid.Text(), std::string());
    grid.setRow(2);
    QCOMPARE(grid.Text(), std::string("bottom right"));
    QCOMPARE(grid.model().data(grid.model().index(2, 1), Qt::DisplayRole).toString(),
             QStringLiteral("bottom right"));
    // Setting the current cell outside the grid is an error, as for the classic control.
    QVERIFY_THROWS_EXCEPTION(std::out_of_range, grid.setRow(3));
    QVERIFY_THROWS_EXCEPTION(std::out_of_range, grid.setCol(2));
    QVERIFY_THROWS_EXCEPTION(std::out_of_range, grid.setRows(0));
  }

  void clearErasesTextsAndKeepsTheShape() {
    FlexGrid grid;
    grid.setRows(3);
    for (long row = 0; row < 3; ++row) {
      grid.setRow(row);
      grid.setText("row " + std::to_string(row));
    }
    grid.Clear();
    QCOMPARE(grid.Rows(), 3L);
    for (long row = 0; row < 3; ++row) QCOMPARE(grid.model().text(row, 0), std::string());
    // Shrinking drops the rows below; growing again brings empty ones.
    grid.setRow(2);
    grid.setText("kept?");
    grid.setRows(1);
    QCOMPARE(grid.Row(), 0L);
    grid.setRows(3);
    QCOMPARE(grid.model().text(2, 0), std::string());
  }

  void columnWidthIsInTwips() {
    FlexGrid grid;
    grid.setColWidth(0, kListColumnWidth);
    QCOMPARE(grid.ColWidth(0), 15000L);
    QCOMPARE(grid.columnWidth(0), TwipsToPixels(15000));
    grid.setFixedRows(0);
    QVERIFY_THROWS_EXCEPTION(std::out_of_range, grid.setFixedRows(1));
  }

  void manyRowsStayInTheModel() {
    FlexGrid grid;
    const long count = 20000;
    grid.setRows(count);
    grid.setRow(count - 1);
    grid.setText("last");
    QCOMPARE(grid.model().rowCount(), int(count));
    QCOMPARE(grid.model().text(count - 1, 0), std::string("last"));
  }

  void progressKeepsItsExactValueWithinRange() {
    PreciseProgressBar bar;
    bar.setValue(100.0 / 3);
    QCOMPARE(bar.Value(), 100.0 / 3);
    QCOMPARE(bar.value(), 3333);  // drawn on the finer scale
    bar.setValue(250);
    QCOMPARE(bar.Value(), 100.0);
    bar.setValue(-1);
    QCOMPARE(bar.Value(), 0.0);
  }

  void readPercentRoundsHalfToEven() {
    QCOMPARE(MessageReadPercent(1, 8), 12.0);  // 12.5
    QCOMPARE(MessageReadPercent(3, 8), 38.0);  // 37.5
    QCOMPARE(MessageReadPercent(5, 8), 62.0);  // 62.5
    QCOMPARE(MessageReadPercent(1, 3), 33.0);
    QCOMPARE(MessageReadPercent(4098, 4096), 100.0);  // 100.0488
    QCOMPARE(MessageReadPercent(1000, 1000), 100.0);
    QCOMPARE(MessageReadPercent(30, 25), 120.0);  // the bar clamps this
  }
};

QTEST_MAIN(FlexGridTest)
#include "flex_grid_qtest.moc"
