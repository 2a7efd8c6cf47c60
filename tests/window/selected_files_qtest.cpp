// The selected-files list and the commands that fill and empty it, on the real window.
#include <sys/stat.h>

#include <QCheckBox>
#include <QDir>
#include <QDropEvent>
#include <QLabel>
#include <QMimeData>
#include <QUrl>

#include "support/temp_folder.h"
#include "window/picked_files.h"
#include "window_fixture.h"

using namespace drovanta;
using drovanta::testing::TempFolder;
using drovanta::testing::WindowFixture;
using Strings = std::vector<std::string>;
namespace fs = std::filesystem;

namespace {

// Drags the paths (as a file manager offers them: copy or move) over the list and drops them.
// Answers whether the list took the drag; a refused drag is not dropped.
bool dropOnTheList(WindowFixture& window, const Strings& paths, const char* scheme = nullptr) {
  QMimeData data;
  QList<QUrl> urls;
  for (const auto& path : paths) {
    urls << (scheme ? QUrl(QString::fromStdString(scheme + path))
                    : QUrl::fromLocalFile(QString::fromStdString(path)));
  }
  data.setUrls(urls);
  QWidget* list = window.form->grdFiles1->viewport();
  const QPoint at = list->rect().center();
  const Qt::DropActions offered = Qt::CopyAction | Qt::MoveAction;
  QDragEnterEvent enter(at, offered, &data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(list, &enter);
  QDragMoveEvent move(at, offered, &data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(list, &move);
  // A drag left unaccepted is what makes the pointer show that nothing can be dropped here.
  if (!enter.isAccepted() || !move.isAccepted()) return false;
  if (enter.dropAction() != Qt::CopyAction) qFatal("a drop onto the list must copy");
  QDropEvent drop(QPointF(at), offered, &data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(list, &drop);
  return drop.isAccepted();
}

}  // namespace

class SelectedFilesTest : public QObject {
  Q_OBJECT

 private slots:
  void addAndResetKeepTheGridAsTheStore() {
    WindowFixture window;
    window.form->AddFileToList("/mail/Inbox/1.emlx");
    QCOMPARE(window.form->grdFiles1->Rows(), 1L);
    QCOMPARE(window.countText(), std::string("1 files"));
    window.form->AddFileToList(" /mail/Inbox/1.emlx ");
    window.form->AddFileToList(" /mail/Inbox/1.emlx ");
    QCOMPARE(window.listEntries(),
             (Strings{"/mail/Inbox/1.emlx", " /mail/Inbox/1.emlx ", " /mail/Inbox/1.emlx "}));
    QCOMPARE(window.countText(), std::string("3 files"));
    QCOMPARE(window.form->grdFiles1->Row(), 2L);  // the current cell follows the new row

    window.form->CmdConvert2PDF->setEnabled(true);
    window.form->ResetFileList();
    QCOMPARE(window.listEntries(), Strings{""});
    QCOMPARE(window.countText(), std::string("0 files"));
    QVERIFY(window.form->CmdConvert2PDF->isEnabled());
    window.form->ResetFileList();
    QCOMPARE(window.listEntries(), Strings{""});
  }

  void clearAsksAndHonoursTheAnswer() {
    WindowFixture window;
    WindowFixture::click(window.form->cmdClear1);
    QVERIFY(window.platform.boxes.empty());  // an empty list is not cleared

    window.form->AddFileToList("/a/1.emlx");
    window.form->AddFileToList("/a/2.emlx");
    window.platform.queueAnswer(MessageAnswer::No);
    WindowFixture::click(window.form->cmdClear1);
    QCOMPARE(window.platform.boxes.size(), std::size_t(1));
    const MessageBoxRequest& box = window.platform.boxes[0];
    QCOMPARE(box.text, std::string("Do you want to clear all the files in the list\r\n Proceed?"));
    QCOMPARE(box.caption, std::string("Drovanta EMLX to MBOX Converter"));
    QVERIFY(box.buttons == MessageButtons::YesNo && box.icon == MessageIcon::Question);
    QVERIFY(box.defaultAnswer == MessageAnswer::Yes);
    QCOMPARE(window.listEntries(), (Strings{"/a/1.emlx", "/a/2.emlx"}));
    QCOMPARE(window.form->grdFiles1->Row(), 0L);

    window.platform.queueAnswer(MessageAnswer::Yes);
    WindowFixture::click(window.form->cmdClear1);
    QCOMPARE(window.listEntries(), Strings{""});
    QCOMPARE(window.countText(), std::string("0 files"));
  }

  void pickedFilesTakeTheDialogsForm() {
    const auto one = PickedFilesResult({"/m/a.emlx"});
    QCOMPARE(one.fileName, std::string("/m/a.emlx"));
    const auto several = PickedFilesResult({"/m/In/a.emlx", "/m/In/b.emlx"});
    QCOMPARE(several.fileName, std::string("/m/In\0a.emlx\0b.emlx", 19));
    const auto root = PickedFilesResult({"/a.emlx", "/b.emlx"});
    QCOMPARE(root.fileName, std::string("/\0a.emlx\0b.emlx", 15));
    const auto drive = PickedFilesResult({"C:\\a.emlx", "C:\\b.emlx"}, '\\');
    QCOMPARE(drive.fileName, std::string("C:\\\0a.emlx\0b.emlx", 17));
  }

  void addFilesReplacesTheListButCancelKeepsIt() {
    WindowFixture window;
    Strings earlier;
    for (int i = 0; i < 300; ++i) earlier.push_back("/old/" + std::to_string(i) + ".emlx");
    window.platform.queuePickedFiles(earlier);
    WindowFixture::click(window.form->cmdAdd);
    QCOMPARE(window.listEntries().size(), std::size_t(300));

    // Cancel: the 300 entries, the count and the Convert button stay as they were.
    WindowFixture::click(window.form->cmdAdd);
    QCOMPARE(window.listEntries(), earlier);
    QCOMPARE(window.countText(), std::string("300 files"));
    QVERIFY(window.form->CmdConvert2PDF->isEnabled());
    QVERIFY(window.platform.boxes.empty());
    QCOMPARE(window.platform.openRequests.size(), std::size_t(2));
    const OpenFileRequest& request = window.platform.openRequests[1];
    QCOMPARE(request.fileName, std::string());
    QCOMPARE(request.filter, std::string("Mail Messages (*.emlx)|*.emlx"));
    QCOMPARE(request.flags, 0x80200L);

    window.platform.queuePickedFiles({"/mail/In box/Note.txt"});
    WindowFixture::click(window.form->cmdAdd);
    QCOMPARE(window.listEntries(), Strings{"/mail/In box/Note.txt"});
    QVERIFY(window.form->CmdConvert2PDF->isEnabled());

    // Listed in the natural order Add Folder uses, not the dialog's text order.
    window.platform.queuePickedFiles({"/mail/In/1.EMLX", "/mail/In/10.emlx", "/mail/In/100.emlx",
                                      "/mail/In/11.emlx", "/mail/In/2.emlx"});
    WindowFixture::click(window.form->cmdAdd);
    QCOMPARE(window.listEntries(),
             (Strings{"/mail/In/1.EMLX", "/mail/In/2.emlx", "/mail/In/10.emlx", "/mail/In/11.emlx",
                      "/mail/In/100.emlx"}));
    QCOMPARE(window.countText(), std::string("5 files"));
  }

  void addFilesFromARootFolderDoublesTheSeparator() {
    WindowFixture window;
    window.platform.queuePickedFiles({"/a.emlx", "/b.emlx"});
    WindowFixture::click(window.form->cmdAdd);
    QCOMPARE(window.listEntries(), (Strings{"//a.emlx", "//b.emlx"}));
  }

  void addFilesTakesAResultEndingInNulOnce() {
    WindowFixture window;
    OpenFileResult result;
    result.fileName = std::string("/m\0a.emlx\0b.emlx\0", 17);
    window.platform.queueOpenResult(result);
    WindowFixture::click(window.form->cmdAdd);
    QCOMPARE(window.listEntries(), (Strings{"/m/a.emlx", "/m/b.emlx"}));
  }

  void addFilesTakesEveryPickedFile() {
    WindowFixture window;
    Strings picked;
    for (int i = 0; i < 150; ++i)
      picked.push_back("/mail/Inbox/" + std::to_string(100000 + i) + ".emlx");
    window.platform.queuePickedFiles(picked);
    WindowFixture::click(window.form->cmdAdd);
    QVERIFY(window.platform.boxes.empty());
    QCOMPARE(window.listEntries(), picked);
    QCOMPARE(window.countText(), std::string("150 files"));
    QVERIFY(window.form->CmdConvert2PDF->isEnabled());
  }

  void addFilesShowsAnyOtherDialogError() {
    WindowFixture window;
    window.form->AddFileToList("/old/1.emlx");
    OpenFileResult failed;
    failed.error = 28663;
    failed.errorDescription = "The dialog could not be created";
    window.platform.queueOpenResult(failed);
    WindowFixture::click(window.form->cmdAdd);
    QCOMPARE(window.platform.boxes.size(), std::size_t(1));
    QCOMPARE(window.platform.boxes[0].text, std::string("28663:The dialog could not be created"));
    QVERIFY(window.platform.boxes[0].icon == MessageIcon::Exclamation);
    QCOMPARE(window.listEntries(), Strings{"/old/1.emlx"});
  }

  void addFolderAppendsMessagesOnly() {
    TempFolder tree;
    tree.write("Inbox/1.emlx", "x");
    tree.write("Inbox/2.EMLX", "x");
    tree.write("Inbox/Deep/Er/3.Emlx", "x");
    tree.write("Inbox/.emlx", "x");
    tree.write("Inbox/4.emlx.bak", "x");
    tree.write("Inbox/5.eml", "x");
    tree.write("Inbox/emlx", "x");
    WindowFixture window;
    window.form->AddFileToList("/earlier/0.emlx");

    WindowFixture::click(window.form->CmdAddFolder);  // cancelled
    QCOMPARE(window.platform.folderTitles, Strings{"Choose Source Folder..."});
    QVERIFY(window.platform.pointers.empty());
    QVERIFY(window.platform.boxes.empty());

    const std::string root = tree.str() + "/Inbox";
    window.platform.queueFolder(root);
    WindowFixture::click(window.form->CmdAddFolder);
    const Strings entries = window.listEntries();
    QCOMPARE(entries.size(), std::size_t(5));
    QCOMPARE(entries[0], std::string("/earlier/0.emlx"));
    const Strings added(entries.begin() + 1, entries.end());
    for (const char* name : {"/.emlx", "/1.emlx", "/2.EMLX", "/Deep/Er/3.Emlx"}) {
      QVERIFY2(std::count(added.begin(), added.end(), root + name) == 1, name);
    }
    QCOMPARE(added.back(), root + "/Deep/Er/3.Emlx");  // the subfolder is walked after its parent
    QCOMPARE(window.countText(), std::string("5 files"));
    QCOMPARE(window.platform.boxes.back().text, std::string("4 Files Added to List."));
    QVERIFY(window.platform.boxes.back().icon == MessageIcon::None);
    QVERIFY(window.platform.boxes.back().buttons == MessageButtons::Ok);
    QVERIFY(window.form->CmdConvert2PDF->isEnabled());
    QVERIFY((window.platform.pointers ==
             std::vector<MousePointer>{MousePointer::Hourglass, MousePointer::Default}));

    // The same folder again, with its trailing separator: nothing new, and the box says so.
    tree.write("Inbox/Deep/6.emlx", "x");
    window.platform.queueFolder(root + "/");
    WindowFixture::click(window.form->CmdAddFolder);
    QCOMPARE(window.listEntries().size(), std::size_t(6));
    QCOMPARE(window.listEntries()[5], root + "/Deep/6.emlx");
    QCOMPARE(window.platform.boxes.back().text, std::string("1 Files Added to List."));
  }

  void addFolderNamesEveryFolderItCouldNotSearchAndAddsTheRest() {
    TempFolder tree;
    for (const char* file : {"In/A/1.emlx", "In/B\x1b[2J/2.emlx", "In/C/3.emlx", "In/D/4.emlx"}) {
      tree.write(file, "x");
    }
    const std::string root = tree.str() + "/In";
    QCOMPARE(::mkfifo((root + "/C/5.emlx").c_str(), 0600), 0);  // never opened, but named
    tree.write("Elsewhere/7.emlx", "x");
    fs::create_directory_symlink(tree.str() + "/Elsewhere", root + "/E");  // not searched, named
    WindowFixture window;
    window.platform.queueFolder(root);
    // Once the walk has listed In (the pointer shows it has begun; In's subfolders are queued
    // with a yield after each), B and D go away before they are listed.
    int yieldsInWalk = 0;
    window.platform.onYield([&] {
      if (window.platform.pointers.empty() || ++yieldsInWalk < 5) return false;
      fs::remove_all(root + "/B\x1b[2J");
      fs::remove_all(root + "/D");
      return true;
    });
    WindowFixture::click(window.form->CmdAddFolder);
    QCOMPARE(window.listEntries(), (Strings{root + "/A/1.emlx", root + "/C/3.emlx"}));
    QCOMPARE(window.platform.boxes.size(), std::size_t(2));
    const std::string& text = window.platform.boxes[0].text;
    QCOMPARE(text, "Some folders could not be searched. Some entries were skipped.\r\n" + root +
                       "/B\\x1b[2J/: cannot list the folder: No such file or directory\r\n" + root +
                       "/D/: cannot list the folder: No such file or directory\r\nskipped: " +
                       root + "/E: a symbolic link to a folder, not followed\r\nskipped: " + root +
                       "/C/5.emlx: not a regular file but a named pipe (FIFO)");
    QVERIFY(window.platform.boxes[0].icon == MessageIcon::Exclamation);
    QCOMPARE(window.platform.boxes[1].text, std::string("2 Files Added to List."));

    // Many: the first five, and every one under the details.
    for (int i = 10; i < 50; ++i)
      ::mkfifo((root + "/A/" + std::to_string(i) + ".emlx").c_str(), 0600);
    window.platform.queueFolder(root + "/A");
    WindowFixture::click(window.form->CmdAddFolder);
    const MessageBoxRequest& many = window.platform.boxes[2];
    QVERIFY2(many.text.starts_with("Some entries were skipped.") &&
                 many.text.ends_with("/A/14.emlx: not a regular file but a named pipe (FIFO)"
                                     "\r\n... and 35 more.") &&
                 std::count(many.text.begin(), many.text.end(), '\n') == 6 &&
                 std::count(many.details.begin(), many.details.end(), '\n') == 39,
             many.text.c_str());
  }

  void addFolderWithoutMessagesLeavesConvertAsTheListIs() {
    TempFolder tree;
    tree.write("Empty/readme.txt", "x");
    WindowFixture window;
    window.platform.queuePickedFiles({"/mail/1.emlx"});
    WindowFixture::click(window.form->cmdAdd);
    QVERIFY(window.form->CmdConvert2PDF->isEnabled());

    window.platform.queueFolder(tree.str() + "/Empty");
    WindowFixture::click(window.form->CmdAddFolder);
    QCOMPARE(
        window.platform.boxes.back().text,
        "0 Files Added to List.\r\nNo .emlx files were found in:\r\n" + tree.str() + "/Empty/");
    QVERIFY(window.form->CmdConvert2PDF->isEnabled());
    QCOMPARE(window.listEntries(), Strings{"/mail/1.emlx"});
    // With nothing listed there is nothing to convert.
    window.form->ResetFileList();
    window.platform.queueFolder(tree.str() + "/Empty");
    WindowFixture::click(window.form->CmdAddFolder);
    QVERIFY(!window.form->CmdConvert2PDF->isEnabled());
  }

  void droppedFoldersAndFilesAreAppended() {
    TempFolder tree;
    const std::string box = tree.str() + "/Box";
    tree.write("Box/1.emlx", "x");
    tree.write("Box/Deep/2.EMLX", "x");
    tree.write("Box/note.txt", "x");
    const std::string text = tree.write("Loose/readme.txt", "x");
    const std::string message = tree.write("Loose/9.emlx", "x");
    WindowFixture window;
    window.form->AddFileToList("/earlier/0.emlx");

    // A folder: its messages only, as Add Folder adds them, below the earlier entry.
    QVERIFY(dropOnTheList(window, {box}));
    QTRY_COMPARE(window.platform.boxes.size(), std::size_t(1));
    QCOMPARE(window.platform.boxes[0].text, std::string("2 Files Added to List."));
    QVERIFY(window.platform.boxes[0].icon == MessageIcon::None);
    QCOMPARE(window.listEntries(),
             (Strings{"/earlier/0.emlx", box + "/1.emlx", box + "/Deep/2.EMLX"}));
    QVERIFY(window.form->CmdConvert2PDF->isEnabled());
    QCOMPARE(window.countText(), std::string("3 files"));

    // Files: each as Add Files takes it, whatever its name.
    QVERIFY(dropOnTheList(window, {text, message}));
    QTRY_COMPARE(window.platform.boxes.size(), std::size_t(2));
    QCOMPARE(window.platform.boxes[1].text, std::string("2 Files Added to List."));
    QCOMPARE(window.listEntries().size(), std::size_t(5));
    QCOMPARE(window.listEntries()[3], text);

    // A mix, in the order dropped; what is listed already is not listed again.
    const std::string more = tree.write("Box/Deep/3.emlx", "x");
    QVERIFY(dropOnTheList(window, {message, box}));
    QTRY_COMPARE(window.platform.boxes.size(), std::size_t(3));
    QCOMPARE(window.platform.boxes[2].text, std::string("1 Files Added to List."));
    QCOMPARE(window.listEntries().size(), std::size_t(6));
    QCOMPARE(window.listEntries().back(), more);

    // A folder without messages: nothing added, Convert kept for the files listed.
    tree.write("Empty/readme.txt", "x");
    QVERIFY(dropOnTheList(window, {tree.str() + "/Empty"}));
    QTRY_COMPARE(window.platform.boxes.size(), std::size_t(4));
    QCOMPARE(
        window.platform.boxes[3].text,
        "0 Files Added to List.\r\nNo .emlx files were found in:\r\n" + tree.str() + "/Empty/");
    QVERIFY(window.form->CmdConvert2PDF->isEnabled());
    // Web addresses are not files: such a drag is refused.
    QVERIFY(!dropOnTheList(window, {"//example.org/1.emlx"}, "http:"));

    // A relative "file:" address is taken against the working folder; an empty one, or one
    // whose working folder is gone, is refused as well.
    const QString working = QDir::currentPath();
    QDir::setCurrent(QString::fromStdString(tree.str()));
    const std::string relative = tree.write("Loose/10.emlx", "x");
    QVERIFY(dropOnTheList(window, {"Loose/10.emlx"}, "file:"));
    QTRY_COMPARE(window.platform.boxes.size(), std::size_t(5));
    QCOMPARE(window.listEntries().back(), relative);
    QVERIFY(!dropOnTheList(window, {""}, "file:"));
    QDir().mkdir(QStringLiteral("gone"));
    QDir::setCurrent(QStringLiteral("gone"));
    QDir(QString::fromStdString(tree.str())).rmdir(QStringLiteral("gone"));
    const bool takenWhileGone = dropOnTheList(window, {"Loose/10.emlx"}, "file:");
    QDir::setCurrent(working);
    QVERIFY(!takenWhileGone);
  }

  void dropsAreRefusedWhileConverting() {
    TempFolder tree;
    // The first message large enough that the run is still at work at its first repaint.
    std::string large = "Subject: one\n\n";
    while (large.size() < (4 << 20)) large += "From the body, quoted in its record\n";
    const Strings paths = {tree.write("In/1.emlx", large),
                           tree.write("In/2.emlx", "Subject: two\r\n\r\nx\r\n")};
    const std::string more = tree.write("More/3.emlx", "x");
    WindowFixture window;
    for (const auto& path : paths) window.form->AddFileToList(path);
    window.form->CmdConvert2PDF->setEnabled(true);
    window.platform.queueFolder(tree.str() + "/Out");
    int refused = 0;
    window.platform.onYield([&] {
      if (!window.form->conversionRunning()) return false;
      if (!dropOnTheList(window, {more})) ++refused;
      return true;
    });
    WindowFixture::click(window.form->CmdConvert2PDF);
    QApplication::processEvents();
    QCOMPARE(refused, 1);
    QCOMPARE(window.listEntries(), paths);
    QCOMPARE(window.platform.boxes.size(), std::size_t(1));
    QVERIFY(window.platform.boxes[0].text.starts_with("Export Completed Successfully !"));
    // After the run the same drop is taken.
    QVERIFY(dropOnTheList(window, {more}));
    QTRY_COMPARE(window.listEntries().size(), std::size_t(3));
  }

  void onlyHelpAndExitActWhileAnAddFillsTheList_data() {
    QTest::addColumn<QString>("add");
    QTest::addColumn<bool>("exitYes");
    QTest::newRow("Add Folder") << "folder" << false;
    QTest::newRow("Add EMLX File(s)") << "files" << false;
    QTest::newRow("a dropped folder") << "drop" << false;
    QTest::newRow("Exit answered Yes: nothing more listed or said") << "folder" << true;
  }

  void onlyHelpAndExitActWhileAnAddFillsTheList() {
    QFETCH(QString, add);
    QFETCH(bool, exitYes);
    TempFolder tree;
    Strings paths;
    for (int i = 1; i <= 6; ++i)
      paths.push_back(tree.write("In/" + std::to_string(i) + ".emlx", ""));
    WindowFixture window;
    window.form->AddFileToList(tree.write("0.emlx", ""));
    window.form->CmdConvert2PDF->setEnabled(true);
    const QList<QAbstractButton*> held = {window.form->cmdAdd,        window.form->CmdAddFolder,
                                          window.form->cmdClear1,     window.form->CmdConvert2PDF,
                                          window.form->chkAppleNames, window.form->chkKeepState};
    bool heldMidway = false;
    window.platform.onYield([&] {
      if (window.form->grdFiles1->Rows() < 3) return false;
      heldMidway = std::none_of(held.begin(), held.end(), [](auto* c) { return c->isEnabled(); }) &&
                   window.form->CmdHelp->isEnabled() && window.form->cmdEnd->isEnabled() &&
                   !dropOnTheList(window, {tree.str() + "/0.emlx"});
      for (QAbstractButton* control : held) QTest::mouseClick(control, Qt::LeftButton);
      if (exitYes) WindowFixture::click(window.form->cmdEnd);
      return true;
    });
    if (add == "folder") window.platform.queueFolder(tree.str() + "/In");
    if (add == "files") window.platform.queuePickedFiles(paths);
    if (add == "drop") QVERIFY(dropOnTheList(window, {tree.str() + "/In"}));
    if (add != "drop")
      WindowFixture::click(add == "files" ? window.form->cmdAdd : window.form->CmdAddFolder);
    QTRY_VERIFY(heldMidway);
    // No destination asked for, no question but Exit's; only the count box of an add.
    QCOMPARE(window.platform.folderTitles.size(), std::size_t(add == "folder"));
    QCOMPARE(window.platform.boxes.size(), std::size_t(add != "files"));
    if (exitYes) {
      QCOMPARE(window.platform.endRequests, 1);
      QVERIFY(window.listEntries().size() < 7);
      return;
    }
    QCOMPARE(window.listEntries().size(), std::size_t(add == "files" ? 6 : 7));
    for (QAbstractButton* control : held) QVERIFY(control->isEnabled());
  }
};

QTEST_MAIN(SelectedFilesTest)
#include "selected_files_qtest.moc"
