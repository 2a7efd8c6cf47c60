#include "mbox/read_back.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <functional>
#include <string>
#include <vector>

#include "run/conversion_run.h"
#include "run/disk_check_line.h"
#include "run/parallel_run.h"
#include "support/emlx_bytes.h"
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
  return testing::EmlxBytes(message);
}

const std::string kEarlier = "From x@example.org Mon Jan 05 09:07:03 2026\nSubject: old\n\nold\n\n";

// Three messages into Box/Box.mbox, which holds a record of an earlier run, and one into
// Other/Other.mbox.
struct Library {
  TempFolder temp;
  std::vector<std::string> rows = {
      temp.write("Box/1.emlx", emlx("one")), temp.write("Box/2.emlx", emlx("two")),
      temp.write("Box/3.emlx", emlx("three")), temp.write("Other/1.emlx", emlx("four"))};
  std::string out = temp.str() + "/Out";
  std::string box = out + temp.str() + "/Box/Box.mbox";
  Library() { temp.write("Out" + temp.str() + "/Box/Box.mbox", kEarlier); }
};

// Rewrites the open mailbox's bytes, as a failing disk or a program that ignores the lock might.
void change(int fd, const std::function<void(std::string&)>& how) {
  std::string bytes(static_cast<std::size_t>(::lseek(fd, 0, SEEK_END)), '\0');
  ASSERT_EQ(::pread(fd, bytes.data(), bytes.size(), 0), static_cast<ssize_t>(bytes.size()));
  how(bytes);
  ASSERT_EQ(::ftruncate(fd, 0), 0);
  ASSERT_EQ(::pwrite(fd, bytes.data(), bytes.size(), 0), static_cast<ssize_t>(bytes.size()));
}

// The path an open descriptor was opened at.
std::string PathOf(int fd) {
  char path[4096];
  const std::string link = "/proc/self/fd/" + std::to_string(fd);
  const ssize_t length = ::readlink(link.c_str(), path, sizeof path);
  return std::string(path, length > 0 ? static_cast<std::size_t>(length) : 0u);
}

// Damage done to Box.mbox between the last write and the check (just before its flush), and
// what the default check and the read back (--verify) make of it.
struct Damage {
  const char* what;
  std::function<void(std::string&)> change;
  const char* checked;   // how the default check tells it, "" for not at all
  const char* readBack;  // the same with OnDisk::ReadBack
};

TEST(DiskCheckTest, AMailboxNotAsTheRunLeftItFailsTheCheck) {
  const auto secondRecord = [](const std::string& b) { return b.find("From ", b.find("one")); };
  const std::vector<Damage> damages = {
      {"none", [](std::string&) {}, "", ""},
      {"one byte of the second record", [](std::string& b) { b[b.find("Body of two")] = 'b'; }, "",
       "1 of the 3 records this run wrote differs from what was written"},
      {"the end cut off", [](std::string& b) { b.resize(b.size() - 3); }, "bytes long, not the",
       "bytes long, not the"},
      {"the second record moved by a byte",
       [&](std::string& b) {
         const std::size_t at = secondRecord(b);
         b = b.substr(0, at) + '\n' + b.substr(at, b.size() - at - 1);
       },
       "2 of the 3 records this run wrote no longer start where they were put",
       "no longer start where they were put"},
      {"the earlier record changed", [](std::string& b) { b[b.find("old\n\n")] = 'O'; }, "", ""},
      {"another record after ours",
       [](std::string& b) { b += "From z@example.org Mon Jan 05 09:07:03 2026\n\nz\n\n"; },
       "bytes long, not the", "bytes long, not the"},
  };
  for (const Damage& damage : damages) {
    for (const OnDisk onDisk : {OnDisk::Checked, OnDisk::ReadBack}) {
      const bool readBack = onDisk == OnDisk::ReadBack;
      SCOPED_TRACE(std::string(damage.what) + (readBack ? ", read back" : ""));
      Library library;
      RecordingObserver observer;
      RunOptions options;
      options.onDisk = onDisk;
      int flushes = 0;
      options.flushCall = [&](int fd) {
        if (flushes++ == 0) change(fd, damage.change);  // Box.mbox comes first
        return ::fdatasync(fd);
      };
      VectorRowSource rows(library.rows);
      const RunSummary summary = RunConversion(rows, library.out, observer, options);
      const std::string expected = readBack ? damage.readBack : damage.checked;
      EXPECT_EQ(flushes, 2);
      EXPECT_EQ(summary.converted, 4);
      EXPECT_EQ(summary.checked.mailboxes, 2);
      ASSERT_EQ(summary.checked.differing.size(), expected.empty() ? 0u : 1u);
      EXPECT_EQ(summary.succeeded(), expected.empty());
      if (expected.empty()) {
        EXPECT_EQ(summary.checked.records, 4);
        EXPECT_EQ(summary.checked.readBack, readBack ? 4 : 0);
        EXPECT_EQ(DiskCheckLine(summary),
                  readBack ? "Checked: 4 records in 2 mailboxes, on disk and read back whole"
                           : "Checked: 4 records in 2 mailboxes, in place and on disk");
        continue;
      }
      const Failure& differing = summary.checked.differing[0];
      EXPECT_EQ(differing.path, library.box);
      EXPECT_EQ(differing.code, FailureCode::ReadBackDiffers);
      EXPECT_NE(differing.reason.find(expected), std::string::npos) << differing.reason;
      EXPECT_EQ(DiskCheckLine(summary).substr(DiskCheckLine(summary).find(',')), ", 1 differs");
    }
  }
}

