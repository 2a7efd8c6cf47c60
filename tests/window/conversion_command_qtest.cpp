// The Convert command on the real window: destination, displays, mailboxes, completion box, and
// other commands clicked while it runs.
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QDir>
#include <QLabel>
#include <QProcess>
#include <QTimer>
#include <algorithm>
#include <csignal>
#include <cstdio>

#include "run/destination_check.h"
#include "support/temp_folder.h"
#include "window/completion_message.h"
#include "window/conversion_command.h"
#include "window/ending_signals.h"
#include "window_fixture.h"

using namespace drovanta;
using drovanta::testing::readMailbox;
using drovanta::testing::TempFolder;
using drovanta::testing::WindowFixture;
using Strings = std::vector<std::string>;
namespace fs = std::filesystem;

namespace {

const fs::path kCorpus = fs::path(DROVANTA_CORPUS_DIR) / "terhechte-emlx/tests/emails";

// Copies the three real messages 1.emlx, 2.emlx and 3.emlx into <tree>/Mail/Inbox.
Strings copyThreeMessages(const TempFolder& tree) {
  Strings paths;
  for (const char* name : {"1.emlx", "2.emlx", "3.emlx"}) {
    paths.push_back(
        tree.write(std::string("Mail/Inbox/") + name, drovanta::testing::readFile(kCorpus / name)));
  }
  return paths;
}

// Copies of the real message 1.emlx as <tree>/Mail/Inbox/<first>.emlx to <last>.emlx, added to
// `paths`: enough messages that a run is still going when a question comes.
void addCopiesOfOneMessage(const TempFolder& tree, int first, int last, Strings& paths) {
  const std::string message = drovanta::testing::readFile(kCorpus / "1.emlx");
  for (int i = first; i <= last; ++i) {
    paths.push_back(tree.write("Mail/Inbox/" + std::to_string(i) + ".emlx", message));
  }
}

// The mailbox a run into `destination` writes for messages of <tree>/Mail/Inbox.
fs::path inboxMailbox(const TempFolder& tree, const std::string& destination) {
  return fs::path(destination) / fs::path(tree.str()).relative_path() / "Mail/Inbox/Inbox.mbox";
}

// True when `written` is what a whole run writes (`whole`) up to a record's end.
bool wholeRecordsOf(const std::string& written, const std::string& whole) {
  return whole.starts_with(written) &&
         (written.size() == whole.size() || whole.compare(written.size(), 5, "From ") == 0);
}

// The mailbox bytes a plain run of the rows writes, the read and flagged state kept as the
// window keeps it by default.
std::string referenceMailbox(const TempFolder& tree, const Strings& rows) {
  VectorRowSource source(rows);
  ConversionObserver quiet;
  RunOptions options;
  options.record.writeFlags = true;
  RunConversion(source, tree.str() + "/Reference", quiet, options);
  return drovanta::testing::readFile(inboxMailbox(tree, tree.str() + "/Reference"));
}

// A message of `size` bytes of lines "From here", each of which its record quotes, so that it
// is streamed through the record writer's buffer rather than copied by the kernel.
std::string quotedMessage(std::size_t size) {
  std::string text = "From: a@example.com\nSubject: large\n\n";
  text.reserve(size + 16);
  while (text.size() < size) text += "From here\n";
  return text;
}

// A message of exactly `size` bytes whose every line ends with lineEnd.
std::string messageOfSize(std::size_t size, const std::string& lineEnd) {
  std::string text = "From: a@example.com" + lineEnd + "Subject: sized" + lineEnd + lineEnd;
  while (text.size() + 2 * (10 + lineEnd.size()) <= size) text += std::string(10, 'b') + lineEnd;
  text += std::string(size - text.size() - lineEnd.size(), 'd') + lineEnd;
  return text;
}

}  // namespace

class ConversionCommandTest : public QObject {
  Q_OBJECT

 private:
  void fillList(WindowFixture& window, const Strings& paths) {
    for (const auto& path : paths) window.form->AddFileToList(path);
    window.form->CmdConvert2PDF->setEnabled(true);
  }

  // The window active (keys reach it), its list filled and the destination folder to be chosen
  // queued: what a run that is stopped by keys starts from.
  bool activeWithList(WindowFixture& window, const Strings& paths, const std::string& out) {
    QApplication::setActiveWindow(window.form.get());
    if (!QTest::qWaitForWindowActive(window.form.get())) return false;
    fillList(window, paths);
    window.platform.queueFolder(out);
    return true;
  }

 private slots:
  void initTestCase() {
    QVERIFY2(fs::exists(kCorpus / "3.emlx"), "the real message corpus is not present");
  }

