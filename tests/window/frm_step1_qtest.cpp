// The main window as it opens: geometry at 96 DPI, texts, fonts, colours, focus and keys.
#include <QFile>
#include <QFontInfo>
#include <QProcess>
#include <QScreen>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QtEndian>
#include <cmath>

#include "window/artwork.h"
#include "window/window_layout.h"
#include "window/window_placement.h"
#include "window_fixture.h"

using namespace drovanta;
using drovanta::testing::WindowFixture;

namespace {

// The contrast ratio of two colours by the web's accessibility guidelines.
double contrast(const QColor& a, const QColor& b) {
  auto luminance = [](const QColor& colour) {
    auto linear = [](double c) {
      return c <= 0.03928 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * linear(colour.redF()) + 0.7152 * linear(colour.greenF()) +
           0.0722 * linear(colour.blueF());
  };
  const double la = luminance(a);
  const double lb = luminance(b);
  return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

// The controls that must never overlap or leave the client area, whatever its size.
const QStringList kOwnPlaceControls = {"cmdAdd",         "CmdAddFolder",   "cmdClear1",
                                       "grdFiles1",      "EmlProgress",    "ProgressBar1",
                                       "CmdConvert2PDF", "CmdHelp",        "chkAppleNames",
                                       "chkKeepState",   "cboMailProgram", "cmdEnd"};

}  // namespace

class FrmStep1Test : public QObject {
  Q_OBJECT

 private:
  template <typename T = QWidget>
  static T* control(WindowFixture& window, const char* name) {
    auto* widget = window.form->findChild<T*>(QString::fromLatin1(name));
    if (!widget) qFatal("no control %s", name);
    return widget;
  }

 private slots:
  void twipsFollowTheLogicalDpi() {
    QCOMPARE(TwipsToPixels(8145, 96), 543);
    QCOMPARE(TwipsToPixels(6270, 96), 418);
    QCOMPARE(TwipsToPixels(15000, 120), 1250);
    QCOMPARE(TwipsToPixels(-120, 96), -8);
  }

  void geometryAt96Dpi() {
    if (QGuiApplication::primaryScreen()->logicalDotsPerInch() != 96) QSKIP("screen is not 96 DPI");
    WindowFixture window;
    QCOMPARE(window.form->size(), QSize(543, 418));
    QCOMPARE(control(window, "grdFiles1")->geometry(), QRect(16, 120, 513, 105));
    QCOMPARE(control(window, "ProgressBar1")->geometry(), QRect(128, 304, 401, 17));
    QCOMPARE(control(window, "EmlProgress")->geometry(), QRect(128, 264, 401, 17));
    QCOMPARE(control(window, "Image1")->geometry(), QRect(16, 248, 16, 16));
    QCOMPARE(control<QLabel>(window, "Image1")->pixmap().size(), QSize(16, 16));
    QCOMPARE(control(window, "CmdConvert2PDF")->geometry(), QRect(184, 336, 177, 29));
    // Help and Exit sit in the panel, at 120,5760 and 6600,5760 in window terms.
    QWidget* panel = control(window, "Picture3");
    QCOMPARE(control(window, "CmdHelp")->parentWidget(), panel);
    QCOMPARE(control(window, "cmdEnd")->mapTo(window.form.get(), QPoint(0, 0)), QPoint(440, 384));
    QCOMPARE(control(window, "CmdHelp")->mapTo(window.form.get(), QPoint(0, 0)), QPoint(8, 384));
    // The bands start left of the client area and lie beneath every other control.
    QCOMPARE(control(window, "Shape2")->geometry(), QRect(-8, 0, 561, 57));
    QCOMPARE(window.form->children().indexOf(control(window, "Shape2")), 0);
    QCOMPARE(window.form->children().indexOf(control(window, "Shape1")), 1);
  }

  void shownCentred() {
    WindowFixture window;
    const QPoint centre = QGuiApplication::primaryScreen()->availableGeometry().center();
    const QPoint offset = window.form->geometry().center() - centre;
    QVERIFY2(std::abs(offset.x()) <= 2 && std::abs(offset.y()) <= 2,
             qPrintable(QString("%1,%2").arg(offset.x()).arg(offset.y())));
  }

  void yieldsAreThrottledButFinalValuesShow() {
    ScriptedPlatform platform;
    frmStep1 form(platform);
    form.show();
    for (int i = 0; i < 1000; ++i) form.DoEvents();
    // A thousand calls in a row take far less than the 1/60 s between two yields.
    QVERIFY2(platform.yields <= 2, qPrintable(QString::number(platform.yields)));
    form.DoEventsNow();
    const long before = platform.yields;
    form.DoEventsNow();
    QCOMPARE(platform.yields, before + 1);

    // The grid shows the current cell once the displays are refreshed, without a yield.
    form.AddFileToList("/m/1.emlx");
    form.AddFileToList("/m/2.emlx");
    form.AddFileToList("/m/3.emlx");
    const long yields = platform.yields;
    form.refreshDisplays();
    QCOMPARE(form.grdFiles1->currentIndex().row(), 2);
    QCOMPARE(platform.yields, yields);
  }

  void layoutIsFixed() {
    WindowFixture window;
    const QRect grid = control(window, "grdFiles1")->geometry();
    const QSize size = window.form->size();
    window.form->resize(800, 700);
    QApplication::processEvents();
    QCOMPARE(window.form->size(), size);
    QCOMPARE(control(window, "grdFiles1")->geometry(), grid);
  }

  void initialTextsAndState() {
    WindowFixture window;
    QCOMPARE(window.form->windowTitle(), QStringLiteral("Drovanta EMLX to MBOX Converter"));
    QCOMPARE(control<QLabel>(window, "lblTitle")->text(),
             QStringLiteral("Drovanta EMLX to MBOX Converter"));
    QCOMPARE(control<QLabel>(window, "lblCount1")->text(), QStringLiteral("0 files"));
    QCOMPARE(control<QLabel>(window, "Label3")->text(), QStringLiteral("Message Status     :"));
    QCOMPARE(control<QLabel>(window, "LblByteRead")->text(), QStringLiteral("<  Not Available >"));
    QCOMPARE(control<QLabel>(window, "Label1")->text(), QStringLiteral("Saving : "));
    QCOMPARE(control<QLabel>(window, "Label2")->text(), QStringLiteral("Conversion Progress : "));
    QCOMPARE(control<QLabel>(window, "LblProgessCurrent")->text(),
             QStringLiteral("Message 0 (of 0)"));
    QCOMPARE(control<QPushButton>(window, "cmdEnd")->text(), QStringLiteral("E&xit"));

    QVERIFY(!window.form->CmdConvert2PDF->isEnabled());
    for (auto* button : {window.form->cmdAdd, window.form->CmdAddFolder, window.form->cmdClear1,
                         window.form->CmdHelp, window.form->cmdEnd}) {
      QVERIFY(button->isEnabled());
      QVERIFY(!button->isDefault());
      QVERIFY(!button->autoDefault());
    }
    // A click on the disabled Convert button runs nothing.
    WindowFixture::click(window.form->CmdConvert2PDF);
    QVERIFY(window.platform.folderTitles.empty());

    QCOMPARE(window.form->grdFiles1->Rows(), 1L);
    QCOMPARE(window.form->grdFiles1->Cols(), 1L);
    QCOMPARE(window.form->grdFiles1->FixedRows(), 0L);
    QCOMPARE(window.form->grdFiles1->Text(), std::string());
    QCOMPARE(window.form->grdFiles1->ColWidth(0), 15000L);
    QCOMPARE(window.form->ProgressBar1->Min(), 0.0);
    QCOMPARE(window.form->ProgressBar1->Max(), 100.0);
    QCOMPARE(window.form->ProgressBar1->Value(), 0.0);
  }

  void fontsAndColours() {
    WindowFixture window;
    const QFont title = control(window, "lblTitle")->font();
    QCOMPARE(title.pointSizeF(), 14.25);
    QCOMPARE(title.weight(), QFont::Bold);
    QCOMPARE(control(window, "Label3")->font().weight(), QFont::Bold);
    QCOMPARE(control(window, "cmdAdd")->font().pointSizeF(), 8.25);
    QCOMPARE(control(window, "cmdAdd")->font().weight(), QFont::Normal);
    // Tahoma, or a sans-serif stand-in when it is not installed; never a serif face.
    const QFontInfo used(control(window, "grdFiles1")->font());
    QVERIFY2(used.family() == "Tahoma" || !used.family().contains("Serif") ||
                 used.family().contains("Sans"),
             qPrintable(used.family()));

    // Every label's text fits on one line in its width, the notice included.
    for (QLabel* label : window.form->findChildren<QLabel*>()) {
      const int width = label->fontMetrics().horizontalAdvance(label->text());
      QVERIFY2(width <= label->width(), qPrintable(label->objectName()));
    }

    auto* label3 = control<QLabel>(window, "Label3");
    QCOMPARE(label3->palette().color(QPalette::WindowText), QColor(128, 0, 0));
    QVERIFY(!label3->autoFillBackground());
    QCOMPARE(control<QLabel>(window, "LblByteRead")->palette().color(QPalette::WindowText),
             QColor(0, 0, 255));
    auto* title2 = control<QLabel>(window, "lblTitle");
    QVERIFY(title2->autoFillBackground());
    QCOMPARE(title2->palette().color(QPalette::Window), QColor(255, 255, 255));
    QVERIFY(control(window, "lblCount1")->autoFillBackground());

    // The bands: white with a silver border line, as drawn.
    const QImage band = control(window, "Shape2")->grab().toImage();
    QCOMPARE(band.pixelColor(20, 20), QColor(255, 255, 255));
    QCOMPARE(band.pixelColor(20, 0), QColor(192, 192, 192));
    QCOMPARE(band.pixelColor(20, band.height() - 1), QColor(192, 192, 192));
    QCOMPARE(control(window, "Picture3")->grab().toImage().pixelColor(200, 10),
             QColor(255, 255, 255));
  }

  void gridColoursAndSideways() {
    WindowFixture window;
    FlexGrid* grid = window.form->grdFiles1;
    window.form->AddFileToList(std::string(300, 'x') + ".emlx");
    window.form->AddFileToList("/mail/2.emlx");
    QCOMPARE(grid->model().data(grid->model().index(0, 0), Qt::BackgroundRole).value<QColor>(),
             QColor(255, 255, 191));
    QCOMPARE(grid->palette().color(QPalette::Base), QColor(255, 255, 255));
    QCOMPARE(grid->palette().color(QPalette::Highlight), QColor(224, 224, 224));
    // The column is 1000 pixels wide, wider than the grid: it scrolls sideways.
    QCOMPARE(grid->columnWidth(0), TwipsToPixels(15000));
    QApplication::processEvents();
    QVERIFY(grid->horizontalScrollBar()->maximum() > 0);
    // Below the last row the grid shows white, not the cells' yellow.
    const QImage picture = grid->viewport()->grab().toImage();
    QCOMPARE(picture.pixelColor(40, picture.height() - 10), QColor(255, 255, 255));
    QCOMPARE(picture.pixelColor(400, 8), QColor(255, 255, 191));
    QCOMPARE(picture.pixelColor(400, 24), QColor(224, 224, 224));  // the current cell
  }

  void currentRowTextIsReadable_data() {
    QTest::addColumn<QColor>("windowText");
    QTest::newRow("dark text") << QColor(0, 0, 0);
    QTest::newRow("light text of a dark theme") << QColor(240, 240, 240);
  }

  void currentRowTextIsReadable() {
    QFETCH(QColor, windowText);
    const QPalette original = QApplication::palette();
    QPalette theme = original;
    theme.setColor(QPalette::WindowText, windowText);
    QApplication::setPalette(theme);
    WindowFixture window;
    QApplication::setPalette(original);
    FlexGrid* grid = window.form->grdFiles1;
    for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive}) {
      QCOMPARE(grid->palette().color(group, QPalette::Highlight), QColor(224, 224, 224));
      const double ratio = contrast(grid->palette().color(group, QPalette::HighlightedText),
                                    grid->palette().color(group, QPalette::Highlight));
      QVERIFY2(ratio >= 4.5, qPrintable(QString::number(ratio)));
    }
    // As drawn: the darkest pixel of the current row's text against its grey.
    window.form->AddFileToList("/mail/Inbox/1.emlx");
    window.form->AddFileToList("/mail/Inbox/WWWWWWWWWWWWWWWWWWWW.emlx");
    window.form->refreshDisplays();
    const QImage picture = grid->viewport()->grab().toImage();
    const QRect row = grid->visualRect(grid->model().index(1, 0));
    QColor darkest(255, 255, 255);
    for (int y = row.top() + 2; y < row.bottom() - 1; ++y) {
      for (int x = row.left() + 2; x < 200; ++x) {
        const QColor pixel = picture.pixelColor(x, y);
        if (pixel.lightness() < darkest.lightness()) darkest = pixel;
      }
    }
    QCOMPARE(picture.pixelColor(row.left() + 300, row.center().y()), QColor(224, 224, 224));
    QVERIFY2(contrast(darkest, QColor(224, 224, 224)) >= 4.5, qPrintable(darkest.name()));
  }

