#include "mbox/mailbox_record.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "mbox/message_text.h"
#include "mbox/record_writer.h"
#include "support/message_reading.h"
#include "support/temp_folder.h"

namespace drovanta {
namespace {

namespace fs = std::filesystem;
using testing::readFile;
using testing::TempFolder;

constexpr const char* kSeparator = "From sender@example.com Mon Jan 05 09:07:03 2026";

const fs::path kRecordData = fs::path(DROVANTA_TEST_DATA_DIR) / "record";

RecordOptions optionsForMode(const std::string& mode) {
  RecordOptions options;
  options.writeFlags = mode.starts_with("flags-");
  const std::string lineEnds = options.writeFlags ? mode.substr(6) : mode;
  options.lineEnds = lineEnds == "lf"     ? LineEnds::Lf
                     : lineEnds == "crlf" ? LineEnds::CrLf
                                          : LineEnds::Auto;
  return options;
}

// Reads the message and appends its record as the run does.
MaybeFailure appendMessage(const std::string& messagePath, const RecordOptions& options,
                           const std::string& mailboxPath) {
  auto text = ReadMessageText(messagePath, {}, options);
  if (!text) return text.failure();
  return AppendRecord(mailboxPath, kSeparator, text->text, options);
}

std::string recordFor(const std::string& messagePath, const RecordOptions& options,
                      const std::string& mailboxPath) {
  if (auto failure = appendMessage(messagePath, options, mailboxPath)) return describe(*failure);
  return readFile(mailboxPath);
}

// Each output/<input name>.<mode>.mbox holds the exact record of input/<input name>, where mode
// is auto, crlf, lf, flags-auto, flags-crlf or flags-lf. In auto mode lf-only.eml (A LF B LF)
// keeps its bytes and cr-only.eml (A CR B CR) becomes A CR LF B CR LF; neither has an empty
// line after its header, so both get one before the record's closing empty line, which (like
// the separator line) ends with LF in every mode but crlf.
TEST(MailboxRecordGoldenTest, EveryInputGivesItsExpectedRecordByteForByte) {
  TempFolder temp;
  int compared = 0;
  for (const auto& entry : fs::directory_iterator(kRecordData / "output")) {
    const std::string name = entry.path().filename().string();
    const std::string stem = name.substr(0, name.size() - std::string(".mbox").size());
    const std::size_t modeDot = stem.rfind('.');
    const std::string input = stem.substr(0, modeDot);
    const std::string mode = stem.substr(modeDot + 1);
    const std::string mailbox = (temp.path() / name).string();
    EXPECT_EQ(recordFor((kRecordData / "input" / input).string(), optionsForMode(mode), mailbox),
              readFile(entry.path()))
        << name;
    ++compared;
  }
  EXPECT_EQ(compared, 33);
}

TEST(MailboxRecordTest, AppendKeepsEveryEarlierByte) {
  TempFolder temp;
  const std::string earlier = "From a@b Thu Jan 01 00:00:00 1970\r\nX: 1\r\n\r\nold\r\n\r\n";
  const std::string mailbox = temp.write("Inbox.mbox", earlier);
  int opened = 0;
  AppendHooks hooks;
  hooks.opened = [&] { ++opened; };
  ASSERT_FALSE(AppendRecord(mailbox, kSeparator, "Y: 2\r\n\r\nnew\r\n", {}, hooks));
  EXPECT_EQ(opened, 1);
  EXPECT_EQ(readFile(mailbox), earlier + kSeparator + "\nY: 2\r\n\r\nnew\r\n\n");
}

// A mailbox path that is a link, to a missing file (which once made the append loop for ever)
// or to an existing one, is refused: nothing is created or written through it.
TEST(MailboxRecordTest, LinkAtTheMailboxPathIsRefused) {
  TempFolder temp;
  const std::string existing = temp.write("existing.mbox", "theirs\n");
  for (const std::string& target : {temp.str() + "/target.mbox", existing}) {
    const std::string link = temp.str() + "/Inbox.mbox";
    fs::create_symlink(target, link);
    const MaybeFailure failure = AppendRecord(link, kSeparator, "X: 1\r\n");
    ASSERT_TRUE(failure);
    EXPECT_EQ(describe(*failure), link + ": is a symbolic link, not followed");
    EXPECT_FALSE(fs::exists(temp.str() + "/target.mbox"));
    EXPECT_EQ(readFile(existing), "theirs\n");
    fs::remove(link);
  }
}

// A write call that passes at most `perCall` bytes to the real writev, and fails with ENOSPC
// once `budget` bytes have been written.
RecordWriteCall limitedWriter(std::size_t perCall, std::size_t budget, int* calls = nullptr) {
  auto written = std::make_shared<std::size_t>(0);
  return [=](int fd, const iovec* buffers, int count) -> ssize_t {
    if (calls != nullptr) ++*calls;
    if (*written >= budget) {
      errno = ENOSPC;
      return -1;
    }
    std::size_t allowed = std::min(perCall, budget - *written);
    std::vector<iovec> cut;
    for (int i = 0; i < count && allowed > 0; ++i) {
      const std::size_t take = std::min(allowed, buffers[i].iov_len);
      cut.push_back({buffers[i].iov_base, take});
      allowed -= take;
    }
    const ssize_t result = ::writev(fd, cut.data(), static_cast<int>(cut.size()));
    if (result > 0) *written += static_cast<std::size_t>(result);
    return result;
  };
}

TEST(MailboxRecordTest, ShortWritesStillGiveTheWholeRecord) {
  TempFolder temp;
  const std::string mailbox = temp.str() + "/Short.mbox";
  const std::string text = "Subject: short\r\n\r\nwritten in pieces\r\n";
  // The text comes in two pieces, as when it borrows the bytes of the message file.
  const std::string_view head = std::string_view(text).substr(0, text.size() - 2);
  const std::string_view tail = std::string_view(text).substr(text.size() - 2);
  for (std::size_t perCall : {1U, 3U, 7U}) {
    fs::remove(mailbox);
    int calls = 0;
    ASSERT_FALSE(AppendRecordWith(mailbox, kSeparator, head, tail, {}, {},
                                  limitedWriter(perCall, SIZE_MAX, &calls)));
    const std::string expected = std::string(kSeparator) + "\n" + text + "\n";
    EXPECT_EQ(readFile(mailbox), expected) << perCall;
    EXPECT_EQ(static_cast<std::size_t>(calls), (expected.size() + perCall - 1) / perCall);
  }
}

TEST(MailboxRecordTest, FailedAppendCutsTheMailboxBackToItsEarlierRecords) {
  TempFolder temp;
  const std::string earlier = std::string(kSeparator) + "\r\nX: 1\r\n\r\nold\r\n\r\n";
  const std::string text = "Subject: lost\r\n\r\nthis record never fits\r\n";
  const std::size_t recordSize = std::string(kSeparator).size() + 1 + text.size() + 1;
  // Fail at the first byte, inside the separator, inside the text and before the last byte.
  for (std::size_t budget : {std::size_t{0}, std::size_t{10}, recordSize - 20, recordSize - 1}) {
    const std::string mailbox = temp.write("Full.mbox", earlier);
    const auto failure =
        AppendRecordWith(mailbox, kSeparator, std::string_view(text).substr(0, 9),
                         std::string_view(text).substr(9), {}, {}, limitedWriter(5, budget));
    ASSERT_TRUE(failure) << budget;
    EXPECT_EQ(failure->code, FailureCode::MailboxUnwritable);
    EXPECT_EQ(failure->path, mailbox);
    EXPECT_EQ(failure->reason, std::strerror(ENOSPC));
    EXPECT_EQ(readFile(mailbox), earlier) << budget;
  }
}

TEST(MailboxRecordTest, FailedFirstRecordLeavesNoMailboxBehind) {
  TempFolder temp;
  const std::string mailbox = temp.str() + "/Never.mbox";
  const auto failure = AppendRecordWith(mailbox, kSeparator, "X: 1\r\n\r\nbody\r\n", "", {}, {},
                                        limitedWriter(4, 12));
  ASSERT_TRUE(failure);
  EXPECT_FALSE(fs::exists(mailbox));
}

TEST(MailboxRecordTest, UnopenableMailboxIsAFailureNamingItAndNothingIsWritten) {
  TempFolder temp;
  const std::string folder = temp.str() + "/Inbox.mbox";
  fs::create_directory(folder);
  const std::string plainFile = temp.write("plain", "not a folder");
  const std::string underFile = plainFile + "/Inbox.mbox";
  for (const auto& mailbox : {folder, underFile}) {
    bool opened = false;
    AppendHooks hooks;
    hooks.opened = [&] { opened = true; };
    const auto failure = AppendRecord(mailbox, kSeparator, "X: 1\r\n", {}, hooks);
    ASSERT_TRUE(failure) << mailbox;
    EXPECT_EQ(failure->code, FailureCode::MailboxUnwritable);
    EXPECT_EQ(failure->path, mailbox);
    EXPECT_FALSE(failure->reason.empty());
    EXPECT_FALSE(opened);
  }
  EXPECT_TRUE(fs::is_empty(folder));
  EXPECT_EQ(readFile(plainFile), "not a folder");
}

// The record of a message text in the default mode: separator line and closing empty line end
// with LF whatever the text's line ends.
std::string recordOf(std::string_view text) {
  return std::string(kSeparator) + "\n" + std::string(text) + "\n";
}

// A mailbox left without a closing empty line (a record torn by a killed run, another
// program's file) gets line ends before the next record so that it never joins the last line,
// and a separator line cut short gets its rest;
// a mailbox that ends with a line end and an empty line, in either convention, is left alone.
TEST(MailboxRecordTornTailTest, TheRecordStartsAfterALineEndAndAnEmptyLine) {
  TempFolder temp;
  const std::string record = recordOf("Y: 2\r\n\r\nnew\r\n");
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"", ""},
      {"From a\n\nbody\n\n", ""},
      {"From a\r\n\r\nbody\r\n\r\n", ""},
      {"From a\n\nbody\n\r\n", ""},
      {"From a\r\n\r\nhalf a li", "\n\n"},
      {"From a\r\n\r\nwhole line\r\n", "\n"},
      {"From a\n\nwhole line\n", "\n"},
      // A separator line cut short is completed: it opens an empty record.
      {"From x", " Mon Jan 01 00:00:00 1970\n\n\n"},
      {"From x Fri Mar 01 17:05:09 20", "00\n\n\n"},
      {"From x Fri Mar 01 17:05:09 2024", "\n\n\n"},  // whole but for its line end
      {"From x Fri Feb 3", "\n\n"},                   // no such day: no separator of ours
      {"From x Fri Mar  1 17:05:09 2024", "\n\n"},    // another program's form
      {"From a\n\nbody\n\nFro", "m MAILER-DAEMON Mon Jan 01 00:00:00 1970\n\n\n"},
      {"From a\n\nbody\nFrom b Tue", "\n\n"},  // not after an empty line: no separator
      {"From \r", "\n\n"},
  };
  for (const auto& [earlier, padding] : cases) {
    const std::string mailbox = temp.write("Torn.mbox", earlier);
    std::size_t told = 0;
    AppendHooks hooks;
    hooks.tailMended = [&](std::size_t added) { told = added; };
    ASSERT_FALSE(AppendRecord(mailbox, kSeparator, "Y: 2\r\n\r\nnew\r\n", {}, hooks));
    EXPECT_EQ(readFile(mailbox), earlier + padding + record) << earlier;
    EXPECT_EQ(told, padding.size()) << earlier;
  }
  // The padding ends its lines as the record's own lines do: CR LF only in the CR LF mode.
  const std::string mailbox = temp.write("TornCrLf.mbox", "From a\r\n\r\nhalf");
  RecordOptions crlf;
  crlf.lineEnds = LineEnds::CrLf;
  ASSERT_FALSE(AppendRecord(mailbox, kSeparator, "Y: 2\r\n\r\nnew\r\n", crlf));
  EXPECT_EQ(readFile(mailbox),
            "From a\r\n\r\nhalf\r\n\r\n" + std::string(kSeparator) + "\r\nY: 2\r\n\r\nnew\r\n\r\n");
}

