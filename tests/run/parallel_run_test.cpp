#include "run/parallel_run.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "support/emlx_bytes.h"
#include "support/recording_observer.h"
#include "support/temp_folder.h"

namespace drovanta {
namespace {

namespace fs = std::filesystem;
using testing::readFile;
using testing::RecordingObserver;
using testing::TempFolder;

std::string emlx(int number, int lines) {
  std::string message = "From: Sender " + std::to_string(number) + " <s" + std::to_string(number) +
                        "@example.org>\r\nSubject: message " + std::to_string(number) +
                        "\r\nDate: Fri, 01 Mar 2024 17:05:09 +0000\r\n\r\n";
  for (int i = 0; i < lines; ++i) message += "From line " + std::to_string(i) + "\r\n";
  return testing::EmlxBytes(message);
}

// The reports a front-end sees, with only the last of each turn's read lengths: all that a
// parallel run passes on.
std::vector<std::string> toldToFrontEnd(const RecordingObserver& observer) {
  std::vector<std::string> told;
  for (const std::string& call : observer.reports()) {
    if (call.starts_with("line ") && !told.empty() && told.back().starts_with("line ")) {
      told.back() = call;
    } else {
      told.push_back(call);
    }
  }
  return told;
}

// Every file below `root`, by relative path.
std::vector<std::pair<std::string, std::string>> filesBelow(const fs::path& root) {
  std::vector<std::pair<std::string, std::string>> files;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    if (entry.is_regular_file()) {
      files.emplace_back(fs::relative(entry.path(), root).string(), readFile(entry.path()));
    }
  }
  std::sort(files.begin(), files.end());
  return files;
}

TEST(ParallelRun, TellsAndWritesWhatTheSerialRunDoes) {
  TempFolder temp;
  // Rows of four folders interleaved, so that each mailbox's rows are far apart in the list,
  // with a missing file, an empty row, a sidecar, a partial message missing its attachments
  // and a folder whose mailbox cannot be made.
  std::vector<std::string> rows;
  for (int n = 0; n < 40; ++n) {
    rows.push_back(temp.write("src/F" + std::to_string(n % 4) + "/" + std::to_string(n) + ".emlx",
                              emlx(n, n % 7)));
  }
  rows.insert(rows.begin() + 5, temp.str() + "/src/F1/missing.emlx");
  rows.insert(rows.begin() + 9, "   ");
  rows.insert(rows.begin() + 12,
              temp.write("src/F2/._3.emlx", std::string("\0\x05\x16\x07\0\x02\0\0", 8)));
  const fs::path stub = fs::path(DROVANTA_CORPUS_DIR) / "partial-emlx-converter" / "test" /
                        "__testdata" / "input" / "Messages" / "114893.partial.emlx";
  rows.insert(rows.begin() + 20, temp.write("src/F3/114893.partial.emlx", readFile(stub)));
  rows.push_back(temp.write("src/Blocked/1.emlx", emlx(99, 2)));
  for (const char* out : {"serial", "parallel"}) {
    temp.write(std::string(out) + "/" + fs::relative(temp.path(), "/").string() + "/src/Blocked",
               "a file where the folder should be");
  }

  RecordingObserver serialObserver;
  RecordingObserver parallelObserver;
  RunOptions options;
  options.record.writeFlags = true;
  const RunSummary serial =
      RunConversionInParallel(rows, temp.str() + "/serial", serialObserver, options, 1);
  const RunSummary parallel =
      RunConversionInParallel(rows, temp.str() + "/parallel", parallelObserver, options, 3);

  EXPECT_EQ(toldToFrontEnd(parallelObserver), toldToFrontEnd(serialObserver));
  EXPECT_EQ(serialObserver.warnings.size(), 4u);
  EXPECT_EQ(parallel.converted, serial.converted);
  EXPECT_EQ(parallel.converted, 41);
  EXPECT_EQ(parallel.failed, 2);
  EXPECT_EQ(parallel.skipped, 1);
  EXPECT_EQ(parallel.warnings, 1);
  EXPECT_EQ(parallel.bytesRead, serial.bytesRead);
  EXPECT_EQ(parallel.bytesWritten, serial.bytesWritten);
  ASSERT_EQ(parallel.mailboxes.size(), serial.mailboxes.size());
  for (std::size_t i = 0; i < serial.mailboxes.size(); ++i) {
    EXPECT_EQ(fs::relative(parallel.mailboxes[i], temp.path() / "parallel"),
              fs::relative(serial.mailboxes[i], temp.path() / "serial"));
  }
  ASSERT_EQ(parallel.failures.size(), serial.failures.size());
  for (std::size_t i = 0; i < serial.failures.size(); ++i) {
    EXPECT_EQ(parallel.failures[i].path, serial.failures[i].path);
    EXPECT_EQ(parallel.failures[i].code, serial.failures[i].code);
  }
  EXPECT_EQ(filesBelow(temp.path() / "parallel"), filesBelow(temp.path() / "serial"));
}

TEST(ParallelRun, AStopLeavesWholeRecordsAndCountsEveryRowOnce) {
  TempFolder temp;
  std::vector<std::string> rows;
  for (int n = 0; n < 60; ++n) {
    rows.push_back(temp.write("src/F" + std::to_string(n % 3) + "/" + std::to_string(n) + ".emlx",
                              emlx(n, 200)));
  }
  rows.insert(rows.begin() + 30, "");  // an empty row after the stop is not reached either

  // Asks to stop once ten rows are told.
  class StoppingObserver : public RecordingObserver {
   public:
    bool stopRequested() override { return finished.size() >= 10; }
    void turnFinished(long row) override {
      RecordingObserver::turnFinished(row);
      finished.push_back(row);
    }
    std::vector<long> finished;
  } observer;
  const RunSummary summary =
      RunConversionInParallel(rows, temp.str() + "/out", observer, RunOptions{}, 3);

  EXPECT_TRUE(summary.stopped);
  EXPECT_GE(summary.converted, 10);
  EXPECT_EQ(summary.converted + summary.notReached, static_cast<long>(rows.size()));
  EXPECT_EQ(summary.converted, static_cast<long>(observer.finished.size()));
  // Each mailbox holds the records of exactly the rows told as converted into it.
  std::map<std::string, int> told;
  for (long row : observer.finished) {
    ++told[fs::path(rows[static_cast<std::size_t>(row)]).parent_path().filename().string()];
  }
  for (const std::string& mailbox : summary.mailboxes) {
    const std::string text = readFile(mailbox);
    std::size_t records = 0;
    for (std::size_t at = text.find("From s"); at != std::string::npos;
         at = text.find("\nFrom s", at + 1)) {
      ++records;
    }
    EXPECT_EQ(records, static_cast<std::size_t>(told[fs::path(mailbox).stem().string()]))
        << mailbox;
  }
}

}  // namespace
}  // namespace drovanta
