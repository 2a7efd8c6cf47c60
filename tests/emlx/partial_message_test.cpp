#include "emlx/partial_message.h"

#include <gmime/gmime.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "support/temp_folder.h"

namespace drovanta {
namespace {

namespace fs = std::filesystem;
using testing::readFile;
using testing::TempFolder;

const fs::path kCorpus =
    fs::path(DROVANTA_CORPUS_DIR) / "partial-emlx-converter" / "test" / "__testdata" / "input";

// The message bytes of an .emlx file: after the count line, at most `count` bytes.
std::string frameEmlx(const fs::path& file) {
  const std::string raw = readFile(file);
  const auto newline = raw.find('\n');
  const auto count = std::strtoull(raw.substr(0, newline).c_str(), nullptr, 10);
  return raw.substr(newline + 1, static_cast<std::size_t>(count));
}

// A parsed message that keeps its parts as windows onto the bytes it was parsed from.
class Parsed {
 public:
  explicit Parsed(const std::string& bytes) {
    g_mime_init();
    stream_ = g_mime_stream_mem_new_with_buffer(bytes.data(), bytes.size());
    GMimeParser* parser = g_mime_parser_new_with_stream(stream_);
    g_mime_parser_set_persist_stream(parser, TRUE);
    message_ = g_mime_parser_construct_message(parser, nullptr);
    g_object_unref(parser);
  }
  ~Parsed() {
    if (message_ != nullptr) g_object_unref(message_);
    g_object_unref(stream_);
  }
  Parsed(const Parsed&) = delete;
  Parsed& operator=(const Parsed&) = delete;

  // The leaf at an IMAP section number ("1" is a single-part body; an attached message's
  // parts nest under its number).
  GMimePart* section(const std::string& number) const {
    GMimeObject* object = g_mime_message_get_mime_part(message_);
    std::stringstream path(number);
    std::string step;
    while (std::getline(path, step, '.')) {
      const int index = std::stoi(step) - 1;
      if (GMIME_IS_MESSAGE_PART(object)) {
        object = g_mime_message_get_mime_part(
            g_mime_message_part_get_message(GMIME_MESSAGE_PART(object)));
      }
      if (GMIME_IS_MULTIPART(object)) {
        if (index >= g_mime_multipart_get_count(GMIME_MULTIPART(object))) return nullptr;
        object = g_mime_multipart_get_part(GMIME_MULTIPART(object), index);
      } else if (index != 0) {
        return nullptr;
      }
    }
    return GMIME_IS_PART(object) ? GMIME_PART(object) : nullptr;
  }

  static std::string decoded(GMimePart* part) {
    GMimeStream* out = g_mime_stream_mem_new();
    g_mime_data_wrapper_write_to_stream(g_mime_part_get_content(part), out);
    GByteArray* bytes = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(out));
    std::string result(reinterpret_cast<const char*>(bytes->data), bytes->len);
    g_object_unref(out);
    return result;
  }

  // Where the part's body sits in the parsed bytes.
  static std::pair<std::size_t, std::size_t> bodySpan(GMimePart* part) {
    GMimeStream* stream = g_mime_data_wrapper_get_stream(g_mime_part_get_content(part));
    return {static_cast<std::size_t>(stream->bound_start),
            static_cast<std::size_t>(stream->bound_end)};
  }