  void enterPressesTheFocusedButton() {
    WindowFixture window;
    QApplication::setActiveWindow(window.form.get());
    QVERIFY(QTest::qWaitForWindowActive(window.form.get()));
    window.form->AddFileToList("/mail/1.emlx");
    window.platform.queueAnswer(MessageAnswer::No);
    window.form->cmdClear1->setFocus();
    QTest::keyClick(window.form->windowHandle(), Qt::Key_Return);
    QCOMPARE(window.platform.boxes.size(), std::size_t(1));
    QVERIFY(window.platform.boxes[0].text.starts_with("Do you want to clear"));

    // The keypad's Enter too; a disabled button takes no focus and so no Enter.
    window.platform.queueAnswer(MessageAnswer::No);
    window.form->cmdEnd->setFocus();
    QTest::keyClick(window.form->windowHandle(), Qt::Key_Enter, Qt::KeypadModifier);
    QCOMPARE(window.platform.boxes.size(), std::size_t(2));
    QCOMPARE(window.platform.boxes[1].text, std::string("Are you sure you want to exit now?"));
    QCOMPARE(window.platform.endRequests, 0);
    // With a modifier Enter is not a press.
    QTest::keyClick(window.form->windowHandle(), Qt::Key_Return, Qt::ControlModifier);
    QCOMPARE(window.platform.boxes.size(), std::size_t(2));
  }

