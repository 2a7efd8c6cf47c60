// An Apple Mail library converted through the window: its two check boxes, the names of the
// mailboxes as their owner knows them, and the question before a rerun.
#include <QCheckBox>
#include <QComboBox>
#include <QFontMetrics>
#include <QStyle>
#include <algorithm>
#include <filesystem>
#include <map>
#include <set>

#include "support/emlx_bytes.h"
#include "support/temp_folder.h"
#include "window/conversion_options.h"
#include "window/window_layout.h"
#include "window_fixture.h"

using namespace drovanta;
using drovanta::testing::readFile;
using drovanta::testing::readMailbox;
using drovanta::testing::TempFolder;
using drovanta::testing::WindowFixture;
namespace fs = std::filesystem;
using Strings = std::vector<std::string>;

namespace {

constexpr std::uint64_t kReadAndFlagged = 1 | 1 << 4;

std::string emlx(int number, std::uint64_t flags) {
  const std::string message = "From: Ann <ann@example.com>\nSubject: s" + std::to_string(number) +
                              "\nDate: Fri, 01 Mar 2024 17:05:09 +0000\nMessage-ID: <s" +
                              std::to_string(number) + "@example.com>\n\nBody\n";
  return drovanta::testing::EmlxBytes(message, flags);
}

// A library of one era: message file below the tree -> its mailbox below the destination with
// Apple Mail names.
struct Era {
  const char* name;
  std::vector<std::pair<std::string, std::string>> messages;
  Strings shownNames;  // the closing box's "Mailboxes:" line, in order
};

const std::vector<Era>& eras() {
  static const std::vector<Era> all = {
      {"before V2",
       {{"Mail/POP-ann@pop.example/INBOX.mbox/Messages/1.emlx", "POP-ann@pop.example/INBOX.mbox"},
        {"Mail/IMAP-ann@imap.example/Archive.imapmbox/2024.imapmbox/Messages/2.emlx",
         "IMAP-ann@imap.example/Archive/2024.mbox"},
        {"Mail/Mailboxes/Projects.mbox/Messages/3.emlx", "On My Mac/Projects.mbox"}},
       {"INBOX", "Archive/2024", "Projects"}},
      {"V2",
       {{"Mail/V2/IMAP-ann@imap.example/INBOX.mbox/Messages/1.emlx",
         "IMAP-ann@imap.example/INBOX.mbox"},
        {"Mail/V2/IMAP-ann@imap.example/Sent Messages.mbox/Messages/2.emlx",
         "IMAP-ann@imap.example/Sent Messages.mbox"}},
       {"INBOX", "Sent Messages"}},
      {"V10",
       {{"Mail/V10/0A1B-ACCT/INBOX.mbox/9F3E/Data/Messages/1.emlx", "0A1B-ACCT/INBOX.mbox"},
        {"Mail/V10/0A1B-ACCT/INBOX.mbox/9F3E/Data/3/1/Messages/30.emlx", "0A1B-ACCT/INBOX.mbox"},
        {"Mail/V10/0A1B-ACCT/Sent Messages.mbox/77AA/Data/Messages/2.emlx",
         "0A1B-ACCT/Sent Messages.mbox"},
        {"Mail/V10/0A1B-ACCT/Archive.mbox/2024.mbox/55BB/Data/Messages/4.emlx",
         "0A1B-ACCT/Archive/2024.mbox"}},
       {"INBOX", "Sent Messages", "Archive/2024"}},
      {"V8 and V10 side by side, as an upgraded Mac keeps them",
       {{"Mail/V8/0A1B-ACCT/INBOX.mbox/9F3E/Data/Messages/1.emlx", "V8/0A1B-ACCT/INBOX.mbox"},
        {"Mail/V10/0A1B-ACCT/INBOX.mbox/9F3E/Data/Messages/2.emlx", "V10/0A1B-ACCT/INBOX.mbox"}},
       {"INBOX (V8)", "INBOX (V10)"}},
  };
  return all;
}

// Sets a check box as a user would: a click when it is not as wanted.
void setTicked(QCheckBox* box, bool ticked) {
  if (box->isChecked() != ticked) QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(6, 6));
  QCOMPARE(box->isChecked(), ticked);
}

void fillList(WindowFixture& window, const Strings& paths) {
  for (const auto& path : paths) window.form->AddFileToList(path);
  window.form->CmdConvert2PDF->setEnabled(true);
}

Strings mailboxFilesUnder(const fs::path& root) {
  Strings found;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    if (entry.is_regular_file() && entry.path().extension() == ".mbox") {
      found.push_back(fs::relative(entry.path(), root).string());
    }
  }
  std::sort(found.begin(), found.end());
  return found;
}

}  // namespace

class AppleLibraryTest : public QObject {
  Q_OBJECT