  void cancelledDestinationTouchesNothing() {
    TempFolder tree;
    const Strings paths = copyThreeMessages(tree);
    WindowFixture window;
    fillList(window, paths);
    WindowFixture::click(window.form->CmdConvert2PDF);
    QCOMPARE(window.platform.folderTitles, Strings{"Choose Folder to Save..."});
    QVERIFY(window.platform.boxes.empty());
    QCOMPARE(window.form->LblProgessCurrent->text(), QStringLiteral("Message 0 (of 0)"));
    QCOMPARE(window.form->LblByteRead->text(), QStringLiteral("<  Not Available >"));
    QCOMPARE(std::distance(fs::directory_iterator(tree.path()), fs::directory_iterator()), 1);
  }

  void threeMessagesWithTheirDisplays() {
    TempFolder tree;
    const Strings paths = copyThreeMessages(tree);
    WindowFixture window;
    fillList(window, paths);
    const std::string destination = tree.str() + "/Out";
    window.platform.queueFolder(destination);

    // The displays only ever move forward, whenever the window repaints.
    std::vector<double> overall;
    window.platform.onYield([&] {
      const double value = window.form->ProgressBar1->Value();
      if (overall.empty() || overall.back() != value) overall.push_back(value);
      return window.platform.boxes.size() > 0;
    });
    WindowFixture::click(window.form->CmdConvert2PDF);

    QVERIFY(std::is_sorted(overall.begin(), overall.end()));
    QCOMPARE(window.form->ProgressBar1->Value(), 100.0);
    QCOMPARE(window.form->LblProgessCurrent->text(), QStringLiteral("Message 3 (of 3)"));
    QCOMPARE(window.form->grdFiles1->Row(), 2L);
    // The last message's values stay: its whole text against its file length.
    QVERIFY(window.form->LblByteRead->text().endsWith(" Total Bytes."));
    QCOMPARE(window.form->EmlProgress->Value(), 100.0);

    QCOMPARE(window.platform.boxes.size(), std::size_t(1));
    const MessageBoxRequest& box = window.platform.boxes[0];
    QCOMPARE(box.caption, std::string("EMLX to MBOX Converter"));
    QCOMPARE(box.text, std::string("Export Completed Successfully !\r\nYour data has been "
                                   "successfully exported to .mbox format (Compatible for "
                                   "Entourage, Thunderbird, Eudora, Mac Mail).\r\n\r\n"
                                   "Mailboxes: Inbox\r\n"
                                   "Checked: 3 records in 1 mailbox, in place and on disk."));
    QVERIFY(box.icon == MessageIcon::Information && box.buttons == MessageButtons::Ok);

    // One mailbox for the source folder, holding the three records in list order.
    const fs::path mailbox =
        fs::path(destination) / fs::path(tree.str()).relative_path() / "Mail/Inbox/Inbox.mbox";
    const Strings records = readMailbox(mailbox);
    QCOMPARE(records.size(), std::size_t(3));
    // The list and its counter are not touched by a run.
    QCOMPARE(window.listEntries(), paths);
  }

  void theByteDisplayCountsTheMessagesOwnBytes_data() {
    QTest::addColumn<QByteArray>("message");
    QTest::addColumn<QString>("shown");
    QTest::newRow("CR LF lines") << QByteArray::fromStdString(messageOfSize(1000, "\r\n"))
                                 << "1000 Bytes out of 1000 Total Bytes.";
    QTest::newRow("LF lines, kept") << QByteArray::fromStdString(messageOfSize(6434, "\n"))
                                    << "6434 Bytes out of 6434 Total Bytes.";
    // The record adds a line end, or a quoting mark: the display never passes the total.
    QTest::newRow("no last line end") << QByteArray("From: a@example.com\nSubject: s\n\nshort")
                                      << "37 Bytes out of 37 Total Bytes.";
    QTest::newRow("a quoted From line")
        << QByteArray("From: a@example.com\nSubject: s\n\nFrom the start\n")
        << "47 Bytes out of 47 Total Bytes.";
  }

  void theByteDisplayCountsTheMessagesOwnBytes() {
    QFETCH(QByteArray, message);
    QFETCH(QString, shown);
    TempFolder tree;
    WindowFixture window;
    fillList(window, {tree.write("In/1.emlx", message.toStdString())});
    window.platform.queueFolder(tree.str() + "/Out");
    double highest = 0;
    window.platform.onYield([&] {
      highest = std::max(highest, window.form->EmlProgress->Value());
      return !window.platform.boxes.empty();
    });
    WindowFixture::click(window.form->CmdConvert2PDF);
    QCOMPARE(window.form->LblByteRead->text(), shown);
    QCOMPARE(window.form->EmlProgress->Value(), 100.0);
    QVERIFY(highest <= 100.0);
    QCOMPARE(window.form->LblProgessCurrent->text(), QStringLiteral("Message 1 (of 1)"));
  }