  void placementCentresAndKeepsTheFrameInside() {
    // A 1280 x 1024 screen at a scale of 2.5, with a 40-pixel panel: the fixed layout at 240 DPI
    // is wider and taller than the room left.
    const QSize client(TwipsToPixels(kClientWidth, 240), TwipsToPixels(kClientHeight, 240));
    const QSize minimum(TwipsToPixels(kMinimumClientWidth, 240),
                        TwipsToPixels(kMinimumClientHeight, 240));
    const QMargins frame(10, 75, 10, 10);
    const QRect screen(0, 40, 1280, 984);
    const WindowPlacement tight = PlaceWindow(client, minimum, frame, screen);
    QVERIFY(tight.resizable);
    QVERIFY(screen.contains(tight.client.marginsAdded(frame)));
    QCOMPARE(tight.client.size(), QSize(1260, 899));
    QVERIFY(tight.client.width() >= minimum.width() && tight.client.height() >= minimum.height());

    // Where it fits: centred, fixed, its frame inside even near the area's edge.
    const WindowPlacement roomy = PlaceWindow(client, minimum, frame, QRect(0, 0, 1920, 1200));
    QVERIFY(!roomy.resizable);
    QCOMPARE(roomy.client, QRect(QPoint(281, 77), client));
    // Centred, the title bar would stand above the area: the window moves down just enough.
    const WindowPlacement low = PlaceWindow(client, minimum, frame, QRect(0, 0, 1920, 1140));
    QCOMPARE(low.client, QRect(QPoint(281, 75), client));
    // Too small even for the minimum: the title bar stays on the screen.
    const WindowPlacement cramped = PlaceWindow(client, minimum, frame, QRect(0, 0, 800, 600));
    QCOMPARE(cramped.client, QRect(QPoint(10, 75), minimum));
  }