 private:
  GMimeStream* stream_ = nullptr;
  GMimeMessage* message_ = nullptr;
};

std::string withoutStrippedHeaders(const std::string& bytes) {
  std::string out;
  std::size_t pos = 0;
  while (pos < bytes.size()) {
    auto end = bytes.find('\n', pos);
    end = end == std::string::npos ? bytes.size() : end + 1;
    if (bytes.compare(pos, 23, "X-Apple-Content-Length:") != 0) out.append(bytes, pos, end - pos);
    pos = end;
  }
  return out;
}

// Checks a rebuilt message: each named section decodes to its file, its base64 lines are 76
// long, no marker header is left, and with the restored bodies cut out again the message is the
// original without its marker lines.
void expectRestored(const std::string& original, const RebuiltMessage& rebuilt,
                    const std::map<std::string, fs::path>& files) {
  EXPECT_TRUE(rebuilt.warnings.empty()) << rebuilt.warnings.front().text;
  EXPECT_EQ(rebuilt.bytes.find("X-Apple-Content-Length"), std::string::npos);
  const Parsed parsed(rebuilt.bytes);
  std::vector<std::pair<std::size_t, std::size_t>> bodies;
  for (const auto& [number, file] : files) {
    SCOPED_TRACE("part " + number);
    GMimePart* part = parsed.section(number);
    ASSERT_NE(part, nullptr);
    EXPECT_EQ(Parsed::decoded(part), readFile(file));
    bodies.push_back(Parsed::bodySpan(part));
    if (g_mime_part_get_content_encoding(part) == GMIME_CONTENT_ENCODING_BASE64) {
      std::stringstream lines(
          rebuilt.bytes.substr(bodies.back().first, bodies.back().second - bodies.back().first));
      std::vector<std::string> all;
      for (std::string line; std::getline(lines, line);) {
        if (line.ends_with('\r')) line.pop_back();
        if (!line.empty()) all.push_back(line);
      }
      ASSERT_FALSE(all.empty());
      for (std::size_t i = 0; i + 1 < all.size(); ++i) EXPECT_EQ(all[i].size(), 76u);
      EXPECT_LE(all.back().size(), 76u);
    }
  }
  std::sort(bodies.begin(), bodies.end());
  std::string excised;
  std::size_t copied = 0;
  for (const auto& [begin, end] : bodies) {
    excised.append(rebuilt.bytes, copied, begin - copied);
    copied = end;
  }
  excised.append(rebuilt.bytes, copied);
  // The stubs' bodies were empty, so cutting the restored ones out gives the stub back.
  EXPECT_EQ(excised, withoutStrippedHeaders(original));
}

std::map<std::string, fs::path> attachmentFolders(const fs::path& folder) {
  std::map<std::string, fs::path> files;
  for (const auto& entry : fs::directory_iterator(folder)) {
    for (const auto& file : fs::directory_iterator(entry.path())) {
      files[entry.path().filename().string()] = file.path();
    }
  }
  return files;
}

class PartialMessageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(fs::is_directory(kCorpus)) << "corpus not present at " << kCorpus;
  }
};

TEST(PartialMessageName, MatchesTheSuffixInAnyCase) {
  EXPECT_TRUE(IsPartialMessageName("/store/Messages/114892.partial.emlx"));
  EXPECT_TRUE(IsPartialMessageName("114892.PARTIAL.EMLX"));
  EXPECT_TRUE(IsPartialMessageName("a.Partial.Emlx"));
  EXPECT_FALSE(IsPartialMessageName("/store/Messages/114892.emlx"));
  EXPECT_FALSE(IsPartialMessageName("114892.partial.emlx.bak"));
  EXPECT_FALSE(IsPartialMessageName("114892-partial.emlx"));
  EXPECT_FALSE(IsPartialMessageName("emlx"));
}

TEST_F(PartialMessageTest, CorpusMessagesGetEveryAttachmentBack) {
  for (const char* number : {"114892", "114894", "136153", "207046", "229417", "465622"}) {
    SCOPED_TRACE(number);
    const auto path = kCorpus / "Messages" / (std::string(number) + ".partial.emlx");
    const std::string original = frameEmlx(path);
    const RebuiltMessage rebuilt = RebuildPartialMessage(path.string(), original);
    expectRestored(original, rebuilt, attachmentFolders(kCorpus / "Attachments" / number));
  }
}

TEST_F(PartialMessageTest, MissingAttachmentsFolderKeepsTheStubsAndNamesEachPart) {
  const auto path = kCorpus / "Messages" / "114893.partial.emlx";
  const std::string original = frameEmlx(path);
  const RebuiltMessage rebuilt = RebuildPartialMessage(path.string(), original);
  EXPECT_EQ(rebuilt.bytes, original);
  ASSERT_EQ(rebuilt.warnings.size(), 4u);
  const char* parts[] = {"2.2", "2.4", "2.6", "2.8"};
  for (std::size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(rebuilt.warnings[i].path, path.string());
    EXPECT_EQ(rebuilt.warnings[i].text,
              std::string("attachment of part ") + parts[i] + " not found");
  }
}

// Its outer closing delimiter is one hyphen short and runs straight into the property list.
TEST_F(PartialMessageTest, BrokenClosingBoundaryLosesNothing) {
  TempFolder store;
  const auto path = store.write("Messages/114895.partial.emlx",
                                readFile(kCorpus / "Messages" / "114895.partial.emlx"));
  fs::create_directories(store.path() / "Attachments");
  fs::copy(kCorpus / "Attachments" / "114892", store.path() / "Attachments" / "114895",
           fs::copy_options::recursive);
  const std::string original = frameEmlx(path);
  ASSERT_TRUE(original.ends_with("--Apple-Mail=_F073CB14-2AA7-40E0-88F6-8C1A8748438B-"));
  const RebuiltMessage rebuilt = RebuildPartialMessage(path, original);
  expectRestored(original, rebuilt, attachmentFolders(store.path() / "Attachments" / "114895"));
  EXPECT_TRUE(rebuilt.bytes.ends_with("--Apple-Mail=_F073CB14-2AA7-40E0-88F6-8C1A8748438B-"));
}