 private slots:
  // Each era with each state of the two check boxes: names as Apple Mail shows them or the
  // folders' mirror, read and flagged state as headers or not.
  void everyEraWithEachStateOfTheCheckBoxes() {
    for (const Era& era : eras()) {
      for (const bool appleNames : {true, false}) {
        for (const bool keepState : {true, false}) {
          const QString trace =
              QStringLiteral("%1, names %2, state %3").arg(era.name).arg(appleNames).arg(keepState);
          TempFolder tree;
          Strings paths;
          std::set<std::string> boxes;
          int number = 0;
          for (const auto& [file, box] : era.messages) {
            paths.push_back(tree.write(file, emlx(++number, kReadAndFlagged)));
            boxes.insert(box);
          }
          WindowFixture window;
          fillList(window, paths);
          QVERIFY2(window.form->chkAppleNames->isChecked(), qPrintable(trace));  // ticked by itself
          setTicked(window.form->chkAppleNames, appleNames);
          setTicked(window.form->chkKeepState, keepState);
          const fs::path out = tree.path() / "Out";
          window.platform.queueFolder(out.string());
          WindowFixture::click(window.form->CmdConvert2PDF);

          QCOMPARE(window.platform.boxes.size(), std::size_t(1));
          const std::string& text = window.platform.boxes[0].text;
          QVERIFY2(text.starts_with("Export Completed Successfully !"), text.c_str());
          const Strings files = mailboxFilesUnder(out);
          if (appleNames) {
            QCOMPARE(files, Strings(boxes.begin(), boxes.end()));
            std::string shown = "\r\nMailboxes: ";
            for (std::size_t i = 0; i < era.shownNames.size(); ++i) {
              shown += (i == 0 ? "" : ", ") + era.shownNames[i];
            }
            QVERIFY2(text.find(shown + "\r\n") != std::string::npos, text.c_str());
          } else {
            QCOMPARE(files.size(), era.messages.size());  // one per Messages folder
            for (const std::string& file : files) QVERIFY(file.ends_with("/Messages.mbox"));
          }
          QVERIFY2(text.ends_with("\r\nChecked: " + std::to_string(paths.size()) + " records in " +
                                  std::to_string(files.size()) +
                                  (files.size() == 1 ? " mailbox" : " mailboxes") +
                                  ", in place and on disk."),
                   text.c_str());
          for (const std::string& file : files) {
            const std::string bytes = readFile(out / file);
            QCOMPARE(bytes.find("\nStatus: RO\nX-Status: F\n") != std::string::npos, keepState);
          }
        }
      }
    }
  }

  // Mailboxes named after their folder are told apart by the folders above them, beside the
  // Apple Mail names.
  void foldersOfOneNameAreToldApart() {
    for (const bool appleNames : {true, false}) {
      TempFolder tree;
      Strings paths;
      int number = 0;
      for (const char* file : {"Mail/V10/0A1B-ACCT/INBOX.mbox/9F3E/Data/Messages/1.emlx",
                               "Export/Work/Messages/2.emlx", "Export/Home/Messages/3.emlx",
                               "Old/Home/Messages/4.emlx"}) {
        paths.push_back(tree.write(file, emlx(++number, 0)));
      }
      WindowFixture window;
      fillList(window, paths);
      setTicked(window.form->chkAppleNames, appleNames);
      window.platform.queueFolder((tree.path() / "Out").string());
      WindowFixture::click(window.form->CmdConvert2PDF);

      const std::string& text = window.platform.boxes.at(0).text;
      for (const char* name : {appleNames ? "INBOX" : "Data/Messages", "Work/Messages",
                               "Export/Home/Messages", "Old/Home/Messages"}) {
        QVERIFY2(text.find(name) != std::string::npos, text.c_str());
      }
    }
  }