  void aWindowTooLargeForItsScreenShrinksAndGivesTheListTheRoom() {
    WindowFixture window;
    const QRect grid = window.form->grdFiles1->geometry();
    const QSize fixed = window.form->size();
    const QRect available(100, 50, fixed.width() - 30, fixed.height() - 30);
    window.form->placeWithin(available);
    QApplication::processEvents();
    QVERIFY2(available.contains(window.form->frameGeometry()),
             qPrintable(QString("%1,%2 %3x%4")
                            .arg(window.form->frameGeometry().x())
                            .arg(window.form->frameGeometry().y())
                            .arg(window.form->frameGeometry().width())
                            .arg(window.form->frameGeometry().height())));
    QVERIFY(window.form->maximumWidth() > fixed.width());
    auto checkLayout = [&](QSize size) {
      QCOMPARE(window.form->size(), size);
      const QSize change = size - fixed;
      QCOMPARE(window.form->grdFiles1->geometry(),
               grid.adjusted(0, 0, change.width(), change.height()));
      QList<QRect> taken;
      for (const QString& name : kOwnPlaceControls) {
        auto* control = window.form->findChild<QWidget*>(name);
        const QRect place(control->mapTo(window.form.get(), QPoint(0, 0)), control->size());
        QVERIFY2(window.form->rect().contains(place), qPrintable(name));
        for (const QRect& other : taken) QVERIFY2(!other.intersects(place), qPrintable(name));
        taken.append(place);
      }
      // Exit keeps its distance from the right edge, the bottom band from the bottom.
      QCOMPARE(window.form->cmdEnd->mapTo(window.form.get(), QPoint(0, 0)).x(),
               size.width() - (fixed.width() - 440));
      QCOMPARE(window.form->findChild<QWidget*>("Picture3")->y(),
               size.height() - (fixed.height() - 384));
    };
    checkLayout(window.form->size());
    QVERIFY(window.form->width() < fixed.width());
    // The user makes it larger: the list takes the room.
    window.form->resize(fixed.width() + 200, fixed.height() + 150);
    QApplication::processEvents();
    checkLayout(QSize(fixed.width() + 200, fixed.height() + 150));
  }

