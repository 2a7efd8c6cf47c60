// The Convert command on the real window: destination, displays, mailboxes, completion box, and
// other commands clicked while it runs.
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QLabel>
#include <csignal>

#include "support/temp_folder.h"
#include "window/conversion_command.h"
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

 private slots:
  void initTestCase() {
    if (!fs::exists(kCorpus / "3.emlx")) QSKIP("the real message corpus is not present");
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

    std::vector<double> overall;
    Strings captions;
    std::vector<long> currentRows;
    window.platform.onYield([&] {
      const double value = window.form->ProgressBar1->Value();
      if (overall.empty() || overall.back() != value) overall.push_back(value);
      const std::string caption = window.form->LblProgessCurrent->text().toStdString();
      if (captions.empty() || captions.back() != caption) captions.push_back(caption);
      const long row = window.form->grdFiles1->currentIndex().row();
      if (currentRows.empty() || currentRows.back() != row) currentRows.push_back(row);
      return window.platform.boxes.size() > 0;
    });
    WindowFixture::click(window.form->CmdConvert2PDF);

    QCOMPARE(overall.size(), std::size_t(4));
    QCOMPARE(overall[0], 0.0);
    QCOMPARE(overall[1], 100.0 / 3);
    QCOMPARE(overall[2], 200.0 / 3);
    QCOMPARE(overall[3], 100.0);
    QCOMPARE(captions, (Strings{"Message 0 (of 0)", "Message 1 (of 3)", "Message 2 (of 3)",
                                "Message 3 (of 3)"}));
    QCOMPARE(currentRows, (std::vector<long>{2, 0, 1, 2}));
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
                                   "Entourage, Thunderbird, Eudora, Mac Mail)."));
    QVERIFY(box.icon == MessageIcon::Information && box.buttons == MessageButtons::Ok);

    // One mailbox for the source folder, holding the three records in list order.
    const fs::path mailbox =
        fs::path(destination) / fs::path(tree.str()).relative_path() / "Mail/Inbox/Inbox.mbox";
    const Strings records = readMailbox(mailbox);
    QCOMPARE(records.size(), std::size_t(3));
    // The list and its counter are not touched by a run.
    QCOMPARE(window.listEntries(), paths);
  }

  void displaysOfSizedMessages() {
    TempFolder tree;
    WindowFixture window;
    fillList(window, {tree.write("In/crlf.emlx", messageOfSize(1000, "\r\n"))});
    window.platform.queueFolder(tree.str() + "/Out");
    WindowFixture::click(window.form->CmdConvert2PDF);
    QCOMPARE(window.form->LblByteRead->text(),
             QStringLiteral("1000 Bytes out of 1000 Total Bytes."));
    QCOMPARE(window.form->EmlProgress->Value(), 100.0);
    QCOMPARE(window.form->LblProgessCurrent->text(), QStringLiteral("Message 1 (of 1)"));

    // A message with LF line ends keeps them: it too ends at exactly its own length.
    window.form->ResetFileList();
    fillList(window, {tree.write("In/lf.emlx", messageOfSize(6434, "\n"))});
    window.platform.queueFolder(tree.str() + "/Out");
    WindowFixture::click(window.form->CmdConvert2PDF);
    QCOMPARE(window.form->LblByteRead->text(),
             QStringLiteral("6434 Bytes out of 6434 Total Bytes."));
    QCOMPARE(window.form->EmlProgress->Value(), 100.0);

    // A short file without a final line end grows by the one added: more text than file, and
    // the bar stays at its end instead of leaving its range.
    window.form->ResetFileList();
    fillList(window, {tree.write("In/short.emlx", "From: a@example.com\nSubject: s\n\nshort")});
    window.platform.queueFolder(tree.str() + "/Out");
    double highest = 0;
    window.platform.onYield([&] {
      highest = std::max(highest, window.form->EmlProgress->Value());
      return window.platform.boxes.size() > 2;
    });
    WindowFixture::click(window.form->CmdConvert2PDF);
    const QStringList words = window.form->LblByteRead->text().split(' ');
    QVERIFY2(words[0].toInt() > words[4].toInt(), qPrintable(window.form->LblByteRead->text()));
    QCOMPARE(window.form->EmlProgress->Value(), 100.0);
    QCOMPARE(highest, 100.0);
  }

  void emptyListIsNotReportedAsExported() {
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
    window.platform.queueFolder(tree.str() + "/Again");
    WindowFixture::click(window.form->CmdConvert2PDF);
    QCOMPARE(window.platform.boxes.size(), std::size_t(3));
    const MessageBoxRequest& box = window.platform.boxes[2];
    QCOMPARE(box.text, std::string("There are no files in the list to convert."));
    QCOMPARE(box.caption, std::string("Drovanta EMLX to MBOX Converter"));
    QVERIFY(box.icon == MessageIcon::Information && box.buttons == MessageButtons::Ok);
    QVERIFY(!fs::exists(tree.path() / "Again"));
  }

  void escapeStopsTheRunAfterTheRecordBeingWritten() {
    TempFolder tree;
    Strings paths = copyThreeMessages(tree);
    for (const char* name : {"4.emlx", "5.emlx"}) {
      paths.push_back(tree.write(std::string("Mail/Inbox/") + name,
                                 drovanta::testing::readFile(kCorpus / "1.emlx")));
    }
    WindowFixture window;
    QApplication::setActiveWindow(window.form.get());
    QVERIFY(QTest::qWaitForWindowActive(window.form.get()));
    fillList(window, paths);
    window.platform.queueFolder(tree.str() + "/Out");
    window.platform.queueAnswer(MessageAnswer::No);
    window.platform.queueAnswer(MessageAnswer::Yes);
    // Escape while the second message is read, answered No; again during the third, then Yes.
    auto escapeDuringRow = [&window](long row) {
      return [&window, row] {
        if (window.form->grdFiles1->currentIndex().row() != row) return false;
        QTest::keyClick(window.form->windowHandle(), Qt::Key_Escape);
        return true;
      };
    };
    window.platform.onYield(escapeDuringRow(1));
    window.platform.onYield(escapeDuringRow(2));
    WindowFixture::click(window.form->CmdConvert2PDF);

    QCOMPARE(window.platform.boxes.size(), std::size_t(3));
    for (std::size_t i : {0, 1}) {
      const MessageBoxRequest& question = window.platform.boxes[i];
      QCOMPARE(question.text,
               "Stop converting? " + std::to_string(i + 1) + " of 5 messages are converted.");
      QCOMPARE(question.caption, std::string("Drovanta EMLX to MBOX Converter"));
      QVERIFY(question.icon == MessageIcon::Question);
      QVERIFY(question.buttons == MessageButtons::YesNo);
      QVERIFY(question.defaultAnswer == MessageAnswer::No);
    }
    const MessageBoxRequest& closing = window.platform.boxes[2];
    QCOMPARE(closing.text, std::string("Converting was stopped.\r\n3 message(s) converted, 0 "
                                       "message(s) failed, 2 message(s) not converted."));
    QVERIFY(closing.icon == MessageIcon::Information);
    QCOMPARE(window.form->LblProgessCurrent->text(), QStringLiteral("Message 3 (of 5)"));

    // Three whole records, byte for byte those of a run over the first three rows alone.
    const fs::path inbox = fs::path(tree.str()).relative_path() / "Mail/Inbox/Inbox.mbox";
    const fs::path mailbox = fs::path(tree.str() + "/Out") / inbox;
    QCOMPARE(readMailbox(mailbox).size(), std::size_t(3));
    VectorRowSource firstThree({paths[0], paths[1], paths[2]});
    ConversionObserver quiet;
    QCOMPARE(RunConversion(firstThree, tree.str() + "/Reference", quiet).converted, 3L);
    QVERIFY(drovanta::testing::readFile(mailbox) ==
            drovanta::testing::readFile(fs::path(tree.str() + "/Reference") / inbox));
    // Escape after the run asks nothing.
    QTest::keyClick(window.form->windowHandle(), Qt::Key_Escape);
    QCOMPARE(window.platform.boxes.size(), std::size_t(3));
    QVERIFY(!window.form->conversionRunning());
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
    QApplication::setActiveWindow(window.form.get());
    QVERIFY(QTest::qWaitForWindowActive(window.form.get()));
    fillList(window, paths);
    window.platform.queueFolder(tree.str() + "/Out");
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

    QCOMPARE(told, QStringLiteral("Waiting for another program to finish writing Inbox.mbox..."));
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

  void exitAnsweredNoLetsTheRunFinish() {
    TempFolder tree;
    const Strings paths = copyThreeMessages(tree);
    WindowFixture window;
    fillList(window, paths);
    window.platform.queueFolder(tree.str() + "/Out");
    window.platform.queueAnswer(MessageAnswer::No);
    // Between two lines of the second message the user clicks Exit and answers No.
    window.platform.onYield([&] {
      if (window.form->grdFiles1->currentIndex().row() != 1 ||
          !window.form->LblByteRead->text().contains("Bytes out of"))
        return false;
      WindowFixture::click(window.form->cmdEnd);
      return true;
    });
    WindowFixture::click(window.form->CmdConvert2PDF);
    QCOMPARE(window.platform.boxes.size(), std::size_t(2));
    QCOMPARE(window.platform.boxes[0].text, std::string("Are you sure you want to exit now?"));
    QVERIFY(window.platform.boxes[1].text.starts_with("Export Completed Successfully !"));
    QCOMPARE(window.platform.endRequests, 0);
    QCOMPARE(window.form->LblProgessCurrent->text(), QStringLiteral("Message 3 (of 3)"));
    QCOMPARE(window.listEntries(), paths);
  }

  void exitAnsweredYesEndsTheRunInsideItsYield() {
    TempFolder tree;
    const Strings paths = copyThreeMessages(tree);
    WindowFixture window;
    fillList(window, paths);
    window.platform.queueFolder(tree.str() + "/Out");
    window.platform.queueAnswer(MessageAnswer::Yes);
    long yieldsAtExit = -1;
    window.platform.onYield([&] {
      if (window.form->LblProgessCurrent->text() != QStringLiteral("Message 1 (of 3)") ||
          window.form->grdFiles1->currentIndex().row() != 1)
        return false;
      WindowFixture::click(window.form->cmdEnd);
      yieldsAtExit = window.platform.yields;
      return true;
    });
    WindowFixture::click(window.form->CmdConvert2PDF);

    QCOMPARE(window.platform.endRequests, 1);
    // No command resumed: no completion box, no later turn, not one more yield.
    QCOMPARE(window.platform.boxes.size(), std::size_t(1));
    QCOMPARE(window.platform.yields, yieldsAtExit);
    QCOMPARE(window.form->LblProgessCurrent->text(), QStringLiteral("Message 1 (of 3)"));
    // Clicks after the end run nothing.
    WindowFixture::click(window.form->cmdClear1);
    QCOMPARE(window.platform.boxes.size(), std::size_t(1));
    // The mailbox holds the first record whole and nothing of the second.
    const fs::path mailbox = fs::path(tree.str() + "/Out") / fs::path(tree.str()).relative_path() /
                             "Mail/Inbox/Inbox.mbox";
    const Strings records = readMailbox(mailbox);
    QCOMPARE(records.size(), std::size_t(1));
    const std::string bytes = drovanta::testing::readFile(mailbox);
    // The real messages have LF line ends, and so has their record.
    QVERIFY(bytes.ends_with("\n\n"));
    QCOMPARE(bytes.find("\nFrom ", 1), std::string::npos);
  }

  void aClickDuringARunIsAnsweredInsideIt() {
    TempFolder tree;
    const Strings paths = copyThreeMessages(tree);
    WindowFixture window;
    fillList(window, paths);
    window.platform.queueFolder(tree.str() + "/Out");
    std::size_t boxesWhenHelped = 99;
    window.platform.onYield([&] {
      WindowFixture::click(window.form->CmdHelp);
      boxesWhenHelped = window.platform.boxes.size();
      return true;
    });
    WindowFixture::click(window.form->CmdConvert2PDF);
    QCOMPARE(window.platform.opened.size(), std::size_t(1));
    QCOMPARE(boxesWhenHelped, std::size_t(0));
    QCOMPARE(window.platform.boxes.size(), std::size_t(1));
  }
};

QTEST_MAIN(ConversionCommandTest)
#include "conversion_command_qtest.moc"