  // The first box ticks itself for a row from an Apple Mail mailbox; both are remembered from
  // one window to the next and held while a run works.
  void theCheckBoxesAreRememberedAndHeldDuringARun() {
    TempFolder tree;
    const std::string plain = tree.write("Exported/1.emlx", emlx(1, 0));
    const std::string apple =
        tree.write("Mail/V10/A/INBOX.mbox/U/Data/Messages/2.emlx", emlx(2, 0));
    std::map<std::string, std::string> kept;
    {
      WindowFixture window;
      QVERIFY(!window.form->chkAppleNames->isChecked());
      QVERIFY(window.form->chkKeepState->isChecked());
      fillList(window, {plain});
      QVERIFY(!window.form->chkAppleNames->isChecked());
      window.platform.queueFolder(tree.str() + "/Mail");  // Add Folder, as the user adds a library
      WindowFixture::click(window.form->CmdAddFolder);
      QCOMPARE(window.form->grdFiles1->Rows(), 2L);
      QVERIFY(window.form->chkAppleNames->isChecked());
      setTicked(window.form->chkKeepState, false);

      bool heldWhileRunning = true;
      window.platform.onYield([&] {
        if (!window.form->conversionRunning()) return false;
        heldWhileRunning = !window.form->chkAppleNames->isEnabled() &&
                           !window.form->chkKeepState->isEnabled() &&
                           !window.form->cboMailProgram->isEnabled();
        return true;
      });
      window.platform.queueFolder(tree.str() + "/Out");
      WindowFixture::click(window.form->CmdConvert2PDF);
      QVERIFY(heldWhileRunning);
      QVERIFY(window.form->chkAppleNames->isEnabled() && window.form->chkKeepState->isEnabled());
      QVERIFY(window.form->cboMailProgram->isEnabled());
      window.form->cboMailProgram->setCurrentIndex(2);
      kept = window.platform.settings;
    }
    // The next start finds the settings as the platform's store keeps them.
    ScriptedPlatform platform;
    platform.settings = kept;
    frmStep1 second(platform);
    QVERIFY(second.chkAppleNames->isChecked());
    QVERIFY(!second.chkKeepState->isChecked());
    QCOMPARE(second.cboMailProgram->currentText(), QStringLiteral("Apple Mail"));
    second.chkAppleNames->setChecked(false);
    QCOMPARE(platform.setting(kAppleNamesSetting), std::string("0"));
  }

  // "For: Thunderbird" writes the tree the command line's --for thunderbird writes, accounts by
  // their address, and the closing box says where it goes next.
  void forThunderbirdWritesThunderbirdsLayout() {
    TempFolder tree;
    tree.write("Mail/V10/MailData/Signatures/AccountsMap.plist",
               "<plist version=\"1.0\"><dict><key>0A1B</key><dict><key>AccountURL</key>"
               "<string>imap://ann%40x.org@imap.x.org/</string></dict></dict></plist>");
    const Strings paths = {
        tree.write("Mail/V10/0A1B/INBOX.mbox/9F3E/Data/Messages/1.emlx", emlx(1, 0)),
        tree.write("Mail/V10/0A1B/Archive.mbox/2024.mbox/55BB/Data/Messages/2.emlx", emlx(2, 0)),
        tree.write("Mail/V10/Mailboxes/Old.mbox/Messages/3.emlx", emlx(3, kReadAndFlagged))};
    WindowFixture window;
    fillList(window, paths);
    setTicked(window.form->chkAppleNames, false);  // Thunderbird's layout names as Apple Mail
    setTicked(window.form->chkKeepState, false);   // and keeps the state whatever this says
    window.form->cboMailProgram->setCurrentIndex(1);
    QCOMPARE(window.platform.setting(kMailProgramSetting), std::string("thunderbird"));
    const fs::path out = tree.path() / "Out";
    window.platform.queueFolder(out.string());
    WindowFixture::click(window.form->CmdConvert2PDF);
    const fs::path local = out / "Mail/Local Folders";
    for (const char* file : {"ann@x.org.sbd/INBOX", "ann@x.org.sbd/Archive.sbd/2024",
                             "On My Mac.sbd/Old", "ann@x.org", "ann@x.org.sbd/Archive"}) {
      QVERIFY2(fs::is_regular_file(local / file), file);
    }
    QVERIFY(readFile(local / "On My Mac.sbd/Old").find("\nX-Status: F\n") != std::string::npos);
    QVERIFY(fs::is_regular_file(out / "prefs.js"));
    QCOMPARE(window.platform.boxes.size(), std::size_t(1));
    const std::string& text = window.platform.boxes[0].text;
    QVERIFY2(text.find("\r\n\r\nNext, in Thunderbird: choose Tools > Import > Import from "
                       "Thunderbird") != std::string::npos,
             text.c_str());
  }

