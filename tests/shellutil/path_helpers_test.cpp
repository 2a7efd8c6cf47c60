#include "shellutil/path_helpers.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

namespace drovanta {
namespace {

TEST(PathHelpers, SplitsWindowsPathsAtTheLastBackslash) {
  EXPECT_EQ(GetFileName("C:\\Mail\\Inbox\\1.emlx", '\\'), "1.emlx");
  EXPECT_EQ(GetFolderPath("C:\\Mail\\Inbox\\1.emlx", '\\'), "C:\\Mail\\Inbox\\");
  EXPECT_EQ(GetFileName("1.emlx", '\\'), "1.emlx");
  EXPECT_EQ(GetFolderPath("1.emlx", '\\'), "");
  EXPECT_EQ(GetFileName("C:\\Mail\\", '\\'), "");
  EXPECT_EQ(GetFolderPath("C:\\Mail\\", '\\'), "C:\\Mail\\");
  EXPECT_EQ(GetFileName("C:\\", '\\'), "");
  EXPECT_EQ(GetFolderPath("C:\\", '\\'), "C:\\");
  EXPECT_EQ(GetFileName("C:/Mail/1.emlx", '\\'), "C:/Mail/1.emlx");
  EXPECT_EQ(GetFileName("C:\\Mail\\\\1.emlx", '\\'), "1.emlx");
  EXPECT_EQ(GetFolderPath("C:\\Mail\\\\1.emlx", '\\'), "C:\\Mail\\\\");
}

TEST(PathHelpers, SplitsPosixPathsWithTheSameRules) {
  EXPECT_EQ(GetFileName("/home/a/Inbox/1.emlx", '/'), "1.emlx");
  EXPECT_EQ(GetFolderPath("/home/a/Inbox/1.emlx", '/'), "/home/a/Inbox/");
  EXPECT_EQ(GetFileName("/", '/'), "");
  EXPECT_EQ(GetFolderPath("/", '/'), "/");
  EXPECT_EQ(GetFileName("a\\b", '/'), "a\\b");
}

TEST(PathHelpers, FolderPathThenFileNameGiveBackThePath) {
  for (const std::string path : {"C:\\a\\b.emlx", "x", "\\", "C:\\\\y", "a\\b\\"}) {
    EXPECT_EQ(GetFolderPath(path, '\\') + GetFileName(path, '\\'), path) << path;
  }
  EXPECT_EQ(GetFileName(""), "");
  EXPECT_EQ(GetFolderPath(""), "");
}

TEST(PathHelpers, AddSeparatorNeverDoublesIt) {
  EXPECT_EQ(AddSeparator("C:\\Mail", '\\'), "C:\\Mail\\");
  EXPECT_EQ(AddSeparator("C:\\Mail\\", '\\'), "C:\\Mail\\");
  EXPECT_EQ(AddSeparator("", '/'), "/");
}

TEST(PathHelpers, MakeAbsolutePathFoldsDotsWithoutResolvingLinks) {
  EXPECT_EQ(*MakeAbsolutePath("/a/b/../c/./d"), "/a/c/d");
  EXPECT_EQ(*MakeAbsolutePath("/a/b/"), "/a/b");
  EXPECT_EQ(*MakeAbsolutePath("/"), "/");
  const std::string relative = *MakeAbsolutePath("x/y");
  EXPECT_EQ(relative.front(), '/');
  EXPECT_EQ(GetFileName(relative), "y");
}

TEST(PathHelpers, MakeAbsolutePathFailsForAnEmptyPath) {
  const auto empty = MakeAbsolutePath("");
  ASSERT_FALSE(empty);
  EXPECT_EQ(empty.failure().code, FailureCode::PathUnresolvable);
  EXPECT_EQ(empty.failure().reason, "the path is empty");
}

// A name can hold any byte but "/" and NUL: shown to the user, it must not move the cursor,
// start a line of its own or send a terminal escape sequence.
TEST(PathHelpers, PrintableTextEscapesControlCharacters) {
  EXPECT_EQ(PrintableText("/Mail/Inbox\n3 converted\x1b[2J/1.emlx"),
            "/Mail/Inbox\\n3 converted\\x1b[2J/1.emlx");
  EXPECT_EQ(PrintableText(std::string("a\tb\rc\x7f\x01") + '\0'), "a\\tb\\rc\\x7f\\x01\\x00");
  // C1 controls in UTF-8 (U+009B is a control sequence introducer); other letters stay.
  EXPECT_EQ(PrintableText("x\xc2\x9b"
                          "31my \xc3\xa9"
                          "t\xc3\xa9 \xe2\x80\x93 \\"),
            "x\\xc2\\x9b31my \xc3\xa9"
            "t\xc3\xa9 \xe2\x80\x93 \\");
  EXPECT_EQ(PrintableText("plain/path.emlx"), "plain/path.emlx");
}

// Bytes outside well-formed UTF-8 are numbers, each on its own; the letters around them stay.
TEST(PathHelpers, PrintableTextEscapesEveryByteOutsideUtf8) {
  const std::pair<std::string, std::string> cases[] = {
      {"a\x9b"
       "1m",
       "a\\x9b1m"},                       // a lone C1 byte (Latin-1 CSI)
      {"caf\xe9.emlx", "caf\\xe9.emlx"},  // Latin-1 letter
      {"\xc3", "\\xc3"},                  // a sequence cut short at the end
      {"\xe2\x80"
       "x",
       "\\xe2\\x80x"},                               // cut short before a letter
      {"\xc0\xaf", "\\xc0\\xaf"},                    // overlong "/"
      {"\xe0\x80\xaf", "\\xe0\\x80\\xaf"},           // overlong, three bytes
      {"\xed\xa0\x80", "\\xed\\xa0\\x80"},           // a surrogate
      {"\xf4\x90\x80\x80", "\\xf4\\x90\\x80\\x80"},  // past U+10FFFF
      {"\xff\xfe", "\\xff\\xfe"},
      {"\xf0\x9f\x93\xa7 \xef\xbf\xbd", "\xf0\x9f\x93\xa7 \xef\xbf\xbd"},  // kept
  };
  for (const auto& [path, shown] : cases) EXPECT_EQ(PrintableText(path), shown) << shown;
}

}  // namespace
}  // namespace drovanta