  void anEmptyListIsSaidBeforeTheDestinationIsAsked() {
    TempFolder tree;
    const Strings paths = copyThreeMessages(tree);
    WindowFixture window;
    fillList(window, paths);
    window.platform.queueFolder(tree.str() + "/Out");
    WindowFixture::click(window.form->CmdConvert2PDF);
    QVERIFY(window.platform.boxes[0].text.starts_with("Export Completed Successfully !"));

    // The list cleared (Convert stays enabled), then Convert once more into another folder.
    window.platform.queueAnswer(MessageAnswer::Yes);
    WindowFixture::click(window.form->cmdClear1);
    QVERIFY(window.form->CmdConvert2PDF->isEnabled());
    WindowFixture::click(window.form->CmdConvert2PDF);
    QCOMPARE(window.platform.folderTitles.size(), std::size_t(1));
    QCOMPARE(window.platform.boxes.size(), std::size_t(3));
    const MessageBoxRequest& box = window.platform.boxes[2];
    QCOMPARE(box.text, std::string("There are no files in the list to convert."));
    QCOMPARE(box.caption, std::string("Drovanta EMLX to MBOX Converter"));
    QVERIFY(box.icon == MessageIcon::Information && box.buttons == MessageButtons::Ok);
    QVERIFY(!fs::exists(tree.path() / "Again"));
  }

  void escapeStopsTheRunAfterTheRecordsBeingWritten() {
    TempFolder tree;
    Strings paths = {tree.write("Mail/Inbox/1.emlx", quotedMessage(8 << 20))};
    addCopiesOfOneMessage(tree, 2, 1000, paths);  // enough that a No leaves some for a 2nd Escape
    WindowFixture window;
    QVERIFY(activeWithList(window, paths, tree.str() + "/Out"));
    window.platform.queueAnswer(MessageAnswer::No);
    window.platform.queueAnswer(MessageAnswer::Yes);
    // Escape twice while the run works, answered No, then Yes. Under each question the
    // displays show the moment the question tells.
    Strings shownUnderQuestion;
    auto escape = [&] {
      if (!window.form->conversionRunning()) return false;
      QTest::keyClick(window.form->windowHandle(), Qt::Key_Escape);
      shownUnderQuestion.push_back(window.form->LblProgessCurrent->text().toStdString());
      return true;
    };
    window.platform.onYield(escape);
    window.platform.onYield(escape);
    WindowFixture::click(window.form->CmdConvert2PDF);

    QCOMPARE(window.platform.boxes.size(), std::size_t(3));
    for (std::size_t i : {0, 1}) {
      const MessageBoxRequest& question = window.platform.boxes[i];
      const std::string count =
          shownUnderQuestion[i].substr(8, shownUnderQuestion[i].find(' ', 8) - 8);
      QCOMPARE(question.text, "Stop converting? " + count + " of 1000 messages are converted.");
      QCOMPARE(shownUnderQuestion[i], "Message " + count + " (of 1000)");
      QVERIFY(question.icon == MessageIcon::Question && question.buttons == MessageButtons::YesNo);
      QVERIFY(question.defaultAnswer == MessageAnswer::No);
    }
    // The records written by then are whole, those of the first rows; the box counts them.
    const std::string written =
        drovanta::testing::readFile(inboxMailbox(tree, tree.str() + "/Out"));
    QVERIFY(wholeRecordsOf(written, referenceMailbox(tree, paths)));
    const long converted =
        static_cast<long>(readMailbox(inboxMailbox(tree, tree.str() + "/Out")).size());
    const std::string readBack =
        converted == 0 ? std::string()
                       : "\r\n\r\nMailboxes: Inbox\r\nChecked: " + std::to_string(converted) +
                             (converted == 1 ? " record" : " records") +
                             " in 1 mailbox, in place and on disk.";
    QCOMPARE(window.platform.boxes[2].text,
             "Converting was stopped.\r\n" + std::to_string(converted) +
                 " message(s) converted, 0 message(s) failed, " + std::to_string(1000 - converted) +
                 " message(s) not converted." + readBack);
    // Escape after the run asks nothing.
    QTest::keyClick(window.form->windowHandle(), Qt::Key_Escape);
    QCOMPARE(window.platform.boxes.size(), std::size_t(3));
    QVERIFY(!window.form->conversionRunning());
  }