  void withoutADisplayOneClearLine() {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
      environment.remove(name);
    auto run = [](const QProcessEnvironment& env) {
      QProcess program;
      program.setProcessEnvironment(env);
      program.start(QStringLiteral(DROVANTA_WINDOW_PROGRAM), {});
      program.waitForFinished(30000);
      return std::make_pair(program.exitCode(), QString::fromUtf8(program.readAllStandardError()));
    };
    const auto [status, message] = run(environment);
    QCOMPARE(status, 2);
    QVERIFY2(message.contains("needs a desktop session") && message.contains("emlx2mbox --help") &&
                 message.count('\n') == 1,
             qPrintable(message));
    // A platform asked for that cannot start: the same line instead of Qt's own.
    environment.insert("QT_QPA_PLATFORM", "xcb");
    const auto [xcbStatus, xcbMessage] = run(environment);
    QCOMPARE(xcbStatus, 2);
    QVERIFY2(xcbMessage.endsWith(message) && !xcbMessage.contains("einstall"),
             qPrintable(xcbMessage));
  }

  void focusOrderAndStart() {
    WindowFixture window;
    QApplication::setActiveWindow(window.form.get());
    QTRY_COMPARE(QApplication::focusWidget(), window.form->cmdAdd);
    // Enter presses it, so its focus frame shows from the start.
    const QImage focusedAtStart = window.form->cmdAdd->grab().toImage();
    window.form->cmdAdd->clearFocus();
    QVERIFY(window.form->cmdAdd->grab().toImage() != focusedAtStart);
    window.form->cmdAdd->setFocus();
    // Row by row, left to right.
    const QStringList expected = {"CmdAddFolder",   "cmdClear1",     "grdFiles1",
                                  "CmdHelp",        "chkAppleNames", "chkKeepState",
                                  "cboMailProgram", "cmdEnd",        "cmdAdd"};
    for (const QString& name : expected) {
      QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
      QCOMPARE(QApplication::focusWidget()->objectName(), name);
    }
    // Convert joins the order once enabled.
    window.form->CmdConvert2PDF->setEnabled(true);
    window.form->grdFiles1->setFocus();
    QTest::keyClick(window.form->grdFiles1, Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget()->objectName(), QStringLiteral("CmdConvert2PDF"));

    // The focused list shows the style's focus frame along its edge; its cells stay as drawn.
    window.form->AddFileToList("/mail/1.emlx");
    window.form->cmdAdd->setFocus();
    QApplication::processEvents();
    const QImage unfocused = window.form->grdFiles1->viewport()->grab().toImage();
    window.form->grdFiles1->setFocus();
    QApplication::processEvents();
    const QImage focused = window.form->grdFiles1->viewport()->grab().toImage();
    const QPoint edge(unfocused.width() / 2, unfocused.height() - 1);
    QVERIFY(unfocused.pixelColor(edge) != focused.pixelColor(edge));
    const QPoint inside(unfocused.width() / 2, unfocused.height() - 10);
    QCOMPARE(focused.pixelColor(inside), unfocused.pixelColor(inside));
  }