// A stop request while the record is written: the first lets it be completed, the second
// abandons it, and it is cut back out.
TEST(MailboxRecordStopTest, ASecondRequestAbandonsTheRecordAndCutsItBack) {
  TempFolder temp;
  const std::string earlier = recordOf("X: 1\r\n\r\nold\r\n");
  const std::string text = "Subject: big\r\n\r\n" + std::string(100, 'x') + "\r\n";
  for (int requests : {1, 2}) {
    const std::string mailbox = temp.write("Stopped.mbox", earlier);
    StopRequest stop;
    AppendHooks hooks;
    hooks.stop = &stop;
    RecordWriteCall pieces = limitedWriter(40, SIZE_MAX);
    int calls = 0;
    const auto failure = AppendRecordWith(mailbox, kSeparator, text, "", {}, hooks,
                                          [&](int fd, const iovec* buffers, int count) {
                                            // The signals arrive while the first piece is being
                                            // written.
                                            if (++calls == 1) {
                                              for (int i = 0; i < requests; ++i)
                                                stop.request(SIGTERM);
                                            }
                                            return pieces(fd, buffers, count);
                                          });
    EXPECT_EQ(stop.reason(), SIGTERM);
    if (requests == 1) {
      EXPECT_FALSE(failure);
      EXPECT_EQ(readFile(mailbox), earlier + recordOf(text));
    } else {
      ASSERT_TRUE(failure);
      EXPECT_EQ(failure->code, FailureCode::Interrupted);
      EXPECT_EQ(failure->reason, "interrupted; the partial record was removed");
      EXPECT_EQ(calls, 1);
      EXPECT_EQ(readFile(mailbox), earlier);
    }
  }
}