  // Under "Stop converting?" the run takes no new message: the mailbox stays as the question
  // counts it, and Yes leaves it so. A Yes after the last message says the stop came too late.
  void theRunIsHeldUnderTheStopQuestion() {
    TempFolder tree;
    Strings paths;
    addCopiesOfOneMessage(tree, 1, 2000, paths);
    WindowFixture window;
    QVERIFY(activeWithList(window, paths, tree.str() + "/Out"));
    window.platform.queueAnswer(MessageAnswer::Yes);
    const fs::path mailbox = inboxMailbox(tree, tree.str() + "/Out");
    std::string asked;
    std::size_t onDisk = 0;
    window.platform.whileBoxOpen = [&](const MessageBoxRequest& box) {
      if (!asked.empty()) return;
      asked = box.text;
      onDisk = readMailbox(mailbox).size();
      QTest::qSleep(300);
      if (readMailbox(mailbox).size() != onDisk) onDisk = ~std::size_t{0};
    };
    window.platform.onYield([&] {
      if (!window.form->conversionRunning() || !fs::exists(mailbox)) return false;
      QTest::keyClick(window.form->windowHandle(), Qt::Key_Escape);
      return true;
    });
    WindowFixture::click(window.form->CmdConvert2PDF);

    const std::string count = std::to_string(onDisk);
    QCOMPARE(asked, "Stop converting? " + count + " of 2000 messages are converted.");
    QVERIFY2(window.platform.boxes.back().text.starts_with("Converting was stopped.\r\n" + count +
                                                           " message(s) converted, 0 message(s) "
                                                           "failed, " +
                                                           std::to_string(2000 - onDisk) +
                                                           " message(s) not converted."),
             window.platform.boxes.back().text.c_str());
    QCOMPARE(readMailbox(mailbox).size(), onDisk);

    RunSummary ended;
    ended.converted = 3;
    QVERIFY(CompletionMessageFor(ended, {{}, {}, true})
                .text.starts_with("The stop came after the last message; none was left out.\r\n"
                                  "Export Completed Successfully !"));
  }

  void aMailboxAnotherProgramHoldsIsWaitedForWithTheWindowAnswering() {
    TempFolder tree;
    const Strings paths = copyThreeMessages(tree);
    const fs::path mailbox = fs::path(tree.str() + "/Out") / fs::path(tree.str()).relative_path() /
                             "Mail/Inbox/Inbox.mbox";
    fs::create_directories(mailbox.parent_path());
    tree.write(fs::relative(mailbox, tree.path()).string(), "");
    // Another program holds the mailbox's write lock until it is killed.
    int ready[2];
    QCOMPARE(::pipe(ready), 0);
    const pid_t holder = ::fork();
    if (holder == 0) {
      const int fd = ::open(mailbox.c_str(), O_WRONLY);
      struct flock lock {};
      lock.l_type = F_WRLCK;
      if (fd < 0 || ::fcntl(fd, F_SETLKW, &lock) != 0 || ::write(ready[1], "L", 1) != 1) {
        ::_exit(1);
      }
      ::pause();
      ::_exit(0);
    }
    char byte = 0;
    QCOMPARE(::read(ready[0], &byte, 1), ssize_t(1));

    WindowFixture window;
    QVERIFY(activeWithList(window, paths, tree.str() + "/Out"));
    window.platform.queueAnswer(MessageAnswer::Yes);
    // The wait is told after two seconds while the window goes on handling events: Escape
    // then stops the run, which gives the wait up and writes nothing.
    QString told;
    window.platform.onYield([&] {
      if (!window.form->LblByteRead->text().startsWith(QStringLiteral("Waiting"))) return false;
      told = window.form->LblByteRead->text();
      QTest::keyClick(window.form->windowHandle(), Qt::Key_Escape);
      return true;
    });
    WindowFixture::click(window.form->CmdConvert2PDF);
    ::kill(holder, SIGKILL);
    ::waitpid(holder, nullptr, 0);

    QCOMPARE(told, QStringLiteral("Waiting for another program to finish writing Inbox..."));
    QCOMPARE(window.platform.boxes.back().text,
             std::string("Converting was stopped.\r\n0 message(s) converted, 0 message(s) "
                         "failed, 3 message(s) not converted."));
    QCOMPARE(fs::file_size(mailbox), std::uintmax_t(0));
  }

  void failuresAreNotReportedAsSuccess() {
    TempFolder tree;
    const Strings good = copyThreeMessages(tree);
    WindowFixture window;
    const std::string missing = tree.str() + "/Mail/Inbox/missing.emlx";
    fillList(window, {good[0], missing, good[1]});
    window.platform.queueFolder(tree.str() + "/Out");
    WindowFixture::click(window.form->CmdConvert2PDF);

    QCOMPARE(window.platform.boxes.size(), std::size_t(1));
    const MessageBoxRequest& box = window.platform.boxes[0];
    QVERIFY(box.icon == MessageIcon::Exclamation);
    QCOMPARE(box.caption, std::string("EMLX to MBOX Converter"));
    QVERIFY2(box.text.find("2 message(s) converted, 1 message(s) failed") != std::string::npos,
             box.text.c_str());
    QVERIFY2(box.text.find(missing + ": ") != std::string::npos, box.text.c_str());
    QVERIFY(box.text.find("Successfully") == std::string::npos);
    // The run went on past the failure to the end of the list.
    QCOMPARE(window.form->LblProgessCurrent->text(), QStringLiteral("Message 3 (of 3)"));
    const fs::path mailbox = fs::path(tree.str() + "/Out") / fs::path(tree.str()).relative_path() /
                             "Mail/Inbox/Inbox.mbox";
    QCOMPARE(readMailbox(mailbox).size(), std::size_t(2));
  }