  // A destination that holds some of the messages already (a run stopped after `before` of
  // them): Yes adds the others, each message ends up once; No adds them all again; Cancel
  // changes nothing. With `copies`, the six messages are three, twice each: a record there
  // counts for one copy, in the question as in the run.
  void aRerunAsksWhetherToAddOnlyTheNewOnes_data() {
    QTest::addColumn<int>("before");
    QTest::addColumn<int>("answer");
    QTest::addColumn<bool>("copies");
    for (int before : {1, 3, 5}) {
      for (bool copies : {false, true}) {
        QTest::addRow("%d there%s, Yes", before, copies ? " of copies" : "")
            << before << static_cast<int>(MessageAnswer::Yes) << copies;
      }
    }
    QTest::addRow("2 there, No") << 2 << static_cast<int>(MessageAnswer::No) << false;
    QTest::addRow("2 there, Cancel") << 2 << static_cast<int>(MessageAnswer::Cancel) << false;
  }
  void aRerunAsksWhetherToAddOnlyTheNewOnes() {
    QFETCH(int, before);
    QFETCH(int, answer);
    QFETCH(bool, copies);
    const auto messageOf = [&](int n) { return copies ? (n - 1) % 3 + 1 : n; };
    TempFolder tree;
    Strings paths;
    for (int n = 1; n <= 6; ++n) {
      paths.push_back(
          tree.write("Mail/V10/A/INBOX.mbox/U/Data/Messages/" + std::to_string(n) + ".emlx",
                     emlx(messageOf(n), 1)));
    }
    const fs::path inbox = tree.path() / "Out/A/INBOX.mbox";
    {
      WindowFixture first;
      fillList(first, Strings(paths.begin(), paths.begin() + before));
      first.platform.queueFolder(tree.str() + "/Out");
      WindowFixture::click(first.form->CmdConvert2PDF);
      QCOMPARE(readMailbox(inbox).size(), std::size_t(before));
    }
    const std::string earlier = readFile(inbox);
    WindowFixture window;
    fillList(window, paths);
    window.platform.queueFolder(tree.str() + "/Out");
    window.platform.queueAnswer(static_cast<MessageAnswer>(answer));
    WindowFixture::click(window.form->CmdConvert2PDF);

    const MessageBoxRequest& question = window.platform.boxes.at(0);
    QCOMPARE(question.text, "The destination already holds " + std::to_string(before) +
                                " of these messages. Add only the new ones?");
    QVERIFY(question.buttons == MessageButtons::YesNoCancel);
    QVERIFY(question.defaultAnswer == MessageAnswer::Yes);
    const Strings written = readMailbox(inbox);
    switch (static_cast<MessageAnswer>(answer)) {
      case MessageAnswer::Yes: {
        QCOMPARE(written.size(), paths.size());
        for (std::size_t i = 0; i < written.size(); ++i) {
          QVERIFY(written[i].ends_with("|s" + std::to_string(messageOf(static_cast<int>(i) + 1))));
        }
        const std::string& closing = window.platform.boxes.at(1).text;
        QVERIFY2(closing.find("\r\n" + std::to_string(before) +
                              " message(s) already in the mailbox, not added again.") !=
                     std::string::npos,
                 closing.c_str());
        break;
      }
      case MessageAnswer::No:
        QCOMPARE(written.size(), paths.size() + before);
        break;
      default:
        QCOMPARE(window.platform.boxes.size(), std::size_t(1));
        QCOMPARE(readFile(inbox), earlier);
    }
  }

  // The two boxes share the gap between Help Manual and Exit, one above the other, and their
  // texts fit it at every scale of the screen, with the font the window found and with the
  // fallback font.
  void theBandFitsAtEveryScale() {
    WindowFixture window;
    const QWidget* panel = window.form->CmdHelp->parentWidget();
    const QRect help = window.form->CmdHelp->geometry();
    const QRect exit = window.form->cmdEnd->geometry();
    QCheckBox* boxes[] = {window.form->chkAppleNames, window.form->chkKeepState};
    QVERIFY(boxes[0]->parentWidget() == panel && boxes[1]->parentWidget() == panel);
    QVERIFY(boxes[0]->geometry().bottom() < boxes[1]->geometry().top());
    for (QCheckBox* box : boxes) {
      QVERIFY(box->geometry().left() > help.right() && box->geometry().right() < exit.left());
      QVERIFY(panel->rect().contains(box->geometry()));
      QVERIFY(box->font() == window.form->CmdHelp->font());
    }
    QFont fallback = boxes[0]->font();
    fallback.setFamilies({QStringLiteral("DejaVu Sans Condensed")});
    const int indicator = boxes[0]->style()->pixelMetric(QStyle::PM_IndicatorWidth) +
                          boxes[0]->style()->pixelMetric(QStyle::PM_CheckBoxLabelSpacing);
    for (const double scale : {1.0, 1.25, 1.5, 1.75, 2.0, 2.5}) {
      const double dpi = 96 * scale;
      for (QFont font : {boxes[0]->font(), fallback}) {
        font.setPixelSize(static_cast<int>(std::lround(8.25 * dpi / 72)));
        const QFontMetrics metrics(font);
        for (QCheckBox* box : boxes) {
          const int width = static_cast<int>(std::lround(indicator * scale)) +
                            metrics.horizontalAdvance(box->text());
          QVERIFY2(width <= TwipsToPixels(4545, dpi),
                   qPrintable(QStringLiteral("%1 at %2").arg(box->text()).arg(scale)));
          QVERIFY(metrics.height() <= TwipsToPixels(240, dpi));
        }
      }
    }
  }
};

QTEST_MAIN(AppleLibraryTest)
#include "apple_library_qtest.moc"