// Another process holding an fcntl write lock on the mailbox, as mail readers and delivery
// agents take it. It tells the test once it holds the lock, keeps it for `hold`, appends
// `theirs` and lets go.
class LockHolder {
 public:
  LockHolder(const std::string& mailbox, std::chrono::milliseconds hold,
             const std::string& theirs) {
    int ready[2];
    EXPECT_EQ(::pipe(ready), 0);
    pid_ = ::fork();
    if (pid_ == 0) {
      const int fd = ::open(mailbox.c_str(), O_WRONLY | O_APPEND);
      struct flock lock {};
      lock.l_type = F_WRLCK;
      lock.l_whence = SEEK_SET;
      if (fd < 0 || ::fcntl(fd, F_SETLKW, &lock) != 0) ::_exit(1);
      if (::write(ready[1], "L", 1) != 1) ::_exit(1);
      std::this_thread::sleep_for(hold);
      if (::write(fd, theirs.data(), theirs.size()) != static_cast<ssize_t>(theirs.size())) {
        ::_exit(1);
      }
      ::_exit(0);  // closing the file lets go of the lock
    }
    char byte = 0;
    EXPECT_EQ(::read(ready[0], &byte, 1), 1);
    ::close(ready[0]);
    ::close(ready[1]);
  }
  ~LockHolder() { finish(); }
  int finish() {
    int status = -1;
    if (pid_ > 0) ::waitpid(pid_, &status, 0);
    pid_ = -1;
    return status;
  }