  // Every message arrived, so no failure; but not a plain success either: the box counts the
  // warnings and skipped files, names the first few and lists them all in its details.
  void warningsAndSkippedFilesAreCountedAndListed() {
    TempFolder tree;
    const fs::path stub =
        fs::path(DROVANTA_CORPUS_DIR) /
        "partial-emlx-converter/test/__testdata/input/Messages/114893.partial.emlx";
    const Strings paths = {
        copyThreeMessages(tree)[0],
        tree.write("Mail/Inbox/114893.partial.emlx", drovanta::testing::readFile(stub)),
        tree.write("Mail/Inbox/._1.emlx",
                   std::string("\x00\x05\x16\x07\x00\x02\x00\x00Mac OS X        ", 24) +
                       std::string(64, '\0'))};
    WindowFixture window;
    fillList(window, paths);
    window.platform.queueFolder(tree.str() + "/Out");
    WindowFixture::click(window.form->CmdConvert2PDF);

    const MessageBoxRequest& box = window.platform.boxes.at(0);
    QVERIFY(box.icon == MessageIcon::Information && box.caption == "EMLX to MBOX Converter");
    QVERIFY2(box.text.starts_with("Export Completed with Warnings !\r\n"), box.text.c_str());
    std::string listed;
    for (const char* part : {"2.2", "2.4", "2.6", "2.8"}) {
      listed += "warning: " + paths[1] + ": attachment of part " + part + " not found\r\n";
    }
    listed += "skipped: " + paths[2] + ": not a message: AppleDouble metadata file";
    QVERIFY2(box.text.find("2 message(s) converted, 1 message(s) with warnings, 1 file(s) "
                           "skipped:\r\n" +
                           listed + "\r\n") != std::string::npos,
             box.text.c_str());
    QCOMPARE(box.details, listed);
  }

  // The closing box says how many messages kept CR LF line ends, whatever else it says.
  void closingBoxCountsMessagesThatKeptCrLf() {
    RunSummary summary;
    summary.converted = 5;
    for (const long failed : {0L, 1L}) {
      summary.failed = failed;
      summary.crLfMessages = 0;
      QVERIFY(CompletionMessageFor(summary).text.find("CR LF") == std::string::npos);
      summary.crLfMessages = 2;
      const std::string text = CompletionMessageFor(summary).text;
      QVERIFY2(text.ends_with("\r\n2 message(s) kept CR LF line ends, which GNU mailutils cannot "
                              "read (emlx2mbox --eol lf writes them with LF)."),
               text.c_str());
    }
  }

  void failureBoxNamesOnlyTheFirstFew() {
    RunSummary summary;
    summary.converted = 1;
    summary.failed = 7;
    for (int i = 0; i < 7; ++i) {
      summary.failures.push_back({FailureCode::MessageMissing, "/m/" + std::to_string(i) + ".emlx",
                                  "No such file or directory"});
    }
    const CompletionMessage message = CompletionMessageFor(summary);
    QVERIFY(message.failures);
    QVERIFY(message.text.find("/m/4.emlx: No such file or directory") != std::string::npos);
    QVERIFY(message.text.find("/m/5.emlx") == std::string::npos);
    QVERIFY(message.text.find("... and 2 more.") != std::string::npos);
    // Every failure is in the box's details, one a line.
    QCOMPARE(std::count(message.details.begin(), message.details.end(), '\n'), 6);
    QVERIFY(message.details.find("/m/6.emlx: No such file or directory") != std::string::npos);

    // A stopped run counts what it did not come to, and lists its failures too.
    summary.stopped = true;
    summary.notReached = 4;
    const CompletionMessage stopped = CompletionMessageFor(summary);
    QVERIFY(stopped.failures);
    QVERIFY2(stopped.text.starts_with("Converting was stopped.\r\n1 message(s) converted, 7 "
                                      "message(s) failed, 4 message(s) not converted:\r\n/m/0"),
             stopped.text.c_str());

    // A name cannot add lines of its own to the box or carry control characters into it.
    summary.failures[0].path = "/m/In\r\nbox\x1b/0.emlx";
    const std::string text = CompletionMessageFor(summary).text;
    QVERIFY2(text.find("/m/In\\r\\nbox\\x1b/0.emlx: No such") != std::string::npos, text.c_str());
    QVERIFY(text.find('\x1b') == std::string::npos);
  }