  void accessKeysAndNoDefaultButton() {
    WindowFixture window;
    QApplication::setActiveWindow(window.form.get());
    QVERIFY(QTest::qWaitForWindowActive(window.form.get()));
    window.form->grdFiles1->setFocus();
    QTest::keyClick(window.form->grdFiles1, Qt::Key_Return);
    QTest::keyClick(window.form->grdFiles1, Qt::Key_Escape);
    QVERIFY(window.platform.boxes.empty());
    QVERIFY(window.platform.opened.empty());

    window.platform.queueAnswer(MessageAnswer::No);
    // An access key presses its button visibly, then clicks it.
    QTest::keyClick(window.form->windowHandle(), Qt::Key_X, Qt::AltModifier);
    QTRY_COMPARE(window.platform.boxes.size(), std::size_t(1));
    QCOMPARE(window.platform.boxes[0].text, std::string("Are you sure you want to exit now?"));
    QCOMPARE(window.platform.boxes[0].caption, std::string("Drovanta EMLX to MBOX Converter"));
    QVERIFY(window.platform.boxes[0].buttons == MessageButtons::YesNo);
    QVERIFY(window.platform.boxes[0].icon == MessageIcon::Question);
    QVERIFY(window.platform.boxes[0].defaultAnswer == MessageAnswer::Yes);
    QCOMPARE(window.platform.endRequests, 0);
    QVERIFY(window.form->isVisible());

    QTest::keyClick(window.form->windowHandle(), Qt::Key_H, Qt::AltModifier);
    QTRY_COMPARE(window.platform.opened.size(), std::size_t(1));
    QTest::keyClick(window.form->windowHandle(), Qt::Key_H, Qt::AltModifier);
    QTRY_COMPARE(window.platform.opened.size(), std::size_t(2));
    QVERIFY(window.platform.opened[0].starts_with("http://"));
    QVERIFY(window.platform.opened[0].ends_with("/emlx-to-mbox.html"));
    QCOMPARE(window.platform.boxes.size(), std::size_t(1));
  }

  void helpThatCannotBeOpenedShowsItsAddress() {
    WindowFixture window;
    window.platform.shellOpenWorks = false;
    WindowFixture::click(window.form->CmdHelp);
    QCOMPARE(window.platform.opened.size(), std::size_t(1));
    QCOMPARE(window.platform.boxes.size(), std::size_t(1));
    const MessageBoxRequest& box = window.platform.boxes[0];
    QVERIFY2(box.text.ends_with("\r\n" + window.platform.opened[0]), box.text.c_str());
    QCOMPARE(box.caption, std::string("Drovanta EMLX to MBOX Converter"));
    QVERIFY(box.icon == MessageIcon::Information && box.buttons == MessageButtons::Ok);
  }

  void exitAnsweredYesEndsTheProgram() {
    WindowFixture window;
    window.form->AddFileToList("/mail/1.emlx");
    window.platform.queueAnswer(MessageAnswer::Yes);
    WindowFixture::click(window.form->cmdEnd);
    QCOMPARE(window.platform.endRequests, 1);
    QCOMPARE(window.platform.boxes.size(), std::size_t(1));
    QVERIFY(!window.form->isVisible());
  }

  void closingOtherwiseEndsWithoutAQuestion() {
    WindowFixture window;
    window.form->AddFileToList("/mail/1.emlx");
    window.form->close();
    QCOMPARE(window.platform.endRequests, 1);
    QVERIFY(window.platform.boxes.empty());
  }

  void iconHasNineImages() {
    QTemporaryDir folder;
    const QString path = folder.filePath("program.ico");
    QCOMPARE(QProcess::execute(QStringLiteral(DROVANTA_MAKE_ICON), {path}), 0);
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    QCOMPARE(qFromLittleEndian<quint16>(bytes.constData() + 4), quint16(9));
    QList<QPair<int, int>> entries;
    for (int i = 0; i < 9; ++i) {
      const char* entry = bytes.constData() + 6 + 16 * i;
      const int size =
          static_cast<unsigned char>(entry[0]) == 0 ? 256 : static_cast<unsigned char>(entry[0]);
      entries.append({size, qFromLittleEndian<quint16>(entry + 6)});
      const quint32 length = qFromLittleEndian<quint32>(entry + 8);
      const quint32 offset = qFromLittleEndian<quint32>(entry + 12);
      const QImage image = QImage::fromData(bytes.mid(offset, length), "PNG");
      QCOMPARE(image.size(), QSize(size, size));
      QCOMPARE(image.pixelColor(0, 0).alpha(), 0);  // transparent around the drawing
    }
    const QList<QPair<int, int>> expected = {{16, 8},  {24, 8},  {32, 8},  {48, 8},  {16, 32},
                                             {24, 32}, {32, 32}, {48, 32}, {256, 32}};
    QCOMPARE(entries, expected);
    QCOMPARE(ProgramIcon().availableSizes().size(), 5);
  }
};

QTEST_MAIN(FrmStep1Test)
#include "frm_step1_qtest.moc"
