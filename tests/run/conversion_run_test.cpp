#include "run/conversion_run.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <new>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "mbox/mailbox_naming.h"
#include "mbox/mailbox_record.h"
#include "support/emlx_bytes.h"
#include "support/recording_observer.h"
#include "support/temp_folder.h"

namespace drovanta {
namespace {

namespace fs = std::filesystem;
using testing::readFile;
using testing::RecordingObserver;
using testing::TempFolder;
using Lines = std::vector<std::string>;

std::string message(const std::string& subject, const std::string& body = "Body line\r\n") {
  return "From: Ann Example <ann@example.com>\r\nSubject: " + subject +
         "\r\nDate: Fri, 01 Mar 2024 17:05:09 +0000\r\n\r\n" + body;
}

// Apple Mail's layout: the byte count of the message, the message, its property list.
std::string emlx(const std::string& messageBytes) {
  return testing::EmlxBytes(messageBytes, 8590195713);
}

struct MailboxContent {
  long count = -1;
  Lines subjects;
  Lines bodies;
};

// Reads a mailbox with Python's mailbox module, as a mail program would.
MailboxContent readWithPython(const std::string& mailboxPath) {
  static const char* const kScript =
      "import mailbox, sys\n"
      "box = mailbox.mbox(sys.argv[1], create=False)\n"
      "messages = list(box)\n"
      "print(len(messages))\n"
      "for m in messages:\n"
      "    body = m.get_payload(decode=True) or b''\n"
      "    print(m.get('Subject', '<none>') + '\\t' + repr(body))\n";
  MailboxContent content;
  const std::string command = "python3 -c \"$DROVANTA_MBOX_SCRIPT\" '" + mailboxPath + "'";
  ::setenv("DROVANTA_MBOX_SCRIPT", kScript, 1);
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return content;
  std::string output;
  char buffer[4096];
  for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) {
    output.append(buffer, got);
  }
  if (::pclose(pipe) != 0) return content;
  std::istringstream lines(output);
  std::string line;
  std::getline(lines, line);
  content.count = std::stol(line);
  while (std::getline(lines, line)) {
    const auto tab = line.find('\t');
    content.subjects.push_back(line.substr(0, tab));
    content.bodies.push_back(line.substr(tab + 1));
  }
  return content;
}

bool pythonMailboxAvailable() {
  return std::system("python3 -c 'import mailbox' >/dev/null 2>&1") == 0;
}

TEST(ConversionRun, ReportsEachTurnInTheOrderOfItsSteps) {
  TempFolder temp;
  const std::string crlfMessage = "Subject: one\r\n\r\nBody\r\n";  // three lines, 22 bytes
  const std::string lfMessage = "Subject: two\n\nBody\n";          // three lines, 19 bytes
  VectorRowSource rows(
      {temp.write("Mail/1.emlx", emlx(crlfMessage)), temp.write("Mail/2.emlx", emlx(lfMessage))});
  RecordingObserver observer;
  const RunSummary summary = RunConversion(rows, temp.str() + "/Out", observer);

  const Lines firstTurn = {"start 0",   "y",           // row read after this yield
                           "y",                        // separator line built
                           "y",         "opened 22",   // message framed, its length known
                           "y",                        // mailbox opened
                           "y",         "line 22/22",  // the text written, ending at its length
                           "y",                        // record appended
                           "finished 0"};
  // An LF message keeps its line ends and also ends at exactly its own length.
  const Lines secondTurn = {"start 1", "y", "y",          "y", "opened 19",
                            "y",       "y", "line 19/19", "y", "finished 1"};
  Lines expected = firstTurn;
  expected.insert(expected.end(), secondTurn.begin(), secondTurn.end());
  EXPECT_EQ(observer.calls, expected);

  EXPECT_EQ(summary.converted, 2);
  EXPECT_EQ(summary.failed, 0);
  EXPECT_TRUE(summary.succeeded());
  EXPECT_EQ(summary.bytesRead, 41u);
  const std::string mailbox = temp.str() + "/Out" + temp.str() + "/Mail/Mail.mbox";
  EXPECT_EQ(summary.mailboxes, Lines{mailbox});
  EXPECT_EQ(summary.bytesWritten, fs::file_size(mailbox));
}

TEST(ConversionRun, FailingRowsAreReportedAndTheOthersConverted) {
  TempFolder temp;
  const std::string destination = temp.str() + "/Out/";
  const std::string good1 = temp.write("Mail/Inbox/1.emlx", emlx(message("first")));
  const std::string missing = temp.str() + "/Mail/Inbox/404.emlx";
  const std::string folderAsFile = temp.str() + "/Mail/Inbox/5.emlx";
  fs::create_directories(folderAsFile);
  const std::string good2 = temp.write("Mail/Sent/2.emlx", emlx(message("second")));
  // The mailbox of Blocked is taken by a folder; the output folder of Fenced by a file.
  const std::string blocked = temp.write("Mail/Blocked/3.emlx", emlx(message("blocked")));
  fs::create_directories(MailboxPlaceFor(destination, blocked).mailboxPath);
  const std::string fenced = temp.write("Mail/Fenced/4.emlx", emlx(message("fenced")));
  const std::string fencedFolder = MailboxPlaceFor(destination, fenced).outputFolder;
  temp.write(fs::relative(fencedFolder.substr(0, fencedFolder.size() - 1), temp.path()),
             "a file where the output folder should be");
  const std::string good3 = temp.write("Mail/Inbox/6.emlx", emlx(message("third")));

  VectorRowSource rows({good1, missing, folderAsFile, "   ", good2, blocked, fenced, good3});
  RecordingObserver observer;
  const RunSummary summary = RunConversion(rows, destination, observer);

  EXPECT_EQ(observer.turns(),
            (Lines{"start 0", "finished 0",                            //
                   "start 1", "failed 1 message file not found",       //
                   "start 2", "failed 2 message file cannot be read",  //
                   "start 3",                // an empty row: nothing to do or report
                   "start 4", "finished 4",  //
                   "start 5", "failed 5 mailbox file cannot be written", "start 6",
                   "failed 6 output folder cannot be created", "start 7", "finished 7"}));
  // The blocked mailbox only shows once the message has been read.
  EXPECT_NE(std::find(observer.calls.begin(), observer.calls.end(),
                      "opened " + std::to_string(message("blocked").size())),
            observer.calls.end());

  EXPECT_EQ(summary.converted, 3);
  EXPECT_EQ(summary.failed, 4);
  EXPECT_EQ(summary.skipped, 0);
  EXPECT_FALSE(summary.succeeded());
  ASSERT_EQ(summary.failures.size(), 4u);
  const std::string blockedMailbox = MailboxPlaceFor(destination, blocked).mailboxPath;
  const Lines failedPaths = {summary.failures[0].path, summary.failures[1].path,
                             summary.failures[2].path, summary.failures[3].path};
  EXPECT_EQ(failedPaths, (Lines{missing, folderAsFile, blocked, fenced}));
  EXPECT_NE(describe(summary.failures[0]).find("No such file or directory"), std::string::npos);
  // A failure about the mailbox or the output folder names it in its reason.
  EXPECT_NE(summary.failures[2].reason.find(blockedMailbox), std::string::npos);
  EXPECT_NE(summary.failures[2].reason.find("Is a directory"), std::string::npos);
  EXPECT_NE(summary.failures[3].reason.find(fencedFolder), std::string::npos);
  EXPECT_NE(summary.failures[3].reason.find("a file stands in the way"), std::string::npos)
      << summary.failures[3].reason;

  const std::string inbox = MailboxPlaceFor(destination, good1).mailboxPath;
  const std::string sent = MailboxPlaceFor(destination, good2).mailboxPath;
  EXPECT_EQ(summary.mailboxes, (Lines{inbox, sent}));
  EXPECT_EQ(summary.bytesWritten, fs::file_size(inbox) + fs::file_size(sent));
  // The missing message made no mailbox of its own, and the blocked one left its folder empty.
  EXPECT_TRUE(fs::is_empty(blockedMailbox));

  if (!pythonMailboxAvailable()) GTEST_SKIP() << "python3 mailbox module not available";
  const MailboxContent inboxContent = readWithPython(inbox);
  EXPECT_EQ(inboxContent.count, 2);
  EXPECT_EQ(inboxContent.subjects, (Lines{"first", "third"}));
  const MailboxContent sentContent = readWithPython(sent);
  EXPECT_EQ(sentContent.count, 1);
  EXPECT_EQ(sentContent.subjects, Lines{"second"});
  // A CR LF message comes back as it is: the record's closing empty line is LF.
  EXPECT_EQ(sentContent.bodies, Lines{"b'Body line\\r\\n'"});
}

// Rows hold paths as dialogs and walks found them. A name may end in spaces: "6.emlx" and
// "6.emlx  " are two messages, each converted once; a row of spaces only is passed over.
TEST(ConversionRun, RowTextIsThePathAsItIsTrailingSpacesIncluded) {
  TempFolder temp;
  VectorRowSource rows({temp.write("Box/6.emlx", emlx(message("plain"))),
                        temp.write("Box/6.emlx  ", emlx(message("spaced"))), "   ",
                        temp.write("Box/10323.emlx  ", emlx(message("only spaced"))), ""});
  RecordingObserver observer;
  const RunSummary summary = RunConversion(rows, temp.str() + "/Out", observer);
  EXPECT_EQ(observer.turns(), (Lines{"start 0", "finished 0", "start 1", "finished 1", "start 2",
                                     "start 3", "finished 3", "start 4"}));
  EXPECT_EQ(summary.converted, 3);
  EXPECT_EQ(summary.failed, 0);
  ASSERT_EQ(summary.mailboxes.size(), 1u);

  if (!pythonMailboxAvailable()) GTEST_SKIP() << "python3 mailbox module not available";
  EXPECT_EQ(readWithPython(summary.mailboxes[0]).subjects,
            (Lines{"plain", "spaced", "only spaced"}));
}

TEST(ConversionRun, MessagesOfOneFolderShareAMailboxAndASecondRunAppends) {
  TempFolder temp;
  const std::string body = "Text\r\nFrom the start of a line\r\n>From quoted\r\n";
  VectorRowSource rows({temp.write("Box/10.emlx", emlx(message("ten", body))),
                        temp.write("Box/9.emlx", emlx(message("nine", body)))});
  const std::string destination = temp.str() + "/Out";  // no final separator
  const std::string mailbox = destination + temp.str() + "/Box/Box.mbox";
  RecordingObserver observer;
  RunSummary summary = RunConversion(rows, destination, observer);
  EXPECT_EQ(summary.mailboxes, Lines{mailbox});
  EXPECT_EQ(summary.converted, 2);
  const auto sizeAfterFirst = fs::file_size(mailbox);
  summary = RunConversion(rows, destination, observer);
  EXPECT_EQ(summary.converted, 2);
  EXPECT_EQ(summary.crLfMessages, 2);  // both keep their CR LF line ends
  EXPECT_EQ(fs::file_size(mailbox), 2 * sizeAfterFirst);

  if (!pythonMailboxAvailable()) GTEST_SKIP() << "python3 mailbox module not available";
  const MailboxContent content = readWithPython(mailbox);
  EXPECT_EQ(content.count, 4);
  EXPECT_EQ(content.subjects, (Lines{"ten", "nine", "ten", "nine"}));
  // Body lines starting with "From " do not split the message; they carry one more ">".
  EXPECT_EQ(content.bodies[1], "b'Text\\r\\n>From the start of a line\\r\\n>>From quoted\\r\\n'");
}

TEST(ConversionRun, AStopAskedForInsideATurnEndsTheRunAfterThatRecord) {
  TempFolder temp;
  VectorRowSource rows({temp.write("Box/1.emlx", emlx(message("one"))),
                        temp.write("Box/2.emlx", emlx(message("two", "a\r\nb\r\nc\r\n"))),
                        temp.write("Box/3.emlx", emlx(message("three"))),
                        temp.write("Box/4.emlx", emlx(message("four")))});
  // The stop is asked for while the second message is being read.
  class StoppingObserver : public RecordingObserver {
   public:
    void lineRead(std::uint64_t textLength, std::uint64_t fileLength) override {
      RecordingObserver::lineRead(textLength, fileLength);
      if (started == 1) stop = true;
    }
    void turnStarted(long row) override {
      RecordingObserver::turnStarted(row);
      started = row;
    }
    bool stopRequested() override { return stop; }
    long started = -1;
    bool stop = false;
  } observer;
  const RunSummary summary = RunConversion(rows, temp.str() + "/Out", observer);
  EXPECT_EQ(observer.turns(), (Lines{"start 0", "finished 0", "start 1", "finished 1"}));
  EXPECT_TRUE(summary.stopped);
  EXPECT_EQ(summary.converted, 2);
  EXPECT_EQ(summary.failed, 0);
  EXPECT_EQ(summary.notReached, 2);

  // A run that is not asked to stop says so.
  RecordingObserver plain;
  const RunSummary whole = RunConversion(rows, temp.str() + "/Out2", plain);
  EXPECT_FALSE(whole.stopped);
  EXPECT_EQ(whole.notReached, 0);

  if (!pythonMailboxAvailable()) GTEST_SKIP() << "python3 mailbox module not available";
  const MailboxContent content = readWithPython(temp.str() + "/Out" + temp.str() + "/Box/Box.mbox");
  EXPECT_EQ(content.subjects, (Lines{"one", "two"}));
  EXPECT_EQ(content.bodies[1], "b'a\\r\\nb\\r\\nc\\r\\n'");
}

// A stop request made while a record is written (the command line's signals): the first lets
// the record be completed and ends the run after it; a second one cuts it back out. Made from the
// big message's middle line, so the request lands after part of its record is on the disk.
TEST(ConversionRun, AStopRequestDuringARecordCompletesItAndASecondCutsItBack) {
  std::string big;
  for (int line = 0; line < 20000; ++line) big += std::string(62, 'x') + "\r\n";
  struct Case {
    const char* name;
    int requests;
    bool messagesAfter;
    Lines subjects;
    long converted;
    long notReached;
  };
  for (const Case& c : {Case{"one request", 1, true, {"one", "two", "big"}, 3, 2},
                        Case{"two requests", 2, true, {"one", "two"}, 2, 3},
                        Case{"one in the last record", 1, false, {"one", "two", "big"}, 3, 0}}) {
    SCOPED_TRACE(c.name);
    TempFolder temp;
    std::vector<std::string> paths{temp.write("Box/1.emlx", emlx(message("one"))),
                                   temp.write("Box/2.emlx", emlx(message("two"))),
                                   temp.write("Box/3.emlx", emlx(message("big", big)))};
    if (c.messagesAfter) {
      paths.push_back(temp.write("Box/4.emlx", emlx(message("four"))));
      paths.push_back(temp.write("Box/5.emlx", emlx(message("five"))));
    }
    VectorRowSource rows(paths);
    StopRequest stop;
    struct : RecordingObserver {
      void turnStarted(long row) override {
        RecordingObserver::turnStarted(row);
        started = row;
      }
      void lineRead(std::uint64_t textLength, std::uint64_t fileLength) override {
        RecordingObserver::lineRead(textLength, fileLength);
        if (started == 2 && !requested && textLength > fileLength / 2) {
          requested = true;
          for (int n = 0; n < requests; ++n) stop->request(15);
        }
      }
      long started = -1;
      bool requested = false;
      int requests = 0;
      StopRequest* stop = nullptr;
    } observer;
    observer.requests = c.requests;
    observer.stop = &stop;
    RunOptions options;
    options.stop = &stop;
    const RunSummary summary = RunConversion(rows, temp.str() + "/Out", observer, options);
    EXPECT_TRUE(observer.requested);
    EXPECT_TRUE(summary.stopped);
    EXPECT_EQ(summary.converted, c.converted);
    EXPECT_EQ(summary.notReached, c.notReached);
    EXPECT_EQ(summary.failed, 0);
    EXPECT_EQ(stop.reason(), 15);
    const std::string mailbox = temp.str() + "/Out" + temp.str() + "/Box/Box.mbox";
    // Whole records only: the last one ends with the empty line after it.
    const std::string written = readFile(mailbox);
    EXPECT_TRUE(written.ends_with("\n\n") || written.ends_with("\r\n\r\n"));
    if (!pythonMailboxAvailable()) continue;
    const MailboxContent content = readWithPython(mailbox);
    EXPECT_EQ(content.subjects, c.subjects);
    // The big body whole: b'...' around 20000 lines of 62 bytes and an escaped CR LF.
    if (c.converted == 3) {
      EXPECT_EQ(content.bodies[2].size(), 3u + 20000u * (62u + 4u));
    }
  }
}

// A message that meets the end of memory while it is converted fails alone, its record cut back
// out; one that meets it after its turn ended is not counted twice, the exception goes on.
TEST(ConversionRun, RunningOutOfMemoryFailsOnlyTheMessageBeingConverted) {
  struct OutOfMemoryObserver : RecordingObserver {
    void lineRead(std::uint64_t textLength, std::uint64_t fileLength) override {
      if (turns().back() == "start 1" && whileReading) throw std::bad_alloc();
      RecordingObserver::lineRead(textLength, fileLength);
    }
    void turnFinished(long row) override {
      RecordingObserver::turnFinished(row);
      if (row == 1 && !whileReading) throw std::bad_alloc();
    }
    bool whileReading = true;
  };
  for (const bool whileReading : {true, false}) {
    TempFolder temp;
    VectorRowSource rows({temp.write("Box/1.emlx", emlx(message("one"))),
                          temp.write("Box/2.emlx", emlx(message("two"))),
                          temp.write("Box/3.emlx", emlx(message("three")))});
    OutOfMemoryObserver observer;
    observer.whileReading = whileReading;
    RunOptions options;
    if (!whileReading) {
      EXPECT_THROW(RunConversion(rows, temp.str() + "/Out", observer, options), std::bad_alloc);
      EXPECT_EQ(observer.turns(), (Lines{"start 0", "finished 0", "start 1", "finished 1"}));
      continue;
    }
    const RunSummary summary = RunConversion(rows, temp.str() + "/Out", observer, options);
    EXPECT_EQ(observer.turns(),
              (Lines{"start 0", "finished 0", "start 1", "failed 1 message file cannot be read",
                     "start 2", "finished 2"}));
    ASSERT_EQ(summary.failures.size(), 1u);
    EXPECT_EQ(describe(summary.failures[0]), rows.rowText(1) + ": not enough memory to convert it");
    EXPECT_EQ(summary.checked.records, 2);  // the record of the second was cut back out
    EXPECT_TRUE(summary.checked.differing.empty());
  }
}

TEST(ConversionRun, LfRecordsAreCountedAsWritten) {
  TempFolder temp;
  VectorRowSource rows({temp.write("A/1.emlx", emlx(message("crlf"))),
                        temp.write("A/2.emlx", emlx("Subject: lf\n\nline\nline\n")),
                        temp.write("A/3.eml", "Subject: plain\r\n\r\nlast line without end")});
  RunOptions options;
  options.record.lineEnds = LineEnds::Lf;
  RecordingObserver observer;
  const RunSummary summary = RunConversion(rows, temp.str() + "/Out", observer, options);
  ASSERT_EQ(summary.converted, 3);
  ASSERT_EQ(summary.mailboxes.size(), 1u);
  const std::string content = readFile(summary.mailboxes[0]);
  EXPECT_EQ(summary.bytesWritten, content.size());
  EXPECT_EQ(content.find('\r'), std::string::npos);
  EXPECT_EQ(summary.bytesRead,
            message("crlf").size() + std::string("Subject: lf\n\nline\nline\n").size() +
                std::string("Subject: plain\r\n\r\nlast line without end").size());
}

TEST(ConversionRun, AppleDoubleFilesAreSkippedWithoutMakingFolders) {
  TempFolder temp;
  const std::string appleDouble = std::string("\x00\x05\x16\x07\x00\x02\x00\x00", 8) + "Mac OS X";
  const std::string named = temp.write("Mail/Sidecar/._1.emlx", appleDouble);
  const std::string unnamed = temp.write("Mail/Other/7.emlx", appleDouble);
  const std::string real = temp.write("Mail/Real/._2.emlx", emlx(message("dot name")));
  VectorRowSource rows({named, unnamed, real});
  const std::string destination = temp.str() + "/Out/";
  RecordingObserver observer;
  const RunSummary summary = RunConversion(rows, destination, observer);

  EXPECT_EQ(summary.skipped, 2);
  EXPECT_EQ(summary.converted, 1);  // a "._" name alone does not make a sidecar
  EXPECT_EQ(summary.failed, 0);
  EXPECT_EQ(observer.reports()[1], "skipped 0 not a message: AppleDouble metadata file");
  EXPECT_FALSE(fs::exists(MailboxPlaceFor(destination, named).outputFolder));
  EXPECT_FALSE(fs::exists(MailboxPlaceFor(destination, unnamed).mailboxPath));
  EXPECT_TRUE(fs::exists(MailboxPlaceFor(destination, real).mailboxPath));
}

// Another program rewrites a message while its record is written (a mail program or a sync
// tool): the same size, other bytes. The message fails, its record is cut back, the run goes on.
class RewritingObserver : public RecordingObserver {
 public:
  explicit RewritingObserver(std::string path) : path_(std::move(path)) {}
  void lineRead(std::uint64_t textLength, std::uint64_t fileLength) override {
    RecordingObserver::lineRead(textLength, fileLength);
    if (path_.empty()) return;
    std::string bytes = readFile(path_);
    std::replace(bytes.begin(), bytes.end(), 'B', 'b');
    std::ofstream(path_, std::ios::binary | std::ios::in) << bytes;
    path_.clear();
  }