  void everyWayOutDuringARecordLeavesWholeRecords_data() {
    QTest::addColumn<bool>("closeButton");
    QTest::addColumn<bool>("yes");
    QTest::newRow("Exit, answered No") << false << false;
    QTest::newRow("Exit, answered Yes") << false << true;
    QTest::newRow("the close button, answered No") << true << false;
    QTest::newRow("the close button, answered Yes") << true << true;
  }

  void everyWayOutDuringARecordLeavesWholeRecords() {
    QFETCH(bool, closeButton);
    QFETCH(bool, yes);
    TempFolder tree;
    Strings paths = {tree.write("Mail/Inbox/big.emlx", quotedMessage(16 << 20))};
    for (const std::string& path : copyThreeMessages(tree)) paths.push_back(path);
    WindowFixture window;
    fillList(window, paths);
    window.platform.queueFolder(tree.str() + "/Out");
    window.platform.queueAnswer(yes ? MessageAnswer::Yes : MessageAnswer::No);
    window.platform.onYield([&] {
      if (!window.form->conversionRunning()) return false;
      if (closeButton) {
        window.form->close();
      } else {
        WindowFixture::click(window.form->cmdEnd);
      }
      return true;
    });
    WindowFixture::click(window.form->CmdConvert2PDF);

    // The question is asked either way; a No lets the run go on to its end.
    QCOMPARE(window.platform.boxes[0].text, std::string("Are you sure you want to exit now?"));
    QCOMPARE(window.platform.endRequests, yes ? 1 : 0);
    QCOMPARE(window.platform.boxes.size(), std::size_t(yes ? 1 : 2));
    const std::string written =
        drovanta::testing::readFile(inboxMailbox(tree, tree.str() + "/Out"));
    const std::string whole = referenceMailbox(tree, paths);
    QVERIFY(wholeRecordsOf(written, whole));
    if (!yes) QCOMPARE(written.size(), whole.size());
    // Clicks after the end run nothing.
    WindowFixture::click(window.form->cmdClear1);
    QCOMPARE(window.platform.boxes.size(), std::size_t(yes ? 1 : 3));
  }

  // The count of what the destination holds starts the run to the user: Escape cancels it and
  // closing the window asks as during a run; nothing is written either way.
  void theCountBeforeARerunIsCancelledOrAskedAbout_data() {
    QTest::addColumn<bool>("escape");
    QTest::addColumn<bool>("yes");
    QTest::addColumn<QString>("boxes");
    const QString exit = QStringLiteral("Are you sure you want to exit now?|");
    QTest::newRow("Escape") << true << false << QString();
    QTest::newRow("close, Yes") << false << true << exit;
    QTest::newRow("close, No") << false << false
                               << exit +
                                      "The destination already holds 3 of these messages. "
                                      "Add only the new ones?|";
  }

  void theCountBeforeARerunIsCancelledOrAskedAbout() {
    QFETCH(bool, escape);
    QFETCH(bool, yes);
    QFETCH(QString, boxes);
    TempFolder tree;
    Strings paths = copyThreeMessages(tree);
    const std::string before = referenceMailbox(tree, paths);
    // Rows enough that the count still goes on when the window first yields.
    for (int i = 0; i < 20000; ++i) paths.push_back(paths[0] + std::to_string(i));
    WindowFixture window;
    window.form->setYieldInterval(std::chrono::hours(1));  // no yield for each row listed
    fillList(window, paths);
    window.form->setYieldInterval({});
    window.platform.queueFolder(tree.str() + "/Reference");
    window.platform.queueAnswer(yes ? MessageAnswer::Yes : MessageAnswer::No);
    window.platform.queueAnswer(MessageAnswer::Cancel);  // the rerun question, if it comes
    window.platform.onYield([&] {
      const auto& pointers = window.platform.pointers;
      if (pointers.empty() || pointers.back() != MousePointer::Hourglass) return false;
      escape ? QTest::keyClick(window.form->windowHandle(), Qt::Key_Escape)
             : void(window.form->close());
      return true;
    });
    WindowFixture::click(window.form->CmdConvert2PDF);

    QString shown;
    for (const auto& box : window.platform.boxes) shown += QString::fromStdString(box.text) + '|';
    QCOMPARE(shown, boxes);
    QCOMPARE(window.platform.endRequests, yes ? 1 : 0);
    QCOMPARE(drovanta::testing::readFile(inboxMailbox(tree, tree.str() + "/Reference")), before);
  }