 private:
  pid_t pid_ = -1;
};

// Two writers on one filling disk: the rollback of one must never cut off the records of the
// other. The append waits for the lock, says so after a while, and a failed record is cut back
// to the length found once the lock was taken, keeping what the other writer added meanwhile.
TEST(MailboxRecordLockTest, AFailedAppendKeepsTheRecordAnotherWriterAddedWhileItWaited) {
  TempFolder temp;
  const std::string earlier = recordOf("X: 1\r\n\r\nold\r\n");
  const std::string theirs = recordOf("X: 2\r\n\r\ntheirs\r\n");
  const std::string mailbox = temp.write("Shared.mbox", earlier);
  LockHolder holder(mailbox, std::chrono::milliseconds(2300), theirs);
  int waits = 0;
  AppendHooks hooks;
  hooks.waitingForLock = [&] { ++waits; };
  const auto failure = AppendRecordWith(mailbox, kSeparator, "Y: 3\r\n\r\nours\r\n", "", {}, hooks,
                                        limitedWriter(5, 12));
  EXPECT_EQ(holder.finish(), 0);
  ASSERT_TRUE(failure);
  EXPECT_EQ(failure->code, FailureCode::MailboxUnwritable);
  EXPECT_EQ(waits, 1);
  EXPECT_EQ(readFile(mailbox), earlier + theirs);
}

