#include "conversion/partial_message.h"

#include <gmime/gmime.h>
#include <gtest/gtest.h>

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
    if (!fs::is_directory(kCorpus)) GTEST_SKIP() << "corpus not present at " << kCorpus;
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

}  // namespace
}  // namespace drovanta
