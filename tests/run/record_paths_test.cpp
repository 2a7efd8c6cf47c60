// A record reaches its mailbox by one of two roads: the message's bytes moved by the kernel, or
// streamed through the writer's buffer. Both must give the same mailboxes, byte for byte.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "mbox/apple_mailbox_naming.h"
#include "run/conversion_run.h"
#include "support/emlx_bytes.h"
#include "support/temp_folder.h"

namespace drovanta {
namespace {

namespace fs = std::filesystem;
using testing::readFile;
using testing::TempFolder;

const fs::path kCorpus = DROVANTA_CORPUS_DIR;

std::string emlx(const std::string& message, std::uint64_t flags = 8590195713) {
  return testing::EmlxBytes(message, flags);
}

// Base64-like lines of 76 characters up to about `size` bytes, each ended by `lineEnd`.
std::string filler(std::size_t size, const std::string& lineEnd) {
  static const std::string alphabet =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string text;
  std::size_t n = 0;
  while (text.size() < size) {
    for (int i = 0; i < 76; ++i) text += alphabet[(n++ * 7919) % alphabet.size()];
    text += lineEnd;
  }
  return text;
}

std::string header(const std::string& subject, const std::string& lineEnd) {
  return "From: Ann <ann@example.com>" + lineEnd + "Subject: " + subject + lineEnd + "Status: O" +
         lineEnd + "Date: Fri, 01 Mar 2024 17:05:09 +0000" + lineEnd + lineEnd;
}

// An Apple Mail tree of messages in every shape, small ones (read) and large ones (mapped,
// across the reader's 4 MB windows), in two mailboxes whose rows alternate.
std::vector<std::string> writeTree(const TempFolder& temp) {
  const std::string inbox = "Mail/V10/ACCOUNT/INBOX.mbox/UUID/Data/Messages/";
  const std::string sent = "Mail/V10/ACCOUNT/Sent.mbox/UUID/Data/Messages/";
  const std::map<std::string, std::string> files = {
      {inbox + "1.emlx", emlx(header("lf", "\n") + "body\nFrom here\n>From there\n")},
      {inbox + "2.emlx", emlx(header("crlf", "\r\n") + "body\r\nFrom here\r\n")},
      {inbox + "3.emlx", emlx("Subject: cr\r\rline\rFrom x\r")},
      {sent + "4.emlx", emlx("Subject: header only\n")},
      {sent + "5.emlx", emlx("")},
      {inbox + "6.emlx", emlx(header("no end", "\n") + "last line")},
      {sent + "7.emlx", emlx(header("big clean", "\n") + filler(2500000, "\n"), 0)},
      {inbox + "8.emlx", emlx(header("big, quoted late", "\n") + filler(5000000, "\n") +
                              "From late\n" + filler(100000, "\n"))},
      {sent + "9.emlx",
       emlx(header("big crlf", "\r\n") + filler(3000000, "\r\n") + "lone\rcr\r\n")},
      {inbox + "10.emlx", emlx(header("big no end", "\n") + filler(1500000, "\n") + "end")},
      {inbox + "11.eml", header("not framed", "\n") + "plain file\n"},
  };
  std::vector<std::string> rows;
  for (const auto& [name, bytes] : files) rows.push_back(temp.write(name, bytes));
  std::sort(rows.begin(), rows.end());
  return rows;
}

std::vector<std::string> corpusFiles() {
  std::vector<std::string> rows;
  std::error_code error;
  for (fs::recursive_directory_iterator it(kCorpus, error), end; !error && it != end;
       it.increment(error)) {
    if (it->is_regular_file() && it->path().extension() == ".emlx") {
      rows.push_back(it->path().string());
    }
  }
  std::sort(rows.begin(), rows.end());
  return rows;
}

// Every mailbox file under `root`, by its path below it.
std::map<std::string, std::string> mailboxes(const fs::path& root) {
  std::map<std::string, std::string> found;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    if (entry.is_regular_file()) {
      found[fs::relative(entry.path(), root).string()] = readFile(entry.path());
    }
  }
  return found;
}

TEST(RecordPathsTest, KernelCopyAndStreamingGiveTheSameMailboxesWithEveryOption) {
  TempFolder temp;
  std::vector<std::string> rows = writeTree(temp);
  const std::vector<std::string> corpus = corpusFiles();
  rows.insert(rows.end(), corpus.begin(), corpus.end());
  if (corpus.empty()) ADD_FAILURE() << "no corpus at " << kCorpus;

  int run = 0;
  for (const LineEnds lineEnds : {LineEnds::Auto, LineEnds::CrLf, LineEnds::Lf}) {
    for (const bool flags : {false, true}) {
      for (const bool apple : {false, true}) {
        std::map<std::string, std::string> written[2];
        RunSummary summaries[2];
        for (const bool kernelCopy : {true, false}) {
          RunOptions options;
          options.record.lineEnds = lineEnds;
          options.record.writeFlags = flags;
          options.record.kernelCopy = kernelCopy;
          if (apple) options.placer = AppleLayoutPlacer();
          VectorRowSource source(apple ? OrderForAppleLayout(rows) : rows);
          const fs::path out = temp.path() / ("out" + std::to_string(run++));
          ConversionObserver quiet;
          summaries[kernelCopy] = RunConversion(source, out.string(), quiet, options);
          written[kernelCopy] = mailboxes(out);
        }
        const std::string what = "mode " + std::to_string(static_cast<int>(lineEnds)) +
                                 (flags ? " flags" : "") + (apple ? " apple" : "");
        EXPECT_EQ(summaries[true].converted, static_cast<long>(rows.size())) << what;
        EXPECT_EQ(summaries[false].converted, summaries[true].converted) << what;
        EXPECT_EQ(summaries[false].bytesWritten, summaries[true].bytesWritten) << what;
        ASSERT_EQ(written[true].size(), written[false].size()) << what;
        for (const auto& [name, bytes] : written[true]) {
          // Compared by size and content apart, so that a failure does not print megabytes.
          EXPECT_EQ(bytes.size(), written[false][name].size()) << what << " " << name;
          EXPECT_TRUE(bytes == written[false][name]) << what << " " << name;
        }
        fs::remove_all(temp.path() / ("out" + std::to_string(run - 1)));
        fs::remove_all(temp.path() / ("out" + std::to_string(run - 2)));
      }
    }
  }
}

}  // namespace
}  // namespace drovanta