  // A destination that cannot be written is refused with the reason, and asked for again,
  // before anything is read or written; even root cannot write into /sys.
  void anUnwritableDestinationIsRefusedBeforeTheRun() {
    TempFolder tree;
    const Strings paths = copyThreeMessages(tree);
    const std::string locked = ::geteuid() == 0 ? std::string("/sys") : tree.str() + "/Locked";
    if (::geteuid() != 0) {
      fs::create_directories(locked);
      fs::permissions(locked, fs::perms::owner_read | fs::perms::owner_exec);
    }
    if (!TryWritingInto(locked)) QSKIP("this folder can be written here");
    WindowFixture window;
    fillList(window, paths);
    window.platform.queueFolder(locked);
    WindowFixture::click(window.form->CmdConvert2PDF);
    QCOMPARE(window.platform.folderTitles.size(), std::size_t(2));  // asked again, then cancelled
    QCOMPARE(window.platform.boxes.size(), std::size_t(1));
    QCOMPARE(window.platform.boxes[0].text,
             "The mailboxes cannot be saved in " + locked +
                 ":\r\ncannot write into the destination folder: Permission denied. Please "
                 "choose another folder.");
  }

  void onlyEscapeHelpAndExitActDuringARun() {
    TempFolder tree;
    Strings paths = {tree.write("Mail/Inbox/big.emlx", quotedMessage(4 << 20))};
    for (const std::string& path : copyThreeMessages(tree)) paths.push_back(path);
    WindowFixture window;
    fillList(window, paths);
    window.platform.queueFolder(tree.str() + "/Out");
    QList<QPushButton*> held = {window.form->cmdAdd, window.form->CmdAddFolder,
                                window.form->cmdClear1, window.form->CmdConvert2PDF};
    bool heldDuringRun = false;
    window.platform.onYield([&] {
      if (!window.form->conversionRunning()) return false;
      heldDuringRun =
          std::none_of(held.begin(), held.end(), [](QPushButton* b) { return b->isEnabled(); }) &&
          window.form->CmdHelp->isEnabled() && window.form->cmdEnd->isEnabled();
      for (QPushButton* button : held) WindowFixture::click(button);
      WindowFixture::click(window.form->CmdHelp);
      return true;
    });
    WindowFixture::click(window.form->CmdConvert2PDF);
    QVERIFY(heldDuringRun);
    // Help opened its page; no other command ran: no dialog, no question, the list unchanged.
    QCOMPARE(window.platform.opened.size(), std::size_t(1));
    QCOMPARE(window.platform.folderTitles.size(), std::size_t(1));
    QVERIFY(window.platform.openRequests.empty());
    QCOMPARE(window.platform.boxes.size(), std::size_t(1));
    QCOMPARE(window.listEntries(), paths);
    QCOMPARE(readMailbox(inboxMailbox(tree, tree.str() + "/Out")).size(), std::size_t(4));
    for (QPushButton* button : held) QVERIFY(button->isEnabled());
  }

  void theDestinationIsRememberedAndKeptOutOfTheTree() {
    TempFolder tree;
    copyThreeMessages(tree);
    const std::string root = tree.str() + "/Mail";
    WindowFixture window;
    window.platform.queueFolder(root);
    WindowFixture::click(window.form->CmdAddFolder);
    // The tree added, a folder below it, a message's own folder, and "/", under which the
    // mirror of the tree is the tree itself: refused, and asked again.
    for (const std::string& inside :
         {root, root + "/Inbox/", tree.str() + "/Mail/Inbox/.", std::string("/")}) {
      window.platform.queueFolder(inside);
    }
    window.platform.queueFolder(tree.str() + "/Out");
    WindowFixture::click(window.form->CmdConvert2PDF);
    QCOMPARE(window.platform.folderStarts[1], QDir::homePath().toStdString());
    QCOMPARE(window.platform.boxes.size(), std::size_t(6));
    for (std::size_t i : {1, 2, 3, 4}) {
      QVERIFY(window.platform.boxes[i].text.starts_with("The mailboxes cannot be saved in "));
      QVERIFY(window.platform.boxes[i].text.find(root + "/, which is being converted") !=
              std::string::npos);
    }
    QVERIFY(window.platform.boxes[5].text.starts_with("Export Completed"));

    // The next start opens where the mailboxes went last time.
    WindowFixture next;
    next.platform.settings = window.platform.settings;
    next.form->AddFileToList(tree.str() + "/Mail/Inbox/1.emlx");
    next.form->CmdConvert2PDF_Click();
    QCOMPARE(next.platform.folderStarts, Strings{tree.str() + "/Out"});
  }

  // Signals while a large record is written: the window program completes the record (a
  // second signal cuts it back out) and then ends as the first signal ends it. A signal ignored
  // when the program started changes nothing.
  void aSignalDuringARecordLeavesWholeRecords_data() {
    QTest::addColumn<std::vector<int>>("sent");
    QTest::addColumn<bool>("ignoredAtStart");
    QTest::newRow("SIGTERM") << std::vector<int>{SIGTERM} << false;
    QTest::newRow("SIGTERM, then SIGINT") << std::vector<int>{SIGTERM, SIGINT} << false;
    QTest::newRow("SIGHUP ignored at the start") << std::vector<int>{SIGHUP} << true;
  }