// A multipart/mixed message with a text part and stripped parts 2, 3 and 4.
std::string threeStubs(const std::string& lineEnd) {
  const std::string lines[] = {
      "From: a@example.com",
      "Subject: stubs",
      "Content-Type: multipart/mixed; boundary=\"b1\"",
      "",
      "preamble",
      "--b1",
      "Content-Type: text/plain",
      "",
      "hello",
      "--b1",
      "Content-Type: application/octet-stream",
      "Content-Transfer-Encoding: base64",
      "X-Apple-Content-Length: 5000",
      "",
      "",
      "--b1",
      "Content-Type: text/plain; charset=utf-8",
      "Content-Transfer-Encoding: Quoted-Printable",
      "X-Apple-Content-Length: 100",
      "",
      "",
      "--b1",
      "Content-Type: image/png",
      "Content-Transfer-Encoding: base64",
      "X-Apple-Content-Length: 10",
      "",
      "",
      "--b1--",
      "epilogue",
  };
  std::string out;
  for (const auto& line : lines) out += line + lineEnd;
  return out;
}

std::string binaryBytes(std::size_t size) {
  std::string bytes(size, '\0');
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 7 + i / 251) & 0xff);
  return bytes;
}

TEST(PartialMessageFolders, FolderWithTwoFilesOrNoneCountsAsMissing) {
  TempFolder store;
  const std::string original = threeStubs("\n");
  const auto path = store.write("Messages/7.partial.emlx", original);
  store.write("Attachments/7/2/first.bin", "one");
  store.write("Attachments/7/2/second.bin", "two");
  fs::create_directories(store.path() / "Attachments/7/3");
  const auto good = store.write("Attachments/7/4/Mail-Anhang.png", binaryBytes(300));
  store.write("Attachments/7/4/.DS_Store", "Finder");

  const RebuiltMessage rebuilt = RebuildPartialMessage(path, original);
  ASSERT_EQ(rebuilt.warnings.size(), 2u);
  EXPECT_EQ(rebuilt.warnings[0].path, path);
  EXPECT_EQ(rebuilt.warnings[0].text,
            "attachment of part 2 not found: its folder holds 2 files, expected one");
  EXPECT_EQ(rebuilt.warnings[1].text, "attachment of part 3 not found: its folder holds no file");
  // Parts 2 and 3 keep their stubs, marker included; part 4 is back.
  EXPECT_NE(rebuilt.bytes.find("X-Apple-Content-Length: 5000\n\n\n--b1"), std::string::npos);
  EXPECT_NE(rebuilt.bytes.find("X-Apple-Content-Length: 100\n\n\n--b1"), std::string::npos);
  EXPECT_EQ(rebuilt.bytes.find("X-Apple-Content-Length: 10\n"), std::string::npos);
  const Parsed parsed(rebuilt.bytes);
  ASSERT_NE(parsed.section("4"), nullptr);
  EXPECT_EQ(Parsed::decoded(parsed.section("4")), readFile(good));
  EXPECT_TRUE(
      rebuilt.bytes.starts_with(original.substr(0, original.find("X-Apple-Content-Length: 10"))));
  EXPECT_TRUE(rebuilt.bytes.ends_with("\n--b1--\nepilogue\n"));
}

// The plan counts each restored part without writing it; the count must be what is written, for
// attachments ending anywhere in a base64 group, a 76-character line or a read piece.
TEST(PartialMessageFolders, PlannedLengthIsTheRebuiltLength) {
  const std::size_t sizes[] = {0,   1,   2,   3,   4,     56,    57,    58,    113,    114,
                               115, 170, 171, 172, 65535, 65536, 65537, 65550, 196608, 200001};
  for (const std::string lineEnd : {"\n", "\r\n"}) {
    for (const std::size_t size : sizes) {
      TempFolder store;
      const std::string original = threeStubs(lineEnd);
      const auto path = store.write("Messages/9.partial.emlx", original);
      store.write("Attachments/9/2/data.bin", binaryBytes(size));
      store.write("Attachments/9/3/notes.txt", "caf\xc3\xa9 = 100%" + lineEnd + "end");
      store.write("Attachments/9/4/i.png", binaryBytes(size / 2 + 1));

      const PartialMessagePlan plan = PlanPartialMessage(path, original);
      const RebuiltMessage rebuilt = RebuildPartialMessage(path, original);
      EXPECT_TRUE(plan.warnings.empty());
      EXPECT_EQ(plan.length, rebuilt.bytes.size())
          << "attachment of " << size << " bytes, line end of " << lineEnd.size();
    }
  }
}