// A mailbox that cannot be flushed loses what the run added to it, and its messages fail; the
// run goes on with the next mailbox, in the serial and the parallel run alike.
TEST(DiskCheckTest, AFailedFlushRemovesTheMailboxsNewRecordsAndFailsTheirMessages) {
  for (const unsigned jobs : {1u, 2u}) {
    SCOPED_TRACE(jobs);
    Library library;
    RecordingObserver observer;
    RunOptions options;
    options.flushCall = [&](int fd) {
      if (PathOf(fd).ends_with("Box.mbox")) {
        errno = EIO;
        return -1;
      }
      return ::fdatasync(fd);
    };
    const RunSummary summary =
        RunConversionInParallel(library.rows, library.out, observer, options, jobs);
    EXPECT_EQ(summary.converted, 1);
    EXPECT_EQ(summary.failed, 3);
    ASSERT_EQ(summary.failures.size(), 1u);
    EXPECT_EQ(describe(summary.failures[0]),
              library.box +
                  ": not flushed to the disk: Input/output error; the last 3 records written to "
                  "it were removed");
    EXPECT_EQ(readFile(library.box), kEarlier);
    EXPECT_EQ(DiskCheckLine(summary), "Checked: 1 record in 1 mailbox, in place and on disk");
  }
}

// A mailbox whose flush failed is opened again for a later message only once what the failed
// records added is cut back out: the later record follows the earlier run's, and stands.
TEST(DiskCheckTest, AMailboxComeBackToAfterAFailedFlushKeepsTheLaterRecord) {
  Library library;
  RecordingObserver observer;
  RunOptions options;
  int boxFlushes = 0;
  options.flushCall = [&](int fd) {
    if (PathOf(fd).ends_with("Box.mbox") && boxFlushes++ == 0) {
      errno = EIO;
      return -1;
    }
    return ::fdatasync(fd);
  };
  VectorRowSource rows({library.rows[0], library.rows[1], library.rows[3], library.rows[2]});
  const RunSummary summary = RunConversion(rows, library.out, observer, options);
  EXPECT_EQ(summary.converted, 2);
  EXPECT_EQ(summary.failed, 2);
  const std::string box = readFile(library.box);
  EXPECT_EQ(box.find(kEarlier), 0u);
  EXPECT_EQ(box.find("Body of one"), std::string::npos);
  EXPECT_NE(box.find("Body of three"), std::string::npos);
  EXPECT_EQ(DiskCheckLine(summary), "Checked: 2 records in 2 mailboxes, in place and on disk");
}

