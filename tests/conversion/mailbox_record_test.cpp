#include "conversion/mailbox_record.h"

#include <gtest/gtest.h>
#include <sys/uio.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "conversion/message_text.h"
#include "conversion/record_writer.h"
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
  options.lineEnds =
      mode.ends_with("lf") && !mode.ends_with("crlf") ? LineEnds::Lf : LineEnds::CrLf;
  options.writeFlags = mode.starts_with("flags-");
  return options;
}

std::string recordFor(const std::string& messagePath, const RecordOptions& options,
                      const std::string& mailboxPath) {
  auto text = ReadMessageText(messagePath, {}, options);
  if (!text) return "read failed: " + describe(text.failure());
  if (auto failure = AppendRecord(mailboxPath, kSeparator, text->text, options)) {
    return "append failed: " + describe(*failure);
  }
  return readFile(mailboxPath);
}

// Each output/<input name>.<mode>.mbox holds the exact record of input/<input name>, where mode
// is crlf, lf, flags-crlf or flags-lf. lf-only.eml (A LF B LF) and cr-only.eml (A CR B CR) are
// the classic examples: the first is copied as it is, the second becomes A CR LF B CR LF.
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
  EXPECT_GE(compared, 19);
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
  EXPECT_EQ(readFile(mailbox), earlier + kSeparator + "\r\nY: 2\r\n\r\nnew\r\n\r\n");
}

// A mailbox path that is a link to a missing file once made the append loop for ever.
TEST(MailboxRecordTest, LinkToMissingMailboxCreatesItsTarget) {
  TempFolder temp;
  const std::string target = temp.str() + "/target.mbox";
  const std::string link = temp.str() + "/Inbox.mbox";
  fs::create_symlink(target, link);
  ASSERT_FALSE(AppendRecord(link, kSeparator, "X: 1\r\n"));
  EXPECT_EQ(readFile(target), std::string(kSeparator) + "\r\nX: 1\r\n\r\n");
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
    const std::string expected = std::string(kSeparator) + "\r\n" + text + "\r\n";
    EXPECT_EQ(readFile(mailbox), expected) << perCall;
    EXPECT_EQ(static_cast<std::size_t>(calls), (expected.size() + perCall - 1) / perCall);
  }
}

TEST(MailboxRecordTest, FailedAppendCutsTheMailboxBackToItsEarlierRecords) {
  TempFolder temp;
  const std::string earlier = std::string(kSeparator) + "\r\nX: 1\r\n\r\nold\r\n\r\n";
  const std::string text = "Subject: lost\r\n\r\nthis record never fits\r\n";
  const std::size_t recordSize = std::string(kSeparator).size() + 2 + text.size() + 2;
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
      {"crlf", "['OF']"}, {"lf", "['OF']"}, {"flags-crlf", "['ROA']"}, {"flags-lf", "['ROA']"}};
  for (const auto& [mode, flags] : flagsByMode) {
    const std::string mailbox = temp.str() + "/all." + mode + ".mbox";
    int records = 0;
    for (const auto& entry : fs::directory_iterator(kRecordData / "input")) {
      const RecordOptions options = optionsForMode(mode);
      auto text = ReadMessageText(entry.path().string(), {}, options);
      ASSERT_TRUE(text) << entry.path();
      ASSERT_FALSE(AppendRecord(mailbox, kSeparator, text->text, options));
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
