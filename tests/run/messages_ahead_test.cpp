#include "run/messages_ahead.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "run/conversion_run.h"
#include "run/parallel_run.h"
#include "support/emlx_bytes.h"
#include "support/recording_observer.h"
#include "support/temp_folder.h"

namespace drovanta {
namespace {

namespace fs = std::filesystem;
using testing::readFile;
using testing::RecordingObserver;
using testing::TempFolder;

// Message n of a mailbox: line ends and size vary with n, and many have a body line to quote.
std::string message(int n) {
  const char* lineEnd = n % 11 == 0 ? "\r\n" : n % 13 == 0 ? "\r" : "\n";
  std::string text = std::string("From: Sender ") + std::to_string(n) + " <s" + std::to_string(n) +
                     "@example.org>" + lineEnd + "Date: Fri, 01 Mar 2024 17:05:09 +0000" + lineEnd +
                     lineEnd;
  for (int i = 0; i < n % 40; ++i) text += "line " + std::to_string(i) + lineEnd;
  if (n % 3 == 0) text += std::string("From the notes") + lineEnd;
  return testing::EmlxBytes(text);
}

// One folder of `count` messages (one mailbox), with problems among them: a missing file, an
// empty row, a sidecar, a folder named like a message, a partial message whose parts are gone
// and a message of 3 MB, which waits its turn and streams.
std::vector<std::string> oneMailbox(const TempFolder& temp, int count) {
  std::vector<std::string> rows;
  for (int n = 0; n < count; ++n) {
    rows.push_back(temp.write("src/Box/" + std::to_string(n) + ".emlx", message(n)));
  }
  rows.insert(rows.begin() + count / 5, temp.str() + "/src/Box/missing.emlx");
  rows.insert(rows.begin() + count / 4, "  ");
  rows.insert(rows.begin() + count / 3,
              temp.write("src/Box/._3.emlx", std::string("\0\x05\x16\x07\0\x02\0\0", 8)));
  fs::create_directories(temp.path() / "src/Box/folder.emlx");
  rows.insert(rows.begin() + count / 2, temp.str() + "/src/Box/folder.emlx");
  const fs::path stub = fs::path(DROVANTA_CORPUS_DIR) / "partial-emlx-converter" / "test" /
                        "__testdata" / "input" / "Messages" / "114893.partial.emlx";
  rows.insert(rows.begin() + count / 2 + 3,
              temp.write("src/Box/114893.partial.emlx", readFile(stub)));
  rows.insert(rows.begin() + count * 2 / 3,
              temp.write("src/Box/big.emlx", message(3) + std::string(3 << 20, 'x') + "\n"));
  return rows;
}

std::vector<std::string> toldToFrontEnd(const RecordingObserver& observer) {
  std::vector<std::string> told;
  for (const std::string& call : observer.reports()) {
    if (call.starts_with("line ") && !told.empty() && told.back().starts_with("line ")) {
      told.back() = call;  // a message prepared ahead tells only its last length
    } else {
      told.push_back(call);
    }
  }
  return told;
}

std::string mailboxOf(const TempFolder& temp, const std::string& out) {
  return readFile(temp.path() / out / fs::relative(temp.path(), "/") / "src/Box/Box.mbox");
}

// Tells what a run tells, and checks at every turn that the messages held ahead stay within
// the budget.
struct BudgetWatch : RecordingObserver {
  void turnStarted(long row) override {
    RecordingObserver::turnStarted(row);
    EXPECT_LE(ahead->heldBytes(), budget) << "row " << row;
  }
  const MessagesAhead* ahead = nullptr;
  std::size_t budget = 0;
};

TEST(MessagesAhead, OneMailboxWithHelpersIsWhatOneThreadWritesAndTells) {
  TempFolder temp;
  const std::vector<std::string> rows = oneMailbox(temp, 300);
  for (const bool crLfAndFlags : {false, true}) {
    RunOptions options;
    options.record.lineEnds = crLfAndFlags ? LineEnds::CrLf : LineEnds::Auto;
    options.record.writeFlags = crLfAndFlags;
    RecordingObserver serialObserver;
    const std::string serialOut = crLfAndFlags ? "serial-crlf" : "serial";
    VectorRowSource serialRows(rows);
    const RunSummary serial =
        RunConversion(serialRows, temp.str() + "/" + serialOut, serialObserver, options);
    EXPECT_EQ(serial.failed, 2);
    EXPECT_EQ(serial.skipped, 1);
    // Helpers and budget: no room for one message, room for two, the run's own budget.
    for (const auto& [helpers, budget] :
         std::vector<std::pair<int, std::size_t>>{{3, 1000},
                                                  {3, 2 * kPreparedBytesLimit},
                                                  {1, MessagesAhead::kByteBudget},
                                                  {7, MessagesAhead::kByteBudget}}) {
      const std::string out = serialOut + std::to_string(helpers) + "-" + std::to_string(budget);
      SCOPED_TRACE(out);
      MessagesAhead ahead(options.record, nullptr, 1, budget);
      std::vector<std::jthread> threads;
      for (int i = 0; i < helpers; ++i) threads.emplace_back([&ahead] { ahead.help(); });
      BudgetWatch observer;
      observer.ahead = &ahead;
      observer.budget = budget;
      RunSummary summary;
      {
        VectorRowSource source(rows);
        WriterLane lane(ahead, source);
        summary = RunConversion(source, temp.str() + "/" + out, observer, options, lane);
      }
      ahead.writerEnded();
      threads.clear();
      EXPECT_EQ(ahead.heldBytes(), 0u);
      EXPECT_EQ(mailboxOf(temp, out), mailboxOf(temp, serialOut));
      EXPECT_EQ(toldToFrontEnd(observer), toldToFrontEnd(serialObserver));
      EXPECT_EQ(summary.converted, serial.converted);
      EXPECT_EQ(summary.warnings, serial.warnings);
      EXPECT_EQ(summary.bytesWritten, serial.bytesWritten);
    }
  }
}

// Counts the records of a mailbox by their separator lines.
long recordsIn(const std::string& mailbox) {
  long records = 0;
  for (std::size_t at = 0; (at = mailbox.find("From s", at)) != std::string::npos; ++at) {
    if (at == 0 || mailbox[at - 1] == '\n') ++records;
  }
  return records;
}

TEST(MessagesAhead, AStopOrAFullDiskAmidTheMessagesAheadEndsAsInASerialRun) {
  TempFolder temp;
  std::vector<std::string> rows;
  for (int n = 0; n < 400; ++n) {
    rows.push_back(temp.write("src/Box/" + std::to_string(n) + ".emlx", message(n)));
  }

  // Stopped by the front-end, or by a stop request (a signal), once 100 rows are told.
  for (bool bySignal : {false, true}) {
    SCOPED_TRACE(bySignal ? "stop request" : "front-end");
    StopRequest request;
    struct : RecordingObserver {
      bool stopRequested() override { return request == nullptr && finished >= 100; }
      void turnFinished(long row) override {
        RecordingObserver::turnFinished(row);
        if (++finished == 100 && request != nullptr) request->request(2);
      }
      long finished = 0;
      StopRequest* request = nullptr;
    } observer;
    observer.request = bySignal ? &request : nullptr;
    RunOptions options;
    options.stop = &request;
    const std::string out = bySignal ? "signal" : "frontend";
    const RunSummary summary =
        RunConversionInParallel(rows, temp.str() + "/" + out, observer, options, 3);
    EXPECT_TRUE(summary.stopped);
    EXPECT_EQ(summary.converted, observer.finished);
    EXPECT_EQ(summary.converted, 100);
    EXPECT_EQ(summary.converted + summary.notReached, static_cast<long>(rows.size()));
    EXPECT_EQ(recordsIn(mailboxOf(temp, out)), summary.converted);
  }

  // The disk fills up after about half of the mailbox: every later record fails whole, in
  // row order, as with one job.
  rlimit before{};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &before), 0);
  const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
  rlimit small = before;
  small.rlim_cur = 60'000;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  RecordingObserver serialObserver;
  RecordingObserver observer;
  const RunSummary serial =
      RunConversionInParallel(rows, temp.str() + "/full1", serialObserver, RunOptions{}, 1);
  const RunSummary parallel =
      RunConversionInParallel(rows, temp.str() + "/full3", observer, RunOptions{}, 3);
  ::setrlimit(RLIMIT_FSIZE, &before);
  std::signal(SIGXFSZ, oldHandler);
  EXPECT_GT(serial.failed, 100);
  EXPECT_EQ(parallel.failed, serial.failed);
  EXPECT_EQ(observer.turns(), serialObserver.turns());
  EXPECT_EQ(mailboxOf(temp, "full3"), mailboxOf(temp, "full1"));
  EXPECT_EQ(recordsIn(mailboxOf(temp, "full3")), parallel.converted);
}

}  // namespace
}  // namespace drovanta