TEST(MailboxRecordLockTest, AStopRequestEndsTheWaitWithNothingWritten) {
  TempFolder temp;
  const std::string earlier = recordOf("X: 1\r\n\r\nold\r\n");
  const std::string mailbox = temp.write("Busy.mbox", earlier);
  LockHolder holder(mailbox, std::chrono::milliseconds(300), "");
  StopRequest stop;
  stop.request(SIGINT);
  AppendHooks hooks;
  hooks.stop = &stop;
  const auto failure = AppendRecord(mailbox, kSeparator, "Y: 2\r\n", {}, hooks);
  ASSERT_TRUE(failure);
  EXPECT_EQ(failure->code, FailureCode::Interrupted);
  EXPECT_EQ(holder.finish(), 0);
  EXPECT_EQ(readFile(mailbox), earlier);
}

// A writer whose first record into a mailbox it created fails removes the file; a writer that
// waited for its lock meanwhile opens the path again instead of writing into the removed file.
TEST(MailboxRecordLockTest, AWriterWaitingOnARemovedMailboxWritesIntoTheNewOne) {
  TempFolder temp;
  const std::string mailbox = temp.str() + "/New.mbox";
  int ready[2];
  ASSERT_EQ(::pipe(ready), 0);
  const pid_t child = ::fork();
  if (child == 0) {
    const auto failure =
        AppendRecordWith(mailbox, kSeparator, "X: 1\r\n\r\nfails\r\n", "", {}, {},
                         [&](int fd, const iovec* buffers, int count) -> ssize_t {
                           // Part of the record is in, the lock held, when the test goes on.
                           if (::writev(fd, buffers, count) <= 0) ::_exit(2);
                           if (::write(ready[1], "L", 1) != 1) ::_exit(2);
                           std::this_thread::sleep_for(std::chrono::milliseconds(300));
                           errno = ENOSPC;
                           return -1;
                         });
    ::_exit(failure && failure->code == FailureCode::MailboxUnwritable ? 0 : 1);
  }
  char byte = 0;
  ASSERT_EQ(::read(ready[0], &byte, 1), 1);
  ASSERT_TRUE(fs::exists(mailbox));
  ASSERT_FALSE(AppendRecord(mailbox, kSeparator, "Y: 2\r\n\r\nkept\r\n"));
  int status = -1;
  ::waitpid(child, &status, 0);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(readFile(mailbox), recordOf("Y: 2\r\n\r\nkept\r\n"));
  struct stat info {};
  ASSERT_EQ(::stat(mailbox.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600U);
}

// How many of this process's open files are `path`.
int openCount(const std::string& path) {
  int count = 0;
  for (const auto& entry : fs::directory_iterator("/proc/self/fd")) {
    std::error_code error;
    if (fs::read_symlink(entry.path(), error) == fs::path(path)) ++count;
  }
  return count;
}

// Consecutive records of one mailbox share its open file, which is closed when another
// mailbox's record comes and at close(). A record that fails half-way is cut back out, and the
// records around it stay whole.
TEST(MailboxWriterTest, ConsecutiveRecordsShareTheOpenMailboxAndAFailedOneIsCutBackOut) {
  TempFolder temp;
  const std::string first = temp.str() + "/First.mbox";
  const std::string second = temp.str() + "/Second.mbox";
  const auto record = [](const std::string& text) {
    return [text](RecordOutput& out) { return out.write("From " + text); };
  };
  MailboxWriter writer;
  int failAt = -1;
  int call = 0;
  writer.setWriteCall([&](int fd, const iovec* buffers, int count) -> ssize_t {
    if (call++ == failAt) {
      // Half of the record reaches the file, then the disk is full.
      const iovec half{buffers[0].iov_base, buffers[0].iov_len / 2};
      ::writev(fd, &half, 1);
      errno = ENOSPC;
      return -1;
    }
    return ::writev(fd, buffers, count);
  });
  ASSERT_FALSE(writer.append(first, "\n", record("one\n\n")));
  EXPECT_EQ(openCount(first), 1);
  ASSERT_FALSE(writer.append(first, "\n", record("two\n\n")));
  EXPECT_EQ(openCount(first), 1);
  failAt = call;
  const auto failure = writer.append(first, "\n", record("three, never whole\n\n"));
  ASSERT_TRUE(failure);
  EXPECT_EQ(failure->path, first);
  EXPECT_EQ(readFile(first), "From one\n\nFrom two\n\n");
  ASSERT_FALSE(writer.append(first, "\n", record("four\n\n")));
  ASSERT_FALSE(writer.append(second, "\n", record("five\n\n")));
  EXPECT_EQ(openCount(first), 0);
  EXPECT_EQ(openCount(second), 1);
  ASSERT_FALSE(writer.close());
  EXPECT_EQ(openCount(second), 0);
  EXPECT_EQ(readFile(first), "From one\n\nFrom two\n\nFrom four\n\n");
  EXPECT_EQ(readFile(second), "From five\n\n");
}

// A range of a message file goes into the record the same whether the kernel moves it or the
// writer reads it through its buffer; pieces of text around it keep their places.
TEST(MailboxWriterTest, FileRangesGiveTheSameRecordByKernelOrThroughTheBuffer) {
  TempFolder temp;
  std::string source;
  while (source.size() < 3000000) source += "line " + std::to_string(source.size()) + "\n";
  const std::string sourcePath = temp.write("message.eml", source);
  const int fd = ::open(sourcePath.c_str(), O_RDONLY);
  ASSERT_GE(fd, 0);
  const std::string big(40000, 'b');  // long enough to be written from where it lies
  std::string results[2];
  for (const auto mode : {MailboxWriter::RangeCopy::Kernel, MailboxWriter::RangeCopy::Buffer}) {
    const std::string mailbox =
        temp.str() + (mode == MailboxWriter::RangeCopy::Kernel ? "/k.mbox" : "/b.mbox");
    MailboxWriter writer(mode);
    ASSERT_FALSE(writer.append(mailbox, "\n", [&](RecordOutput& out) {
      return out.write("From a\n") && out.copyFileRange(fd, 5, 2500000) && out.write(big) &&
             out.write("\n") && out.copyFileRange(fd, 0, 10) && out.write("\n");
    }));
    ASSERT_FALSE(writer.close());
    results[mode == MailboxWriter::RangeCopy::Kernel] = readFile(mailbox);
  }
  ::close(fd);
  const std::string expected =
      "From a\n" + source.substr(5, 2500000) + big + "\n" + source.substr(0, 10) + "\n";
  EXPECT_TRUE(results[0] == expected);
  EXPECT_TRUE(results[1] == expected);
}

// Python's mailbox module, a reader independent of ours, splits our records where we mean it
// to: one message per record, quoted "From " lines left inside their message. It also reads
// the flag headers: flagged.emlx is read and answered (its own, folded, headers said O and F).
TEST(MailboxRecordTest, PythonMailboxReadsEveryRecordAndItsFlags) {
  if (std::system("python3 -c 'import mailbox' >/dev/null 2>&1") != 0) {
    GTEST_SKIP() << "python3 not available";
  }
  TempFolder temp;
  const std::string script =
      temp.write("read.py",
                 "import mailbox,sys\n"
                 "box=mailbox.mbox(sys.argv[1],create=False)\n"
                 "msgs=list(box)\n"
                 "raw=[m.as_bytes() for m in msgs]\n"
                 "print(len(msgs))\n"
                 "print(sum(1 for m in raw if b'>From here' in m))\n"
                 "print(sum(1 for m in raw if b'>>>From y' in m))\n"
                 "print([''.join(f for f in m.get_flags() if f in 'ROAFTD')\n"
                 "       for m in msgs if m['Subject']=='hi'])\n");
  const std::map<std::string, std::string> flagsByMode = {
      {"auto", "['OF']"},        {"crlf", "['OF']"},        {"lf", "['OF']"},
      {"flags-auto", "['ROA']"}, {"flags-crlf", "['ROA']"}, {"flags-lf", "['ROA']"}};
  for (const auto& [mode, flags] : flagsByMode) {
    const std::string mailbox = temp.str() + "/all." + mode + ".mbox";
    int records = 0;
    for (const auto& entry : fs::directory_iterator(kRecordData / "input")) {
      ASSERT_FALSE(appendMessage(entry.path().string(), optionsForMode(mode), mailbox))
          << entry.path();
      ++records;
    }
    FILE* pipe = ::popen(("python3 " + script + " " + mailbox).c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    char line[64] = {};
    std::string out;
    while (std::fgets(line, sizeof line, pipe) != nullptr) out += line;
    ASSERT_EQ(::pclose(pipe), 0) << out;
    EXPECT_EQ(out, std::to_string(records) + "\n1\n1\n" + flags + "\n") << mode;
  }
}

}  // namespace
}  // namespace drovanta