TEST(PartialMessageFolders, CrLfMessageGetsCrLfInWhatIsInserted) {
  TempFolder store;
  const std::string original = threeStubs("\r\n");
  const auto path = store.write("Messages/8.partial.emlx", original);
  const auto binary = store.write("Attachments/8/2/data.bin", binaryBytes(5000));
  std::string text = "caf\xc3\xa9 = 100% " + std::string(120, 'x') + "\r\nsecond line\ttab \r\nend";
  const auto textFile = store.write("Attachments/8/3/notes.txt", text);
  const auto image = store.write("Attachments/8/4/i.png", binaryBytes(10));

  const RebuiltMessage rebuilt = RebuildPartialMessage(path, original);
  expectRestored(original, rebuilt, {{"2", binary}, {"3", textFile}, {"4", image}});
  for (std::size_t i = 0; i < rebuilt.bytes.size(); ++i) {
    if (rebuilt.bytes[i] == '\n') {
      ASSERT_TRUE(i > 0 && rebuilt.bytes[i - 1] == '\r') << "lone LF at " << i;
    }
  }
}

TEST(PartialMessageFolders, SectionNumbersFollowImap) {
  TempFolder store;
  // A single-part message: its body is section 1, and the marker sits among its own headers.
  const std::string single =
      "From: a@example.com\nContent-Type: application/pdf\nContent-Transfer-Encoding: base64\n"
      "X-Apple-Content-Length: 900\nSubject: after the marker\n\n";
  const auto singlePath = store.write("Messages/1.partial.emlx", single);
  const auto pdf = store.write("Attachments/1/1/doc.pdf", binaryBytes(900));
  const RebuiltMessage singleRebuilt = RebuildPartialMessage(singlePath, single);
  expectRestored(single, singleRebuilt, {{"1", pdf}});

  // An attached message's parts nest under its number; a nested multipart is numbered as one
  // part of its parent.
  const std::string nested =
      "From: a@example.com\nContent-Type: multipart/mixed; boundary=outer\n\n"
      "--outer\nContent-Type: text/plain\n\nbody\n"
      "--outer\nContent-Type: message/rfc822\n\n"
      "From: b@example.com\nSubject: inner\nContent-Type: multipart/mixed; boundary=inner\n\n"
      "--inner\nContent-Type: text/plain\n\ninner text\n"
      "--inner\nContent-Type: application/zip\nContent-Transfer-Encoding: base64\n"
      "X-Apple-Content-Length: 400\n\n\n"
      "--inner--\n"
      "--outer\nContent-Type: multipart/alternative; boundary=alt\n\n"
      "--alt\nContent-Type: text/plain\n\nplain\n"
      "--alt\nContent-Type: text/html\nContent-Transfer-Encoding: 7bit\n"
      "X-Apple-Content-Length: 30\n\n\n"
      "--alt--\n"
      "--outer\nContent-Type: message/rfc822\n\n"
      "From: c@example.com\nContent-Type: image/gif\nContent-Transfer-Encoding: base64\n"
      "X-Apple-Content-Length: 50\n\n\n"
      "--outer--\n";
  const auto nestedPath = store.write("Messages/2.partial.emlx", nested);
  const auto zip = store.write("Attachments/2/2.2/a.zip", binaryBytes(400));
  const auto html = store.write("Attachments/2/3.2/page.html", "<p>hello</p>\n");
  const auto gif = store.write("Attachments/2/4.1/a.gif", binaryBytes(50));
  const RebuiltMessage nestedRebuilt = RebuildPartialMessage(nestedPath, nested);
  expectRestored(nested, nestedRebuilt, {{"2.2", zip}, {"3.2", html}, {"4.1", gif}});

  // A delimiter right after the header block: the inserted body gets a line end of its own.
  const std::string tight =
      "Content-Type: multipart/mixed; boundary=b\n\n--b\nContent-Transfer-Encoding: 7bit\n"
      "X-Apple-Content-Length: 13\n\n--b--\n";
  const auto tightPath = store.write("Messages/3.partial.emlx", tight);
  store.write("Attachments/3/1/page.html", "<p>hello</p>\n");
  EXPECT_EQ(RebuildPartialMessage(tightPath, tight).bytes,
            "Content-Type: multipart/mixed; boundary=b\n\n--b\nContent-Transfer-Encoding: 7bit\n"
            "\n<p>hello</p>\n\n--b--\n");
}