  void aSignalDuringARecordLeavesWholeRecords() {
    QFETCH(std::vector<int>, sent);
    QFETCH(bool, ignoredAtStart);
    TempFolder tree;
    // The child adds the folder: the large message comes first in the natural order.
    Strings paths = {tree.write("Mail/Inbox/0.emlx", quotedMessage(48 << 20))};
    for (const std::string& path : copyThreeMessages(tree)) paths.push_back(path);
    const fs::path mailbox = inboxMailbox(tree, tree.str() + "/Out");
    QProcess child;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("DROVANTA_CONVERT_IN_CHILD", QString::fromStdString(tree.str()));
    child.setProcessEnvironment(environment);
    // As nohup starts a program: the shell ignores the signal, then becomes the program.
    child.start("/bin/sh", {"-c", ignoredAtStart ? "trap '' HUP; exec \"$0\"" : "exec \"$0\"",
                            QCoreApplication::applicationFilePath()});
    QVERIFY(child.waitForStarted());
    // Once the first record has begun.
    auto begun = [&mailbox] {
      std::error_code error;
      const auto size = fs::file_size(mailbox, error);
      return !error && size > 0;
    };
    while (child.state() == QProcess::Running && !begun()) child.waitForFinished(1);
    QVERIFY(begun());
    for (const int signal : sent) ::kill(static_cast<pid_t>(child.processId()), signal);
    QVERIFY(child.waitForFinished(60000));
    const std::string written = drovanta::testing::readFile(mailbox);
    const std::string whole = referenceMailbox(tree, paths);
    QVERIFY(wholeRecordsOf(written, whole));
    if (ignoredAtStart) {
      QCOMPARE(child.exitStatus(), QProcess::NormalExit);
      QCOMPARE(written.size(), whole.size());
    } else {
      // Signals pending together are delivered in an order of the kernel's choosing; the
      // first one delivered ends the process.
      QCOMPARE(child.exitStatus(), QProcess::CrashExit);
      QVERIFY2(std::find(sent.begin(), sent.end(), child.exitCode()) != sent.end(),
               qPrintable(QString("ended by signal %1").arg(child.exitCode())));
    }
  }

  // A signal that comes before Qt has started (the handlers are installed first) ends the
  // program through its own ending, not outright.
  void aSignalBeforeTheWindowExistsEndsTheProgramItsOwnWay() {
    QProcess child;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("DROVANTA_SIGNAL_FIRST_IN_CHILD", "1");
    child.setProcessEnvironment(environment);
    child.start(QCoreApplication::applicationFilePath(), {});
    QVERIFY(child.waitForFinished(60000));
    QCOMPARE(child.exitStatus(), QProcess::CrashExit);
    QCOMPARE(child.exitCode(), SIGTERM);
    QCOMPARE(child.readAllStandardOutput(), QByteArray("ended by 15\n"));
  }
};

// The child of the early signal test: SIGTERM comes at once, as the program's own main starts.
int signalledFirstInChild(int argc, char** argv) {
  EndingSignals::installFirst();
  ::raise(SIGTERM);
  QApplication app(argc, argv);
  EndingSignals endingSignals([](int signal) {
    std::printf("ended by %d\n", signal);
    std::fflush(stdout);
    EndingSignals::endAsSignalled(signal);
  });
  QTimer::singleShot(30000, &app, &QCoreApplication::quit);
  return app.exec();
}

// The child of the signal test: the window converts <tree>/Mail/Inbox into <tree>/Out with the
// program's own signal handling.
int convertInChild(int argc, char** argv, const std::string& tree) {
  QApplication app(argc, argv);
  ScriptedPlatform platform;
  frmStep1 form(platform);
  EndingSignals endingSignals([&form](int signal) {
    form.letConversionEnd();
    EndingSignals::endAsSignalled(signal);
  });
  platform.queueFolder(tree + "/Mail/Inbox");
  form.CmdAddFolder_Click();
  platform.queueFolder(tree + "/Out");
  form.CmdConvert2PDF_Click();
  // As the program's event loop would: a signal that ended the run ends the process.
  QCoreApplication::processEvents();
  return 0;
}

int main(int argc, char** argv) {
  if (std::getenv("DROVANTA_SIGNAL_FIRST_IN_CHILD") != nullptr) {
    return signalledFirstInChild(argc, argv);
  }
  if (const char* tree = std::getenv("DROVANTA_CONVERT_IN_CHILD")) {
    return convertInChild(argc, argv, tree);
  }
  QApplication app(argc, argv);
  ConversionCommandTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "conversion_command_qtest.moc"