 private:
  std::string path_;
};

TEST(ConversionRun, AMessageRewrittenWhileItIsReadFailsAndItsRecordIsCutBack) {
  TempFolder temp;
  const std::string rewritten = temp.write("Box/1.emlx", emlx(message("one")));
  const std::string kept = temp.write("Box/2.emlx", emlx(message("two")));
  // The file system dates a change in ticks of some milliseconds: the rewrite lands in a later
  // one than the file's writing.
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  VectorRowSource rows({rewritten, kept});
  RewritingObserver observer(rewritten);
  const std::string destination = temp.str() + "/Out/";
  const RunSummary summary = RunConversion(rows, destination, observer);

  EXPECT_EQ(summary.failed, 1);
  EXPECT_EQ(summary.converted, 1);
  ASSERT_EQ(summary.failures.size(), 1u);
  EXPECT_EQ(describe(summary.failures[0]), rewritten + ": the file changed while it was read");
  const std::string mailbox = readFile(MailboxPlaceFor(destination, kept).mailboxPath);
  EXPECT_TRUE(mailbox.starts_with("From ann@example.com ")) << mailbox;
  EXPECT_EQ(mailbox.find("Subject: one"), std::string::npos);
  EXPECT_NE(mailbox.find("Subject: two"), std::string::npos);
}

TEST(ConversionRun, APlacerChoosesTheMailboxAndItsFolderIsCreated) {
  TempFolder temp;
  const std::string picked = temp.write("In/picked.emlx", emlx(message("picked")));
  const std::string usual = temp.write("In/usual.emlx", emlx(message("usual")));
  RunOptions options;
  std::vector<std::string> asked;
  options.placer = [&](const std::string& destination,
                       const std::string& path) -> std::optional<MailboxPlace> {
    asked.push_back(destination);
    if (path != picked) return std::nullopt;
    return MailboxPlace{destination + "Chosen/Deeper/", destination + "Chosen/Deeper/Mine.mbox"};
  };
  RecordingObserver observer;
  VectorRowSource rows({picked, usual});
  const RunSummary summary = RunConversion(rows, temp.str() + "/Out", observer, options);
  EXPECT_EQ(asked, (Lines{temp.str() + "/Out/", temp.str() + "/Out/"}));
  EXPECT_EQ(summary.mailboxes, (Lines{temp.str() + "/Out/Chosen/Deeper/Mine.mbox",
                                      temp.str() + "/Out" + temp.str() + "/In/In.mbox"}));
  EXPECT_EQ(summary.converted, 2);
}

// Another writer appends the record of `added` at the first yield of row `at` that finds the
// mailbox: after the run read the mailbox (at row 0), before it locks it for that row.
struct OtherWriter : RecordingObserver {
  OtherWriter(long at, std::string mailbox, std::string added)
      : at(at), mailbox(std::move(mailbox)), added(std::move(added)) {}
  void turnStarted(long row) override { current = row; }
  void yieldPoint() override {
    if (current != at || done || !fs::exists(mailbox)) return;
    done = true;
    EXPECT_FALSE(
        AppendRecord(mailbox, "From other@example.org Fri Mar 01 17:05:09 2024", message(added)));
  }
  long at, current = -1;
  std::string mailbox, added;
  bool done = false;
};

TEST(ConversionRun, NewOnlyCountsWhatAnotherWriterAddedAfterTheMailboxWasRead) {
  struct Case {
    const char* what;
    Lines rows;  // folder/subject
    long at;
    Lines subjects;              // in Box.mbox
    bool firstRowThere = false;  // converted by an earlier run
    long alreadyThere = 1;
  };
  const std::vector<Case> cases = {
      {"while the mailbox is created", {"Box/one", "Box/two"}, 0, {"one", "two"}},
      {"before the mailbox is taken up again, a copy of one of the run's own messages following",
       {"Box/one", "Other/x", "Box/two", "Box/one"},
       2,
       {"one", "two", "one"}},
      // The record read again as reading on starts was used up by the first copy.
      {"after the mailbox's last record was taken, a copy of its message following",
       {"Box/one", "Other/x", "Box/two", "Box/one"},
       2,
       {"one", "two", "one"},
       true,
       2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempFolder temp;
    Lines paths;
    for (const std::string& row : c.rows) {
      const std::string subject = row.substr(row.find('/') + 1);
      paths.push_back(
          temp.write(row + std::to_string(paths.size()) + ".emlx", emlx(message(subject))));
    }
    if (c.firstRowThere) {
      RecordingObserver earlier;
      VectorRowSource first({paths.front()});
      RunConversion(first, temp.str() + "/Out", earlier);
    }
    OtherWriter other(c.at, temp.str() + "/Out" + temp.str() + "/Box/Box.mbox",
                      c.rows[static_cast<std::size_t>(c.at)].substr(4));
    RunOptions options;
    options.newOnly = true;
    VectorRowSource rows(paths);
    const RunSummary summary = RunConversion(rows, temp.str() + "/Out", other, options);
    EXPECT_TRUE(other.done);
    EXPECT_EQ(summary.alreadyThere, c.alreadyThere);
    if (pythonMailboxAvailable()) {
      EXPECT_EQ(readWithPython(other.mailbox).subjects, c.subjects);
    }
  }
}

// A list that a window could change under the run: the count is asked once, each row's text
// at its own turn.
class ChangingRows : public RowSource {
 public:
  explicit ChangingRows(Lines rows) : rows_(std::move(rows)) {}
  long rowCount() override {
    ++countReads;
    return static_cast<long>(rows_.size());
  }
  std::string rowText(long row) override {
    trace->push_back("text " + std::to_string(row));
    return rows_.at(static_cast<std::size_t>(row));
  }
  void change(std::size_t row, std::string text) { rows_.at(row) = std::move(text); }
  void grow(std::string text) { rows_.push_back(std::move(text)); }

  int countReads = 0;
  Lines* trace = nullptr;

 private:
  Lines rows_;
};

TEST(ConversionRun, ReadsTheCountOnceAndEachRowAtItsTurn) {
  TempFolder temp;
  const std::string first = temp.write("M/1.emlx", emlx(message("one")));
  const std::string replaced = temp.write("M/2.emlx", emlx(message("two")));
  const std::string replacement = temp.write("M/3.emlx", emlx(message("three")));
  ChangingRows rows({first, replaced});

  class ChangingObserver : public RecordingObserver {
   public:
    ChangingRows* rows = nullptr;
    std::string replacement;
    void turnFinished(long row) override {
      RecordingObserver::turnFinished(row);
      if (row == 0) {
        rows->change(1, replacement);  // as if the user edited the list during a yield
        rows->grow(replacement);       // rows added during the run are not converted
      }
    }
  } observer;
  observer.rows = &rows;
  observer.replacement = replacement;
  rows.trace = &observer.calls;

  const RunSummary summary = RunConversion(rows, temp.str() + "/Out", observer);
  EXPECT_EQ(rows.countReads, 1);
  EXPECT_EQ(summary.converted, 2);
  const Lines reports = observer.reports();
  EXPECT_EQ(reports[0], "start 0");
  EXPECT_EQ(reports[1], "text 0");
  ASSERT_EQ(summary.mailboxes.size(), 1u);
  if (!pythonMailboxAvailable()) GTEST_SKIP() << "python3 mailbox module not available";
  EXPECT_EQ(readWithPython(summary.mailboxes[0]).subjects, (Lines{"one", "three"}));
}

TEST(ConversionRun, PartialMessageWithoutItsAttachmentsWarnsAndConverts) {
  const fs::path corpus = fs::path(DROVANTA_CORPUS_DIR) / "partial-emlx-converter" / "test" /
                          "__testdata" / "input" / "Messages";
  ASSERT_TRUE(fs::exists(corpus / "114893.partial.emlx")) << "no corpus at " << corpus;
  TempFolder temp;
  const std::string partial = temp.write("Inbox.mbox/Messages/114893.partial.emlx",
                                         readFile(corpus / "114893.partial.emlx"));
  const std::string whole =
      temp.write("Inbox.mbox/Messages/114862.emlx", readFile(corpus / "114862.emlx"));
  VectorRowSource rows({partial, whole});
  RecordingObserver observer;
  const RunSummary summary = RunConversion(rows, temp.str() + "/Out", observer);
  EXPECT_EQ(summary.converted, 2);
  EXPECT_EQ(summary.warnings, 1);
  ASSERT_FALSE(observer.warnings.empty());
  for (const Notice& notice : observer.warnings) EXPECT_FALSE(notice.text.empty());
  // Warnings come just before the turn's end.
  const Lines reports = observer.reports();
  const auto finished = std::find(reports.begin(), reports.end(), "finished 0");
  ASSERT_NE(finished, reports.end());
  EXPECT_EQ(*(finished - 1), "warned 0");

  if (!pythonMailboxAvailable()) GTEST_SKIP() << "python3 mailbox module not available";
  EXPECT_EQ(readWithPython(summary.mailboxes.at(0)).count, 2);
}

}  // namespace
}  // namespace drovanta
