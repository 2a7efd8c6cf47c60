// The window on a 1280 x 800 screen at a scale of 2.5, where its fixed layout does not fit.
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QMessageBox>
#include <QScreen>
#include <QStyle>
#include <QTimer>

#include "window/qt_platform.h"
#include "window_fixture.h"

using namespace drovanta;
using drovanta::testing::WindowFixture;

class ScaledScreenTest : public QObject {
  Q_OBJECT

 private slots:
  void theWholeWindowStaysOnTheScreen() {
    const QScreen* screen = QGuiApplication::primaryScreen();
    QCOMPARE(screen->geometry().size(), QSize(512, 320));  // 1280 x 800 at 2.5
    WindowFixture window;
    const QRect frame = window.form->frameGeometry();
    QVERIFY2(screen->availableGeometry().contains(frame), qPrintable(QString("%1,%2 %3x%4")
                                                                         .arg(frame.x())
                                                                         .arg(frame.y())
                                                                         .arg(frame.width())
                                                                         .arg(frame.height())));
    // Convert, Help, Exit and the two check boxes between them are whole inside the window,
    // each box as large as its text asks, and it can be resized. The title band is left out.
    QVERIFY(!window.form->findChild<QWidget*>(QStringLiteral("lblTitle"))->isVisible());
    for (QWidget* button :
         {static_cast<QWidget*>(window.form->CmdConvert2PDF),
          static_cast<QWidget*>(window.form->CmdHelp), static_cast<QWidget*>(window.form->cmdEnd),
          static_cast<QWidget*>(window.form->chkAppleNames),
          static_cast<QWidget*>(window.form->chkKeepState),
          static_cast<QWidget*>(window.form->cboMailProgram),
          window.form->findChild<QWidget*>(QStringLiteral("lblFor"))}) {
      const QRect place(button->mapTo(window.form.get(), QPoint(0, 0)), button->size());
      QVERIFY(window.form->rect().contains(place));
    }
    for (QWidget* box : {static_cast<QWidget*>(window.form->chkAppleNames),
                         static_cast<QWidget*>(window.form->chkKeepState),
                         static_cast<QWidget*>(window.form->cboMailProgram),
                         window.form->findChild<QWidget*>(QStringLiteral("lblFor"))}) {
      const int indicator = box->style()->pixelMetric(QStyle::PM_IndicatorHeight, nullptr, box);
      QVERIFY2(box->sizeHint().width() <= box->width() &&
                   box->fontMetrics().height() <= box->height() && indicator <= box->height(),
               qPrintable(QStringLiteral("%1 wide, text %2 and box %3 high, in %4x%5")
                              .arg(box->sizeHint().width())
                              .arg(box->fontMetrics().height())
                              .arg(indicator)
                              .arg(box->width())
                              .arg(box->height())));
    }
    QVERIFY(window.form->minimumSize() != window.form->maximumSize());
  }

  void everyDialogFitsTheScreen() {
    WindowFixture window;
    QtPlatform platform;
    platform.setOwner(window.form.get());
    const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
    QList<QRect> shown;
    auto measure = [&shown] {
      QTimer::singleShot(50, [&shown] {
        QWidget* dialog = QApplication::activeModalWidget();
        shown.append(dialog->frameGeometry());
        dialog->close();
      });
    };
    measure();
    platform.browseForFolder("Choose Folder to Save...", QDir::homePath().toStdString());
    measure();
    platform.showOpen({"", "Mail Messages (*.emlx)|*.emlx", 0x80200});
    QCOMPARE(shown.size(), 2);
    for (const QRect& dialog : shown) {
      QVERIFY2(area.contains(dialog), qPrintable(QString("%1,%2 %3x%4")
                                                     .arg(dialog.x())
                                                     .arg(dialog.y())
                                                     .arg(dialog.width())
                                                     .arg(dialog.height())));
    }
  }

  void everyMessageBoxFitsTheScreenWithItsCaptionWhole_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("details");
    QString many = QStringLiteral("Export finished with errors.");
    for (int i = 0; i < 60; ++i) many += QStringLiteral("\n/mail/In/%1.emlx: cannot open").arg(i);
    QTest::newRow("a long list") << many << QString();
    QTest::newRow("a long list and details") << many << QStringLiteral("a\nb");
    QTest::newRow("one long path") << QString(4000, QLatin1Char('p')) << QString();
    QTest::newRow("a short box") << QStringLiteral("0 Files Added to List.") << QString();
  }

  void everyMessageBoxFitsTheScreenWithItsCaptionWhole() {
    QFETCH(QString, text);
    QFETCH(QString, details);
    WindowFixture window;
    QtPlatform platform;
    platform.setOwner(window.form.get());
    const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
    bool fits = false;
    QTimer::singleShot(50, [&] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      QAbstractButton* ok = box->button(QMessageBox::Ok);
      const int caption = std::min(CaptionWidth(box->windowTitle(), *box), area.width());
      // Shut, then with its details shown, the box and its OK are on the screen, the caption
      // whole; a text cut short is whole under the details.
      fits = area.contains(box->frameGeometry()) && box->width() >= caption &&
             (box->text() == text || box->detailedText().startsWith(text));
      // The details button offers what it does: to show the hidden details.
      for (QAbstractButton* button : box->buttons()) {
        if (box->buttonRole(button) != QMessageBox::ActionRole) continue;
        fits = fits && button->text() == QMessageBox::tr("Show Details...");
        button->click();
      }
      fits = fits && area.contains(box->frameGeometry()) && box->rect().contains(ok->geometry());
      ok->click();
    });
    platform.messageBox({text.toStdString(), "Drovanta EMLX to MBOX Converter", MessageButtons::Ok,
                         MessageIcon::Exclamation, MessageAnswer::Ok, details.toStdString()});
    QVERIFY(fits);
  }
};

int main(int argc, char** argv) {
  // The offscreen platform reads its screens from a file; a window frame is drawn around windows.
  const QString config = QDir::temp().filePath(
      QStringLiteral("drovanta-scaled-screen-%1.json").arg(QCoreApplication::applicationPid()));
  QFile file(config);
  if (!file.open(QIODevice::WriteOnly)) return 1;
  file.write(R"({"windowFrameMargins": true, "screens": [{"name": "scaled", "x": 0, "y": 0,
      "width": 1280, "height": 800, "logicalDpi": 240, "logicalBaseDpi": 96, "dpr": 1}]})");
  file.close();
  qputenv("QT_QPA_PLATFORM", "offscreen:configfile=" + config.toUtf8());
  QApplication app(argc, argv);
  QFile::remove(config);
  ScaledScreenTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "scaled_screen_qtest.moc"
