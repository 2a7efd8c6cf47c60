// The Qt platform's dialogs and boxes, answered through their real widgets, and the folder
// picker and shell routines over a platform.
#include <QAbstractButton>
#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QStandardPaths>
#include <QTest>
#include <QTimer>
#include <functional>

#include "window/folder_picker.h"
#include "window/qt_platform.h"
#include "window/scripted_platform.h"

using namespace drovanta;

namespace {

// Runs `answer` on the modal widget of type T once it is shown.
template <typename T>
void whenShown(std::function<void(T*)> answer) {
  auto* timer = new QTimer;
  timer->setInterval(10);
  QObject::connect(timer, &QTimer::timeout, [timer, answer] {
    if (auto* widget = qobject_cast<T*>(QApplication::activeModalWidget())) {
      timer->stop();
      timer->deleteLater();
      answer(widget);
    }
  });
  timer->start();
}

}  // namespace

class QtPlatformTest : public QObject {
  Q_OBJECT

 private slots:
  void messageBoxShowsTheRequestAndReturnsTheAnswer() {
    QtPlatform platform;
    QString text, title;
    QMessageBox::Icon icon{};
    QAbstractButton* defaultButton = nullptr;
    int buttons = 0;
    whenShown<QMessageBox>([&](QMessageBox* box) {
      text = box->text();
      title = box->windowTitle();
      icon = box->icon();
      buttons = box->buttons().size();
      defaultButton = box->defaultButton();
      QTest::keyClick(box, Qt::Key_Return);  // Enter takes the default button
    });
    const MessageAnswer answer =
        platform.messageBox({"Do you want to clear all the files in the list\r\n Proceed?",
                             "Drovanta EMLX to MBOX Converter", MessageButtons::YesNo,
                             MessageIcon::Question, MessageAnswer::Yes});
    QVERIFY(answer == MessageAnswer::Yes);
    QCOMPARE(text, QStringLiteral("Do you want to clear all the files in the list\n Proceed?"));
    QCOMPARE(title, QStringLiteral("Drovanta EMLX to MBOX Converter"));
    QCOMPARE(icon, QMessageBox::Question);
    QCOMPARE(buttons, 2);
    QVERIFY(defaultButton != nullptr);

    whenShown<QMessageBox>([](QMessageBox* box) { box->button(QMessageBox::No)->click(); });
    QVERIFY(platform.messageBox({"Are you sure you want to exit now?", "t", MessageButtons::YesNo,
                                 MessageIcon::Question, MessageAnswer::Yes}) == MessageAnswer::No);

    whenShown<QMessageBox>([&](QMessageBox* box) {
      icon = box->icon();
      box->button(QMessageBox::Ok)->click();
    });
    QVERIFY(platform.messageBox({"0 Files Added to List.", "t", MessageButtons::Ok,
                                 MessageIcon::None, MessageAnswer::Ok}) == MessageAnswer::Ok);
    QCOMPARE(icon, QMessageBox::NoIcon);

    // Details go behind the box's "Show Details..." button, one a line.
    QString details;
    whenShown<QMessageBox>([&](QMessageBox* box) {
      details = box->detailedText();
      box->button(QMessageBox::Ok)->click();
    });
    platform.messageBox({"Export finished with errors.", "t", MessageButtons::Ok,
                         MessageIcon::Exclamation, MessageAnswer::Ok,
                         "/m/1.emlx: x\r\n/m/2.emlx: y"});
    QCOMPARE(details, QStringLiteral("/m/1.emlx: x\n/m/2.emlx: y"));
  }

  void settingsAreKeptForTheNextStart() {
    QStandardPaths::setTestModeEnabled(true);
    QtPlatform{}.setSetting("lastDestination", "/home/ann/Mail out \xce\xa9");
    QCOMPARE(QtPlatform{}.setting("lastDestination"), std::string("/home/ann/Mail out \xce\xa9"));
    QCOMPARE(QtPlatform{}.setting("never set"), std::string());
  }

  void folderDialogShowsTheTitleAndCancelsToEmpty() {
    QWidget owner;
    owner.show();
    QtPlatform platform;
    platform.setOwner(&owner);
    QString title;
    bool foldersOnly = false;
    whenShown<QFileDialog>([&](QFileDialog* dialog) {
      title = dialog->windowTitle();
      foldersOnly = dialog->fileMode() == QFileDialog::Directory;
      dialog->reject();
    });
    QCOMPARE(BrowseForFolder(platform, "Choose Source Folder..."), std::string());
    QCOMPARE(title, QStringLiteral("Choose Source Folder..."));
    QVERIFY(foldersOnly);
  }

  void openDialogOffersTheMessageFilter() {
    QCOMPARE(QtNameFilter("Mail Messages (*.emlx)|*.emlx"),
             QStringLiteral("Mail Messages (*.emlx)"));
    QCOMPARE(QtNameFilter("Text|*.txt;*.text|All|*.*"),
             QStringLiteral("Text (*.txt *.text);;All (*.*)"));
    QtPlatform platform;
    QStringList filters;
    bool several = false;
    whenShown<QFileDialog>([&](QFileDialog* dialog) {
      filters = dialog->nameFilters();
      several = dialog->fileMode() == QFileDialog::ExistingFiles;
      dialog->reject();
    });
    const OpenFileResult result = platform.showOpen({"", "Mail Messages (*.emlx)|*.emlx", 0x80200});
    QCOMPARE(result.fileName, std::string());
    QCOMPARE(result.error, 0);
    QCOMPARE(filters, QStringList{"Mail Messages (*.emlx)"});
    QVERIFY(several);
  }

  void pickerAndShellOverAnyPlatform() {
    ScriptedPlatform platform;
    platform.queueFolder(std::string("/mail/Inbox\0\0\0stale", 19));
    QCOMPARE(BrowseForFolder(platform, "Choose Folder to Save..."), std::string("/mail/Inbox"));
    platform.queueFolder(std::string("\0/left/over", 11));
    QCOMPARE(BrowseForFolder(platform, "t"), std::string());
    const std::string longest(259, 'p');
    platform.queueFolder(longest);
    QCOMPARE(BrowseForFolder(platform, "t"), longest);

    QVERIFY(!ShellOpen(platform, ""));
    QVERIFY(platform.opened.empty());
    QVERIFY(ShellOpen(platform, "http://example.org/emlx-to-mbox.html"));
    QCOMPARE(platform.opened.size(), std::size_t(1));
    // What the platform answers is handed back: no handler, no success.
    platform.shellOpenWorks = false;
    QVERIFY(!ShellOpen(platform, "http://example.org/emlx-to-mbox.html"));
  }
};

QTEST_MAIN(QtPlatformTest)
#include "qt_platform_qtest.moc"