// A run that moves from mailbox to mailbox faster than they are flushed keeps few of them open
// meanwhile: a low limit on open files is enough.
TEST(DiskCheckTest, ManyMailboxesWaitingForTheirFlushHoldFewDescriptors) {
  TempFolder temp;
  std::vector<std::string> rows;
  for (int i = 0; i < 150; ++i) {
    const std::string name = std::to_string(i);
    rows.push_back(temp.write(name + "/1.emlx", emlx(name)));
  }
  rlimit saved{};
  ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &saved), 0);
  rlimit low = saved;
  low.rlim_cur = 40;
  ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &low), 0);
  RecordingObserver observer;
  VectorRowSource source(rows);
  const RunSummary summary = RunConversion(source, temp.str() + "/Out", observer, RunOptions{});
  ::setrlimit(RLIMIT_NOFILE, &saved);
  EXPECT_EQ(summary.converted, 150);
  EXPECT_TRUE(summary.failures.empty()) << describe(summary.failures.at(0));
  EXPECT_EQ(DiskCheckLine(summary), "Checked: 150 records in 150 mailboxes, in place and on disk");
}

// A stop that comes while a mailbox is flushed and checked (here the last one, at the end of the
// run) ends its check, but not its flush; what was checked before stands.
TEST(DiskCheckTest, AStopEndsTheCheckButNotTheFlush) {
  Library library;
  RecordingObserver observer;
  StopRequest stop;
  RunOptions options;
  options.onDisk = OnDisk::ReadBack;
  options.stop = &stop;
  int flushes = 0;
  options.flushCall = [&](int fd) {
    if (++flushes == 2) {
      stop.request(2);
      stop.request(2);  // a second request: even the check of a stopped run ends
    }
    return ::fdatasync(fd);
  };
  VectorRowSource rows(library.rows);
  const RunSummary summary = RunConversion(rows, library.out, observer, options);
  EXPECT_TRUE(summary.stopped);
  EXPECT_EQ(summary.converted, 4);
  EXPECT_TRUE(summary.checked.stopped);
  EXPECT_EQ(summary.checked.records, 3);
  EXPECT_EQ(DiskCheckLine(summary),
            "Checked until the stop: 3 records in 2 mailboxes, in place and on disk; 3 read back "
            "whole");
  EXPECT_EQ(readFile(library.box).find(kEarlier), 0u);
}

// --verify reads a mailbox of several writeback steps back part by part while it is still being
// written, and a mailbox the run comes back to is opened again once its check is done.
TEST(DiskCheckTest, ReadBackCoversALargeMailboxAndOneComeBackTo) {
  TempFolder temp;
  const std::string body(std::size_t{3} << 20, 'x');
  std::vector<std::string> rows;
  for (const std::string name : {"Big/1", "Big/2", "Big/3", "Big/4", "Small/1", "Big/5"}) {
    rows.push_back(
        temp.write(name + ".emlx", testing::EmlxBytes("Subject: " + name + "\n\n" + body + "\n")));
  }
  RecordingObserver observer;
  RunOptions options;
  options.onDisk = OnDisk::ReadBack;
  VectorRowSource source(rows);
  const RunSummary summary = RunConversion(source, temp.str() + "/Out", observer, options);
  EXPECT_EQ(summary.converted, 6);
  EXPECT_TRUE(summary.checked.differing.empty());
  EXPECT_EQ(DiskCheckLine(summary),
            "Checked: 6 records in 2 mailboxes, on disk and read back whole");
  const std::string big = readFile(temp.str() + "/Out" + temp.str() + "/Big/Big.mbox");
  std::size_t records = 0;
  for (std::size_t at = big.find("From "); at != std::string::npos;
       at = big.find("\nFrom ", at + 1)) {
    ++records;
  }
  EXPECT_EQ(records, 5u);
}

}  // namespace
}  // namespace drovanta