TEST(PartialMessageFolders, EmlxpartFilesGoBackAsTheyAreWithTheMessageLineEnds) {
  TempFolder store;
  const std::string original = threeStubs("\r\n");
  const auto path = store.write("Messages/9.partial.emlx", original);
  // Already base64, written with LF line ends; part 3 has no file anywhere.
  const std::string payload = binaryBytes(200);
  GMimeEncoding state;
  g_mime_encoding_init_encode(&state, GMIME_CONTENT_ENCODING_BASE64);
  std::string encoded(g_mime_encoding_outlen(&state, payload.size()), '\0');
  encoded.resize(g_mime_encoding_flush(&state, payload.data(), payload.size(), encoded.data()));
  store.write("Messages/9.2.emlxpart", encoded);
  store.write("Messages/9.4.emlxpart", "iVBORw==\n");

  const RebuiltMessage rebuilt = RebuildPartialMessage(path, original);
  ASSERT_EQ(rebuilt.warnings.size(), 1u);
  EXPECT_EQ(rebuilt.warnings[0].text, "attachment of part 3 not found");
  std::string crlf;
  for (char c : encoded) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
  EXPECT_NE(rebuilt.bytes.find("X-Apple-Content-Length: 100\r\n\r\n\r\n--b1"), std::string::npos);
  EXPECT_NE(rebuilt.bytes.find("base64\r\n\r\n" + crlf + "\r\n--b1\r\n"), std::string::npos);
  EXPECT_NE(rebuilt.bytes.find("base64\r\n\r\niVBORw==\r\n\r\n--b1--"), std::string::npos);
  const Parsed parsed(rebuilt.bytes);
  EXPECT_EQ(Parsed::decoded(parsed.section("2")), payload);
}

// An attachment that is not text, declared quoted-printable, decodes to its file byte for byte,
// CR and LF being data, in a message of each line end (GMime reads lines at LF only, so a
// lone-CR message is read with its CRs made LFs).
TEST(PartialMessageFolders, QuotedPrintableBytesDecodeToTheirFiles) {
  const std::string contents[] = {"a\r\nb\nc", "blank at the end \t", binaryBytes(3000),
                                  std::string("=\0\r \r\n", 6) + std::string(200, 'x') + "\n\n"};
  for (const std::string lineEnd : {"\n", "\r\n", "\r"}) {
    for (const std::string type : {"application/octet-stream", "image/png"}) {
      for (const std::string& content : contents) {
        SCOPED_TRACE(type + ", line end " + ::testing::PrintToString(lineEnd) + ", " +
                     std::to_string(content.size()) + " bytes");
        TempFolder store;
        std::string original;
        for (const char c :
             "Content-Type: multipart/mixed; boundary=b\n\n--b\nContent-Type: " + type +
                 "\nContent-Transfer-Encoding: quoted-printable\n"
                 "X-Apple-Content-Length: 9\n\n\n--b--\n") {
          original += c == '\n' ? lineEnd : std::string(1, c);
        }
        const auto path = store.write("Messages/4.partial.emlx", original);
        const auto file = store.write("Attachments/4/1/data", content);
        const RebuiltMessage rebuilt = RebuildPartialMessage(path, original);
        ASSERT_TRUE(rebuilt.warnings.empty()) << rebuilt.warnings.front().text;
        EXPECT_EQ(PlanPartialMessage(path, original).length, rebuilt.bytes.size());
        // The message's own line ends only, none of the file's, and no line over 76.
        std::string out = rebuilt.bytes;
        for (std::size_t at = 0, end; (end = out.find(lineEnd, at)) != std::string::npos;
             at = end + lineEnd.size()) {
          EXPECT_EQ(out.substr(at, end - at).find_first_of("\r\n"), std::string::npos) << at;
          EXPECT_LE(end - at, 76u);
        }
        if (lineEnd == "\r") std::replace(out.begin(), out.end(), '\r', '\n');
        const Parsed parsed(out);
        ASSERT_NE(parsed.section("1"), nullptr);
        EXPECT_EQ(Parsed::decoded(parsed.section("1")), readFile(file));
      }
    }
  }
}

}  // namespace
}  // namespace drovanta
