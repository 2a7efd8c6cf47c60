#include "mbox/text_stream.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace drovanta {
namespace {

class StringOutput : public RecordOutput {
 public:
  bool write(std::string_view bytes) override {
    text.append(bytes);
    return true;
  }
  bool copyFileRange(int, std::uint64_t, std::uint64_t) override { return false; }
  std::string text;
};

// The record text as the rules say it, one rule after the other over the whole message.
std::string expectedText(const std::string& message, LineEnds mode) {
  const RecordForm form = RecordFormFor(mode, message);
  const std::string lineEnd(form.lineEnd());
  std::string text;
  for (std::size_t i = 0; i < message.size(); ++i) {
    const char c = message[i];
    if (c == '\r' && i + 1 < message.size() && message[i + 1] == '\n') {
      text += form.rewriteCrLf ? lineEnd : "\r\n";
      ++i;
    } else if (c == '\r') {
      text += form.loneCrEndsLine ? lineEnd : "\r";
    } else if (c == '\n') {
      text += form.rewriteLoneLf ? lineEnd : "\n";
    } else {
      text += c;
    }
  }
  std::string quoted;
  for (std::size_t lineStart = 0; lineStart < text.size();) {
    std::size_t at = lineStart;
    while (at < text.size() && text[at] == '>') ++at;
    if (text.compare(at, 5, "From ") == 0) quoted += '>';
    const std::size_t lf = text.find('\n', lineStart);
    const std::size_t next = lf == std::string::npos ? text.size() : lf + 1;
    quoted.append(text, lineStart, next - lineStart);
    lineStart = next;
  }
  if (quoted.empty() || quoted.back() != '\n') quoted += lineEnd;
  const bool emptyLine = quoted.starts_with("\n") || quoted.starts_with("\r\n") ||
                         quoted.find("\n\n") != std::string::npos ||
                         quoted.find("\n\r\n") != std::string::npos;
  if (!emptyLine) quoted += lineEnd;
  return quoted;
}

std::string streamed(const std::string& message, LineEnds mode, std::size_t pieceSize) {
  StringOutput out;
  TextStream stream(RecordFormFor(mode, message), out);
  for (std::size_t at = 0; at < message.size(); at += pieceSize) {
    EXPECT_TRUE(stream.feed(std::string_view(message).substr(at, pieceSize)));
  }
  EXPECT_TRUE(stream.finish());
  EXPECT_EQ(stream.length(), out.text.size());
  return out.text;
}

// Messages made of the pieces that matter (line ends of every kind, quotes, "From " and its
// near misses), fed whole and in pieces of every small size and around the scan's 16-byte
// blocks: the text is the same and is what the rules say, in every mode.
TEST(TextStreamTest, AnySplitGivesTheTextTheRulesSay) {
  const std::vector<std::string> tokens = {
      "\r", "\n", "\r\n", "From ", ">", "F", "From", "x", " ", "Fro", "abcdefghijklmnopq"};
  std::mt19937 random(7);
  for (int round = 0; round < 3000; ++round) {
    std::string message;
    const int count = static_cast<int>(random() % 40);
    for (int i = 0; i < count; ++i) message += tokens[random() % tokens.size()];
    for (const LineEnds mode : {LineEnds::Auto, LineEnds::CrLf, LineEnds::Lf}) {
      const std::string expected = expectedText(message, mode);
      ASSERT_EQ(streamed(message, mode, message.size() + 1), expected) << message;
      for (const std::size_t piece : {1U, 2U, 3U, 5U, 7U, 16U, 17U}) {
        ASSERT_EQ(streamed(message, mode, piece), expected) << message << " in " << piece;
      }
    }
  }
}

// The scan that decides whether the kernel may copy a message says "changed" exactly when the
// text differs from the message (its added end aside).
TEST(TextStreamTest, ChangedExactlyWhenTheTextDiffersFromTheMessage) {
  const std::vector<std::string> tokens = {"\r", "\n", "\r\n", "From ", ">", "x", "y\n"};
  std::mt19937 random(11);
  for (int round = 0; round < 3000; ++round) {
    std::string message = "S: 1\n\n";
    const int count = static_cast<int>(random() % 12);
    for (int i = 0; i < count; ++i) message += tokens[random() % tokens.size()];
    for (const LineEnds mode : {LineEnds::Auto, LineEnds::CrLf, LineEnds::Lf}) {
      StringOutput out;
      TextStream stream(RecordFormFor(mode, message), out);
      ASSERT_TRUE(stream.feed(message));
      ASSERT_TRUE(stream.flushHeld());
      EXPECT_EQ(stream.changed(), out.text != message) << message;
    }
  }
}

}  // namespace
}  // namespace drovanta
