#include "mbox/message_text.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "emlx/apple_flags.h"
#include "emlx/emlx_framing.h"
#include "emlx/partial_message.h"
#include "support/emlx_bytes.h"
#include "support/message_reading.h"
#include "support/temp_folder.h"

namespace drovanta {
namespace {

namespace fs = std::filesystem;
using testing::readFile;
using testing::TempFolder;

const fs::path kCorpus = DROVANTA_CORPUS_DIR;
const fs::path kPartialData = kCorpus / "partial-emlx-converter/test/__testdata/input/Messages";
const fs::path kTerhechte = kCorpus / "terhechte-emlx/tests/emails";

// Everything one read reports, in order.
struct Recorded {
  std::vector<std::uint64_t> opened;
  std::vector<std::uint64_t> lines;
  ReadProgress progress() {
    return {[this](std::uint64_t length) { opened.push_back(length); },
            [this](std::uint64_t length) { lines.push_back(length); }};
  }
};

Outcome<MessageText> read(const std::string& path, Recorded& recorded,
                          const RecordOptions& options = {}) {
  return ReadMessageText(path, recorded.progress(), options);
}

void requireCorpus() {
  ASSERT_TRUE(fs::exists(kPartialData)) << "no corpus at " << kCorpus;
}

// Every report is the length of the text at one of its line ends, rising, at most one per
// 64 KB of message and at least one per megabyte; the last is the whole text, so a clean message in
// its own convention ends at exactly its own length.
TEST(MessageTextProgressTest, ReportsStandAtLineEndsAndEndAtTheWholeText) {
  std::string lfOnly;
  while (lfOnly.size() < 3300000) lfOnly += "0123456789abcde\n";
  const struct {
    std::string file;
    LineEnds lineEnds;
    std::string text;
    LineEnds settled;
  } cases[] = {
      {"Subject: s\n\nbody\n", LineEnds::Auto, "Subject: s\n\nbody\n", LineEnds::Lf},
      // No empty line after the header: one is added.
      {lfOnly, LineEnds::Auto, lfOnly + "\n", LineEnds::Lf},
      {"S: a\n\n" + lfOnly, LineEnds::CrLf,
       "S: a\r\n\r\n" +
           [&] {
             std::string crlf;
             for (char c : lfOnly) c == '\n' ? crlf += "\r\n" : crlf += c;
             return crlf;
           }(),
       LineEnds::CrLf},
      {"ab\r\n\r\ncde\r\n", LineEnds::Auto, "ab\r\n\r\ncde\r\n", LineEnds::CrLf},
      {"ab\r\n\r\ncde\r\n", LineEnds::CrLf, "ab\r\n\r\ncde\r\n", LineEnds::CrLf},
      // Lone CRs grow by one each; a last line without line end gets one; then the empty line.
      {"a\rbb\rccc", LineEnds::Auto, "a\r\nbb\r\nccc\r\n\r\n", LineEnds::CrLf},
      // Without any line end of its own a message gets LF ones. (An empty file is no message:
      // the run skips it.)
      {"Subject: x", LineEnds::Auto, "Subject: x\n\n", LineEnds::Lf},
      {"S: a\n\nb\n", LineEnds::CrLf, "S: a\r\n\r\nb\r\n", LineEnds::CrLf},
      {"ab\r\ncd\rFrom x", LineEnds::Lf, "ab\ncd\n>From x\n\n", LineEnds::Lf},
      // An LF record keeps CR LF and lone CR as they are; only LF ends its lines.
      {"S: a\nb\r\n\r\nc\rd\n", LineEnds::Auto, "S: a\nb\r\n\r\nc\rd\n", LineEnds::Lf},
  };
  TempFolder temp;
  for (const auto& c : cases) {
    RecordOptions options;
    options.lineEnds = c.lineEnds;
    Recorded recorded;
    const auto text = read(temp.write("shape.eml", c.file), recorded, options);
    ASSERT_TRUE(text);
    EXPECT_EQ(text->text, c.text);
    EXPECT_EQ(text->lineEnds, c.settled) << c.text.substr(0, 20);
    EXPECT_EQ(text->fileLength, c.file.size());
    EXPECT_EQ(recorded.opened, std::vector<std::uint64_t>{c.file.size()});
    ASSERT_FALSE(recorded.lines.empty());
    EXPECT_EQ(recorded.lines.back(), c.text.size());
    EXPECT_LE(recorded.lines.size(), 2 + c.file.size() / (64 * 1024));
    EXPECT_GE(recorded.lines.size(), c.file.size() / (1024 * 1024));
    for (std::size_t i = 0; i < recorded.lines.size(); ++i) {
      EXPECT_EQ(c.text[recorded.lines[i] - 1], '\n') << recorded.lines[i];
      if (i > 0) {
        EXPECT_LT(recorded.lines[i - 1], recorded.lines[i]);
      }
    }
  }
}

TEST(MessageTextQuotingTest, OnlyLinesStartingWithQuotesThenFromSpaceGainAQuote) {
  TempFolder temp;
  const std::string file =
      "From first line\r\n"
      ">From once\r\n"
      ">>From twice\r\n"
      "From\r\n"
      "Fromage\r\n"
      "> From spaced\r\n"
      "x From inside\r\n"
      "a\nFrom after lone LF\rFrom after lone CR\r\n"
      ">>>";
  Recorded recorded;
  const auto text = read(temp.write("quote.eml", file), recorded);
  ASSERT_TRUE(text);
  EXPECT_EQ(text->text,
            ">From first line\r\n"
            ">>From once\r\n"
            ">>>From twice\r\n"
            "From\r\n"
            "Fromage\r\n"
            "> From spaced\r\n"
            "x From inside\r\n"
            "a\n>From after lone LF\r\n>From after lone CR\r\n"
            ">>>\r\n"
            "\r\n");
  // Reported lengths count the quotes added.
  EXPECT_EQ(recorded.lines.back(), text->text.size());
}

// The scan looks at many bytes at a time; line ends and "From " lines at every offset within
// and across its blocks, and right at the end of the file, are all found. The cases are bodies
// of a CR LF message, whose lone LFs stay and whose lone CRs become CR LF.
TEST(MessageTextQuotingTest, CandidatesAtEveryOffsetAndAtTheEnd) {
  TempFolder temp;
  const std::string header = "H: 1\r\n\r\n";
  for (std::size_t k = 0; k < 140; ++k) {
    const std::string pad(k, 'a');
    const std::string tail(80, 'z');
    const struct {
      std::string file;
      std::string text;
    } cases[] = {
        {pad + "\n>From b\rc", pad + "\n>>From b\r\nc\r\n"},
        {pad + "\rFrom ", pad + "\r\n>From \r\n"},
        {pad + "\nFrom", pad + "\nFrom\r\n"},
        {pad + "\r", pad + "\r\n"},
        {"From " + pad + "\r\nFFrom x", ">From " + pad + "\r\nFFrom x\r\n"},
        {pad + "\rFrom x" + tail, pad + "\r\n>From x" + tail + "\r\n"},
    };
    for (const auto& c : cases) {
      Recorded recorded;
      const auto text = read(temp.write("offset.eml", header + c.file), recorded);
      ASSERT_TRUE(text);
      EXPECT_EQ(text->text, header + c.text) << k;
    }
  }
}

// The window handles events during progress reports, and a second conversion may run inside
// them; the first read must come out unharmed.
TEST(MessageTextReadTest, ReadStartedInsideAProgressReportLeavesTheOuterReadIntact) {
  TempFolder temp;
  const std::string outer = temp.write("outer.eml", "one\rtwo\rthree\r");
  const std::string inner = temp.write("inner.eml", std::string(100000, 'x') + "\r\n");
  std::string innerText;
  ReadProgress progress;
  progress.lineRead = [&](std::uint64_t) {
    if (!innerText.empty()) return;
    const auto nested = ReadMessageText(inner, {});
    ASSERT_TRUE(nested);
    innerText = nested->text;
  };
  const auto text = ReadMessageText(outer, progress);
  ASSERT_TRUE(text);
  EXPECT_EQ(text->text, "one\r\ntwo\r\nthree\r\n\r\n");
  EXPECT_EQ(innerText, std::string(100000, 'x') + "\r\n\r\n");
}

TEST(MessageTextReadTest, MissingFileAndFolderAreFailuresNamingThePath) {
  TempFolder temp;
  Recorded recorded;
  const std::string missing = temp.str() + "/gone.emlx";
  const auto gone = read(missing, recorded);
  ASSERT_FALSE(gone);
  EXPECT_EQ(gone.failure().code, FailureCode::MessageMissing);
  EXPECT_EQ(gone.failure().path, missing);
  EXPECT_EQ(gone.failure().reason, "No such file or directory");

  const std::string folder = temp.str() + "/1.emlx";
  fs::create_directory(folder);
  const auto isFolder = read(folder, recorded);
  ASSERT_FALSE(isFolder);
  EXPECT_EQ(isFolder.failure().code, FailureCode::MessageUnreadable);
  EXPECT_EQ(isFolder.failure().path, folder);
  EXPECT_EQ(isFolder.failure().reason, "Is a directory");
  EXPECT_TRUE(recorded.opened.empty());
}

TEST(MessageTextReadTest, AppleDoubleSidecarIsNotAMessage) {
  TempFolder temp;
  std::string sidecar("\x00\x05\x16\x07\x00\x02\x00\x00Mac OS X        ", 24);
  sidecar += std::string(100, '\0');
  Recorded recorded;
  const auto text = read(temp.write("._12.emlx", sidecar), recorded);
  ASSERT_TRUE(text);
  EXPECT_TRUE(text->notAMessage);
  EXPECT_TRUE(text->text.empty());
  EXPECT_TRUE(recorded.opened.empty());

  // Three of the four magic bytes are an ordinary (if odd) message.
  const auto nearMiss = read(temp.write("13.eml", std::string("\x00\x05\x16X", 4)), recorded);
  ASSERT_TRUE(nearMiss);
  EXPECT_FALSE(nearMiss->notAMessage);
}

TEST(MessageTextCorpusTest, FramedEmlxLosesCountLineAndPropertyList) {
  requireCorpus();
  const std::vector<fs::path> files = {kPartialData / "114862.emlx", kPartialData / "11507.emlx",
                                       kTerhechte / "2.emlx",        kTerhechte / "3.emlx",
                                       kTerhechte / "4.emlx",        kTerhechte / "broken1.emlx"};
  for (const auto& file : files) {
    Recorded recorded;
    const auto text = read(file.string(), recorded);
    ASSERT_TRUE(text) << file;
    const std::string bytes = readFile(file);
    const EmlxFrame frame = FrameEmlx(bytes, true);
    ASSERT_TRUE(frame.framed) << file;
    EXPECT_EQ(text->fileLength, frame.messageLength) << file;
    // The text is the counted message, without the count line and the property list. These
    // messages have LF line ends and keep them; all but broken1 end with one, and so end their
    // progress at exactly 100 %.
    const std::string message = bytes.substr(frame.messageBegin, frame.messageLength);
    const bool endsWithLineEnd = message.back() == '\n';
    EXPECT_EQ(endsWithLineEnd, file.filename() != "broken1.emlx");
    EXPECT_EQ(text->text, endsWithLineEnd ? message : message + "\n") << file;
    EXPECT_EQ(text->text.find("</plist>"), std::string::npos) << file;
    EXPECT_EQ(recorded.opened, std::vector<std::uint64_t>{frame.messageLength}) << file;
    EXPECT_EQ(recorded.lines.back(), text->text.size()) << file;
  }
}

TEST(MessageTextCorpusTest, FileWithoutCountLosesOnlyItsTrailingPropertyList) {
  requireCorpus();
  const fs::path file = kTerhechte / "broken2.emlx";
  Recorded recorded;
  const auto text = read(file.string(), recorded);
  ASSERT_TRUE(text);
  const std::string bytes = readFile(file);
  EXPECT_EQ(text->fileLength, bytes.rfind("<?xml"));
  EXPECT_EQ(text->text.substr(0, 13), "Mime-Version:");
  EXPECT_EQ(text->text.find("<plist"), std::string::npos);
}

// A rebuilt partial message is reported with its own length, so progress against it ends where
// the text ends and not far beyond the stub's length.
TEST(MessageTextCorpusTest, PartialMessageReportsTheRebuiltLength) {
  requireCorpus();
  // 114892 has its attachments beside it; 114893 has none and keeps its stubs, with warnings.
  for (const char* name : {"114892.partial.emlx", "114893.partial.emlx"}) {
    const fs::path file = kPartialData / name;
    const bool restored = std::string(name) == "114892.partial.emlx";
    const std::string bytes = readFile(file);
    const EmlxFrame frame = FrameEmlx(bytes, true);
    const RebuiltMessage rebuilt = RebuildPartialMessage(
        file.string(), std::string_view(bytes).substr(frame.messageBegin, frame.messageLength));
    Recorded recorded;
    const auto text = read(file.string(), recorded);
    ASSERT_TRUE(text) << name;
    EXPECT_EQ(text->fileLength, rebuilt.bytes.size()) << name;
    EXPECT_EQ(recorded.opened, std::vector<std::uint64_t>{rebuilt.bytes.size()}) << name;
    EXPECT_EQ(restored, rebuilt.bytes.size() > frame.messageLength) << name;
    // LF line ends kept: the last report is the rebuilt message's own length.
    EXPECT_EQ(text->text, rebuilt.bytes) << name;
    EXPECT_EQ(recorded.lines.back(), rebuilt.bytes.size()) << name;
    EXPECT_EQ(text->warnings.size(), rebuilt.warnings.size()) << name;
    EXPECT_EQ(restored, text->warnings.empty()) << name;
    for (std::size_t i = 0; i < text->warnings.size(); ++i) {
      EXPECT_EQ(text->warnings[i].text, rebuilt.warnings[i].text) << name;
    }
  }
}

TEST(MessageTextFlagsTest, RealFlagsBecomeHeadersAtTheStart) {
  requireCorpus();
  struct Case {
    fs::path file;
    std::string headers;
  };
  const std::vector<Case> cases = {
      // 8623750272: not read, no other state. The headers take the message's LF line ends.
      {kPartialData / "114862.emlx", "Status: O\nX-Mozilla-Status: 0000\n"},
      // 8623489089: read and draft.
      {kTerhechte / "2.emlx", "Status: RO\nX-Status: T\nX-Mozilla-Status: 0001\n"},
      // 25803555841: read; the set bits above 32 mean nothing to readers.
      {kPartialData / "465622.partial.emlx", "Status: RO\nX-Mozilla-Status: 0001\n"},
  };
  RecordOptions flags;
  flags.writeFlags = true;
  for (const auto& c : cases) {
    Recorded plain;
    Recorded flagged;
    const auto without = read(c.file.string(), plain);
    const auto with = read(c.file.string(), flagged, flags);
    ASSERT_TRUE(without && with) << c.file;
    EXPECT_EQ(with->text, c.headers + without->text) << c.file;
    EXPECT_EQ(flagged.lines.back(), with->text.size()) << c.file;
  }
}

TEST(MessageTextFlagsTest, WithoutPropertyListNothingIsAdded) {
  requireCorpus();
  RecordOptions flags;
  flags.writeFlags = true;
  Recorded a;
  Recorded b;
  const fs::path file = kTerhechte / "broken1.emlx";
  const auto with = read(file.string(), a, flags);
  const auto without = read(file.string(), b);
  ASSERT_TRUE(with && without);
  EXPECT_EQ(with->text, without->text);
}

TEST(MessageTextFlagsTest, ExistingHeadersAreReplacedInEveryLineEndShape) {
  TempFolder temp;
  const std::string plist =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n<dict>\n"
      "\t<key>flags</key>\n\t<integer>8623489111</integer>\n</dict>\n</plist>\n";
  // 8623489111 = read, deleted, answered, flagged, draft (bits 0, 1, 2, 4, 6) and high bits.
  for (const std::string eol : {"\r\n", "\r", "\n"}) {
    const std::string message = "status: O" + eol + "Subject: s" + eol + "X-Status: AF" + eol +
                                "\tfolded" + eol + eol + "Status: RO" + eol;
    const std::string file = testing::EmlxBytes(message) + plist;
    RecordOptions options;
    options.writeFlags = true;
    options.lineEnds = LineEnds::Lf;
    Recorded recorded;
    const auto text = read(temp.write("7.emlx", file), recorded, options);
    ASSERT_TRUE(text);
    EXPECT_EQ(text->text,
              "Status: RO\nX-Status: AFTD\nX-Mozilla-Status: 0007\nSubject: s\n\nStatus: RO\n")
        << static_cast<int>(eol.back());
  }
}

// Writes into a string; counts the ranges the kernel would have moved.
class SpyOutput : public StringOutput {
 public:
  SpyOutput() : StringOutput(text) {}
  bool copyFileRange(int fd, std::uint64_t offset, std::uint64_t length) override {
    ++kernelCopies;
    return StringOutput::copyFileRange(fd, offset, length);
  }
  std::string text;
  int kernelCopies = 0;
};

// A message that needs no change goes out as its file's bytes, moved by the kernel, up to the
// window of its first change; with the kernel copy off it all streams through the output. Both
// ways give the same text, and reports that end at the whole text.
TEST(MessageTextKernelCopyTest, UnchangedMessagesAreCopiedByTheKernelAndGiveTheSameText) {
  TempFolder temp;
  const struct {
    std::string name;
    std::string file;
    LineEnds lineEnds;
    bool copied;
  } cases[] = {
      {"plain.eml", "Subject: a\n\nbody\n", LineEnds::Auto, true},
      {"plain-lf.eml", "Subject: a\n\nbody\n", LineEnds::Lf, true},
      {"no-end.eml", "Subject: a\n\nbody", LineEnds::Lf, true},
      {"framed.emlx", "17\nSubject: a\n\nbody\n<?xml version=\"1.0\"?>\n<plist></plist>\n",
       LineEnds::Auto, true},
      {"crlf.eml", "Subject: a\r\n\r\nbody\r\n", LineEnds::Auto, true},
      {"crlf-kept.eml", "Subject: a\r\n\r\nbody\r\n", LineEnds::CrLf, true},
      {"lf-kept-cr.eml", "Subject: a\n\nx\r\ny\rz\n", LineEnds::Auto, true},
      {"header-only.eml", "Subject: a\n", LineEnds::Auto, true},
      {"from-inside.eml", "Subject: a\n\nsay From here\n", LineEnds::Auto, true},
      {"lf-in-crlf.eml", "Subject: a\n\nbody\n", LineEnds::CrLf, false},
      {"crlf-in-lf.eml", "Subject: a\r\n\r\nbody\r\n", LineEnds::Lf, false},
      {"lone-cr.eml", "Subject: a\r\rbody\r", LineEnds::Auto, false},
      {"quoted.eml", "Subject: a\n\nFrom here\n", LineEnds::Auto, false},
      // Its first windows hold no change: the kernel copies them, the rest streams.
      {"quoted-late.eml", "Subject: a\n\n" + std::string(9000000, 'x') + "\n>From here\n",
       LineEnds::Auto, true},
      {"empty.eml", "", LineEnds::Auto, false},
  };
  for (const auto& c : cases) {
    const std::string path = temp.write(c.name, c.file);
    MessageFile file;
    ASSERT_FALSE(file.open(path, 0)) << c.name;  // mapped, as large files are
    ASSERT_EQ(file.mapped(), !c.file.empty());
    std::string texts[2];
    std::vector<std::uint64_t> reports[2];
    for (const bool kernelCopy : {true, false}) {
      RecordOptions options;
      options.lineEnds = c.lineEnds;
      options.kernelCopy = kernelCopy;
      const SourceMessage source = ReadSourceMessage(path, file, false);
      MessageTextWriter writer(source, options);
      SpyOutput out;
      ASSERT_TRUE(writer.write(out, [&](std::uint64_t length) {
        reports[kernelCopy].push_back(length);
      })) << c.name;
      EXPECT_EQ(out.kernelCopies > 0, kernelCopy && c.copied) << c.name;
      EXPECT_EQ(writer.textLength(), out.text.size()) << c.name;
      texts[kernelCopy] = out.text;
    }
    EXPECT_EQ(texts[true], texts[false]) << c.name;
    EXPECT_EQ(reports[true].back(), texts[true].size()) << c.name;
    EXPECT_EQ(reports[false].back(), texts[false].size()) << c.name;
  }
}

// Another program cuts a large (mapped) message file while it is read: reading past the new
// end gives zeros instead of ending the program, and the text is refused, whichever way it
// was to be written.
TEST(MessageTextKernelCopyTest, AFileCutWhileReadIsRefusedNotACrash) {
  TempFolder temp;
  std::string message = "Subject: cut\n\n";
  while (message.size() < 3000000) message += "a line of the body that goes on for a while\n";
  for (const bool kernelCopy : {true, false}) {
    const std::string path = temp.write("cut.eml", message);
    MessageFile file;
    ASSERT_FALSE(file.open(path));
    ASSERT_TRUE(file.mapped());
    EXPECT_FALSE(file.changed());
    fs::resize_file(path, 1000000);
    RecordOptions options;
    options.kernelCopy = kernelCopy;
    const SourceMessage source = ReadSourceMessage(path, file, false);
    MessageTextWriter writer(source, options);
    SpyOutput out;
    EXPECT_FALSE(writer.write(out, {})) << kernelCopy;
    ASSERT_TRUE(writer.readFailure()) << kernelCopy;
    EXPECT_EQ(writer.readFailure()->path, path);
    EXPECT_EQ(writer.readFailure()->reason, "the file changed while it was read");
    EXPECT_TRUE(file.changed());
  }
}

}  // namespace
}  // namespace drovanta
