#include "mbox/read_back.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <csignal>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "run/conversion_run.h"
#include "run/parallel_run.h"
#include "support/recording_observer.h"
#include "support/temp_folder.h"

namespace drovanta {
namespace {

using testing::readFile;
using testing::RecordingObserver;
using testing::TempFolder;

std::string emlx(const std::string& subject) {
  const std::string message = "From: Ann <ann@example.com>\nSubject: " + subject +
                              "\nDate: Fri, 01 Mar 2024 17:05:09 +0000\n\nBody of " + subject +
                              "\n";
  return std::to_string(message.size()) + "\n" + message;
}

void overwrite(const std::string& path, const std::function<void(std::string&)>& change) {
  std::string bytes = readFile(path);
  change(bytes);
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

// Damage done to the mailbox after its last record was written and before the run reads it
// back (while the writer still holds it open), as a failing disk or another program might.
struct Damage {
  const char* what;
  std::function<void(std::string&)> change;
  bool differs;
  long records;
};

TEST(ReadBackTest, ARecordThatDiffersFromWhatWasWrittenFailsItsMailbox) {
  const std::string earlier =
      "From x@example.org Mon Jan 05 09:07:03 2026\nSubject: old\n\nold\n\n";
  const std::vector<Damage> damages = {
      {"none", [](std::string&) {}, false, 4},
      {"one byte of the second record", [](std::string& b) { b[b.find("Body of two")] = 'b'; },
       true, 4},
      {"the end cut off", [](std::string& b) { b.resize(b.size() - 3); }, true, 4},
      {"a line inserted", [](std::string& b) { b.insert(b.find("Body of two"), "From y\n\n"); },
       true, 5},
      {"the earlier record changed", [](std::string& b) { b[b.find("old\n\n")] = 'O'; }, false, 4},
      {"another record after ours",
       [](std::string& b) { b += "From z@example.org Mon Jan 05 09:07:03 2026\n\nz\n\n"; }, false,
       5},
  };
  for (const Damage& damage : damages) {
    SCOPED_TRACE(damage.what);
    TempFolder temp;
    VectorRowSource rows(
        {temp.write("Box/1.emlx", emlx("one")), temp.write("Box/2.emlx", emlx("two")),
         temp.write("Box/3.emlx", emlx("three")), temp.write("Other/1.emlx", emlx("four"))});
    const std::string out = temp.str() + "/Out";
    const std::string box = out + temp.str() + "/Box/Box.mbox";
    temp.write("Out" + temp.str() + "/Box/Box.mbox", earlier);
    class Damaging : public RecordingObserver {
     public:
      Damaging(std::string box, const Damage& damage) : box_(std::move(box)), damage_(damage) {}
      void turnFinished(long row) override {
        RecordingObserver::turnFinished(row);
        if (row == 2) overwrite(box_, damage_.change);
      }

     private:
      std::string box_;
      const Damage& damage_;
    } observer(box, damage);
    RunOptions options;
    options.readBack = true;
    const RunSummary summary = RunConversion(rows, out, observer, options);
    EXPECT_TRUE(summary.readBack.done);
    EXPECT_EQ(summary.converted, 4);
    EXPECT_EQ(summary.readBack.mailboxes, 2);
    EXPECT_EQ(summary.readBack.records, damage.records + 1);
    ASSERT_EQ(summary.readBack.differing.size(), damage.differs ? 1u : 0u);
    EXPECT_EQ(summary.succeeded(), !damage.differs);
    if (damage.differs) {
      EXPECT_EQ(summary.readBack.differing[0].path, box);
      EXPECT_EQ(summary.readBack.differing[0].code, FailureCode::ReadBackDiffers);
    }
  }
}

// A stop request during the last record or after it still ends the run as stopped; the first
// lets the reading back go on, a second ends it at once.
TEST(ReadBackTest, AStopAtTheEndIsToldAndASecondOneEndsTheReadingBack) {
  struct Case {
    const char* what;
    int requests;
    bool duringRecord;  // else once the last record is whole
    long converted;
    bool cutShort;
  };
  for (const Case& c : {Case{"one request during the last record", 1, true, 4, false},
                        Case{"two requests after the last record", 2, false, 4, true},
                        Case{"two requests during the last record", 2, true, 3, true}}) {
    SCOPED_TRACE(c.what);
    TempFolder temp;
    VectorRowSource rows(
        {temp.write("Box/1.emlx", emlx("one")), temp.write("Box/2.emlx", emlx("two")),
         temp.write("Box/3.emlx", emlx("three")), temp.write("Other/1.emlx", emlx("four"))});
    StopRequest stop;
    class Stopping : public RecordingObserver {
     public:
      Stopping(StopRequest& stop, const Case& c) : stop_(stop), case_(c) {}
      void lineRead(std::uint64_t text, std::uint64_t file) override {
        RecordingObserver::lineRead(text, file);
        if (case_.duringRecord && !asked_ && started_ == 3) ask();
      }
      void turnStarted(long row) override {
        RecordingObserver::turnStarted(row);
        started_ = row;
      }
      void turnFinished(long row) override {
        RecordingObserver::turnFinished(row);
        if (!case_.duringRecord && row == 3) ask();
      }

     private:
      void ask() {
        asked_ = true;
        for (int i = 0; i < case_.requests; ++i) stop_.request(SIGINT);
      }
      StopRequest& stop_;
      const Case& case_;
      long started_ = -1;
      bool asked_ = false;
    } observer(stop, c);
    RunOptions options;
    options.readBack = true;
    options.stop = &stop;
    const RunSummary summary = RunConversion(rows, temp.str() + "/Out", observer, options);
    EXPECT_TRUE(summary.stopped);
    EXPECT_EQ(summary.converted, c.converted);
    EXPECT_EQ(summary.readBack.cutShort, c.cutShort);
    EXPECT_EQ(summary.readBack.mailboxes, c.cutShort ? 0 : 2);
  }
}

// The parallel run reads each group's mailboxes back on its worker and adds the findings up.
TEST(ReadBackTest, TheParallelRunAddsUpWhatEachWorkerReadBack) {
  TempFolder temp;
  std::vector<std::string> rows;
  for (const char* path : {"A/1.emlx", "A/2.emlx", "B/1.emlx", "C/1.emlx"}) {
    rows.push_back(temp.write(path, emlx(path)));
  }
  RecordingObserver observer;
  RunOptions options;
  options.readBack = true;
  const RunSummary summary =
      RunConversionInParallel(rows, temp.str() + "/Out", observer, options, 2);
  EXPECT_EQ(summary.readBack.mailboxes, 3);
  EXPECT_EQ(summary.readBack.records, 4);
  EXPECT_TRUE(summary.readBack.done && summary.readBack.differing.empty());
}

}  // namespace
}  // namespace drovanta
