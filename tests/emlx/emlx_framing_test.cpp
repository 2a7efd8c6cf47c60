#include "emlx/emlx_framing.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <utility>

#include "emlx/property_list.h"
#include "message/message_file.h"
#include "support/emlx_bytes.h"
#include "support/temp_folder.h"

namespace drovanta {
namespace {

namespace fs = std::filesystem;
using testing::readFile;

std::string_view messageOf(std::string_view bytes, const EmlxFrame& frame) {
  return bytes.substr(frame.messageBegin, frame.messageLength);
}

const std::string kPlist =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
    "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
    "<plist version=\"1.0\">\n<dict>\n\t<key>date-received</key>\n\t<integer>1517000478</integer>\n"
    "</dict>\n</plist>";

TEST(EmlxFraming, CountLineForms) {
  const std::string message = "Subject: hi\n\nbody\n";
  const std::string count = std::to_string(message.size());
  for (const std::string& line : {count + "\n", count + "      \n", count + "\r\n",
                                  "  " + count + " \t\r\n", "\t" + count + "\n"}) {
    SCOPED_TRACE(line);
    const std::string bytes = line + message + kPlist + "\n";
    const EmlxFrame frame = FrameEmlx(bytes, true);
    EXPECT_TRUE(frame.framed);
    EXPECT_EQ(frame.messageBegin, line.size());
    EXPECT_EQ(messageOf(bytes, frame), message);
    EXPECT_EQ(frame.propertyList, kPlist);
  }
}

TEST(EmlxFraming, FirstLineThatIsNotACountTakesTheFileWhole) {
  for (const std::string& bytes :
       {std::string("Mime-Version: 1.0\nSubject: x\n\nbody\n"), std::string("12a\nSubject: x\n"),
        std::string("1 2\nSubject: x\n"), std::string("\nSubject: x\n"), std::string("   \nx\n"),
        std::string("42"), std::string()}) {
    SCOPED_TRACE(bytes);
    const EmlxFrame frame = FrameEmlx(bytes, true);
    EXPECT_FALSE(frame.framed);
    EXPECT_EQ(frame.messageBegin, 0u);
    EXPECT_EQ(frame.messageLength, bytes.size());
    EXPECT_TRUE(frame.propertyList.empty());
  }
}

// A count line gone wrong ("-5") is no message's first line: left out, with a warning, and the
// rest framed as a file without a count line.
TEST(EmlxFraming, ASignedCountLineIsBrokenAndLeftOut) {
  const std::string message = "Subject: x\n\nbody\n";
  for (const std::string line : {"-5", "+12", " -0 "}) {
    SCOPED_TRACE(line);
    for (const std::string& plist : {std::string(), kPlist}) {
      const std::string bytes = line + "\r\n" + message + plist;
      const EmlxFrame frame = FrameEmlx(bytes, true);
      EXPECT_FALSE(frame.framed);
      EXPECT_EQ(messageOf(bytes, frame), message);
      EXPECT_EQ(frame.propertyList, plist);
      EXPECT_EQ(CountLineWarning(bytes, frame, false),
                "count line \"" + std::string(line == " -0 " ? "-0" : line) +
                    "\" is no byte count: the line is left out");
    }
  }
}

TEST(EmlxFraming, NameThatFailsTheEmlxTestTakesTheFileWhole) {
  const std::string bytes = "5\nabcde" + kPlist;
  const EmlxFrame frame = FrameEmlx(bytes, false);
  EXPECT_FALSE(frame.framed);
  EXPECT_EQ(frame.messageLength, bytes.size());
}

TEST(EmlxFraming, CountBeyondTheDataTakesWhatRemains) {
  const std::string bytes = "900\nSubject: short\n\nbody\n";
  const EmlxFrame frame = FrameEmlx(bytes, true);
  EXPECT_TRUE(frame.framed);
  EXPECT_EQ(messageOf(bytes, frame), "Subject: short\n\nbody\n");
  EXPECT_TRUE(frame.propertyList.empty());

  // A count too large for any integer type still reads as "everything".
  const std::string huge = "99999999999999999999999999\nSubject: x\n";
  EXPECT_EQ(messageOf(huge, FrameEmlx(huge, true)), "Subject: x\n");
}

TEST(EmlxFraming, OvershootingCountCutsOffTheSwallowedPropertyList) {
  for (const std::string& lineEnd : {std::string("\n"), std::string("\r\n")}) {
    const std::string message = "Subject: x" + lineEnd + lineEnd + "body" + lineEnd;
    for (const std::string& after : {std::string(), std::string("\n"), std::string(" \r\n\t\n")}) {
      const std::string bytes = "5000" + lineEnd + message + kPlist + after;
      const EmlxFrame frame = FrameEmlx(bytes, true);
      EXPECT_EQ(messageOf(bytes, frame), message);
      EXPECT_EQ(frame.propertyList, kPlist);
    }
  }
}

TEST(EmlxFraming, PropertyListTextInsideACorrectlyCountedMessageStays) {
  // The message itself ends with a plist (say, a pasted one); the count is right and the real
  // list follows, so nothing of the message is cut.
  const std::string message = "Subject: x\n\n" + kPlist + "\n";
  const std::string bytes = testing::EmlxBytes(message) + kPlist;
  const EmlxFrame frame = FrameEmlx(bytes, true);
  EXPECT_EQ(messageOf(bytes, frame), message);
  EXPECT_EQ(frame.propertyList, kPlist);
}

TEST(EmlxFraming, XmlDeclarationMustOpenALineToBeCut) {
  const std::string message = "Subject: x\n\nsee <?xml a?> and </plist>";
  const std::string bytes = "5000\n" + message;
  EXPECT_EQ(messageOf(bytes, FrameEmlx(bytes, true)), message);
}

TEST(EmlxFraming, WithoutCountLineATrailingPropertyListIsCutOff) {
  for (const std::string& lineEnd : {std::string("\n"), std::string("\r\n")}) {
    const std::string message = "Subject: x" + lineEnd + lineEnd + "body" + lineEnd;
    for (const std::string& after : {std::string(), std::string("\n")}) {
      const std::string bytes = message + kPlist + after;
      const EmlxFrame frame = FrameEmlx(bytes, true);
      EXPECT_FALSE(frame.framed);
      EXPECT_EQ(messageOf(bytes, frame), message);
      EXPECT_EQ(frame.propertyList, kPlist);
    }
  }
  // A list that does not end the file, or a name that is not an .emlx name: taken whole.
  for (const auto& [bytes, isEmlxName] :
       {std::pair{"Subject: x\n\n" + kPlist + "\nmore text\n", true},
        std::pair{"Subject: x\n\n" + kPlist, false}}) {
    const EmlxFrame frame = FrameEmlx(bytes, isEmlxName);
    EXPECT_EQ(frame.messageLength, bytes.size());
    EXPECT_TRUE(frame.propertyList.empty());
  }
}

// Real Apple Mail files.
class CorpusFraming : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = DROVANTA_CORPUS_DIR;
    ASSERT_TRUE(fs::is_directory(root_)) << "no corpus at " << root_;
  }
  std::string load(const std::string& relative) { return readFile(fs::path(root_) / relative); }
  // The sanitised fixtures sit a few folders down; they are found by their unique names.
  std::string fixture(const std::string& name) {
    for (const auto& entry :
         fs::recursive_directory_iterator(fs::path(root_) / "search-emlx-mailbox"))
      if (entry.path().filename() == name) return fs::relative(entry.path(), root_).string();
    ADD_FAILURE() << "missing corpus file " << name;
    return name;
  }
  std::string root_;
};

constexpr const char* kMessages = "partial-emlx-converter/test/__testdata/input/Messages/";
constexpr const char* kSkip = "partial-emlx-converter/test/__testdata/skip-emlx/";
constexpr const char* kTerhechte = "terhechte-emlx/tests/emails/";

TEST_F(CorpusFraming, CountsPaddedOrNotFollowedByPropertyList) {
  struct Case {
    const char* file;
    std::size_t begin, length;
    const char* firstHeader;
  };
  // "2945" is padded with spaces to ten characters; "3685" is not padded.
  for (const Case& c : {Case{"114862.emlx", 11, 2945, "Return-Path: <"},
                        Case{"11507.emlx", 5, 3685, "X-Antivirus: "}}) {
    SCOPED_TRACE(c.file);
    const std::string bytes = load(std::string(kMessages) + c.file);
    const EmlxFrame frame = FrameEmlx(bytes, true);
    ASSERT_TRUE(frame.framed);
    EXPECT_EQ(frame.messageBegin, c.begin);
    EXPECT_EQ(frame.messageLength, c.length);
    EXPECT_TRUE(messageOf(bytes, frame).starts_with(c.firstHeader));
    EXPECT_TRUE(frame.propertyList.starts_with("<?xml"));
    EXPECT_TRUE(frame.propertyList.ends_with("</plist>"));
    EXPECT_TRUE(ParsePropertyList(frame.propertyList).dateReceived.has_value());
  }
}

TEST_F(CorpusFraming, OvershootingCountsLeaveNoPropertyListInTheMessage) {
  for (const std::string& file :
       {std::string(kMessages) + "136153.partial.emlx",
        std::string(kMessages) + "207046.partial.emlx",
        std::string(kMessages) + "229417.partial.emlx", std::string(kTerhechte) + "broken3.emlx"}) {
    SCOPED_TRACE(file);
    const std::string bytes = load(file);
    const EmlxFrame frame = FrameEmlx(bytes, true);
    ASSERT_TRUE(frame.framed);
    const std::string_view message = messageOf(bytes, frame);
    EXPECT_EQ(message.find("<?xml"), std::string_view::npos);
    EXPECT_EQ(message.find("</plist>"), std::string_view::npos);
    EXPECT_TRUE(message.ends_with("\n"));
    EXPECT_TRUE(frame.propertyList.starts_with("<?xml version="));
    EXPECT_TRUE(frame.propertyList.ends_with("</plist>"));
    EXPECT_TRUE(ParsePropertyList(frame.propertyList).dateReceived.has_value());
    EXPECT_EQ(frame.messageBegin + frame.messageLength + frame.propertyList.size(),
              bytes.find_last_not_of(" \t\r\n") + 1);
  }
}

TEST_F(CorpusFraming, CountLargerThanFileWithoutPropertyList) {
  for (const std::string& file :
       {std::string(kTerhechte) + "broken1.emlx", fixture("763983.emlx"), fixture("763933.emlx")}) {
    SCOPED_TRACE(file);
    const std::string bytes = load(file);
    const EmlxFrame frame = FrameEmlx(bytes, true);
    ASSERT_TRUE(frame.framed);
    EXPECT_EQ(frame.messageBegin + frame.messageLength, bytes.size());
    EXPECT_TRUE(frame.propertyList.empty());
  }
}

TEST_F(CorpusFraming, FilesWithoutCountLineLoseOnlyTheirTrailingPropertyList) {
  const std::string invalid = load(std::string(kSkip) + "invalid.emlx");
  EXPECT_FALSE(FrameEmlx(invalid, true).framed);
  EXPECT_EQ(FrameEmlx(invalid, true).messageLength, invalid.size());

  const std::string broken = load(std::string(kTerhechte) + "broken2.emlx");
  const EmlxFrame frame = FrameEmlx(broken, true);
  EXPECT_FALSE(frame.framed);
  EXPECT_EQ(frame.messageBegin, 0u);
  EXPECT_TRUE(messageOf(broken, frame).starts_with("Mime-Version: 1.0\n"));
  EXPECT_EQ(broken.substr(frame.messageLength, 5), "<?xml");
  EXPECT_EQ(ParsePropertyList(frame.propertyList).dateReceived, 1581000000.0);
}

// The first file of a run may be empty: its bytes are a view that C functions can be given.
TEST(EmlxFraming, NoBytesAtAllFrameAsAnEmptyMessage) {
  const std::string path =
      (std::filesystem::temp_directory_path() / "drovanta-empty.emlx").string();
  { std::ofstream(path, std::ios::binary); }
  MessageFile empty;
  ASSERT_FALSE(empty.open(path));
  EXPECT_NE(empty.bytes().data(), nullptr);
  std::filesystem::remove(path);
  for (const std::string_view none : {std::string_view(), empty.bytes()}) {
    const EmlxFrame frame = FrameEmlx(none, true);
    EXPECT_FALSE(frame.framed);
    EXPECT_EQ(frame.messageLength, 0u);
    EXPECT_EQ(CountLineWarning(none, frame, false), "");
  }
}

// {"flags": 1, "date-received": 1700000000} as a binary property list.
const char kBinaryPlistBytes[] =
    "\x62\x70\x6c\x69\x73\x74\x30\x30\xd2\x01\x02\x03\x04\x5d\x64\x61\x74\x65\x2d\x72"
    "\x65\x63\x65\x69\x76\x65\x64\x55\x66\x6c\x61\x67\x73\x12\x65\x53\xf1\x00\x10\x01"
    "\x08\x0d\x1b\x21\x26\x00\x00\x00\x00\x00\x00\x01\x01\x00\x00\x00\x00\x00\x00\x00"
    "\x05\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x28";
const std::string kBinaryPlist(kBinaryPlistBytes, sizeof kBinaryPlistBytes - 1);

// A count line that disagrees with what follows: the list of Apple Mail's that ends the file
// bounds the message wherever the count ends, and without one no message byte is lost; what was
// done is said.
TEST(EmlxFraming, ACountLineThatDisagreesLosesNoMessageByte) {
  const std::string message = "Subject: hi\n\nbody\n";  // 18 bytes
  const std::string rest = "; all 18 are converted";
  const std::string toList = rest + ", up to the property list";
  // A plist mailed as the message's own text: no key of Apple Mail's list.
  const std::string inlined =
      "Subject: x\n\n<?xml version=\"1.0\"?>\n<plist version=\"1.0\">\n"
      "<dict><key>Name</key><string>demo</string></dict>\n</plist>\n";
  const std::string n = std::to_string(inlined.size());
  struct Case {
    std::string file, message, list, warning;
  };
  for (const Case& c : {
           Case{"18\n" + message + kPlist, message, kPlist, ""},
           Case{"18\n" + message + "\n\n" + kPlist, message, kPlist, ""},
           Case{"0\n\n" + kPlist, "", kPlist, ""},
           // Too long: past the end, over the whole list, or into it.
           Case{"500\n" + message + kPlist, message, kPlist,
                "count line says 500 bytes, 18 follow"},
           Case{std::to_string(18 + kPlist.size()) + "\n" + message + kPlist + "\n", message,
                kPlist,
                "count line says " + std::to_string(18 + kPlist.size()) + " bytes, 18 follow"},
           Case{"68\n" + message + kPlist, message, kPlist, "count line says 68 bytes, 18 follow"},
           Case{"38\n" + message + kBinaryPlist, message, kBinaryPlist,
                "count line says 38 bytes, 18 follow"},
           // Too short, or 0: the message runs to the list, or to the end without one.
           Case{"10\n" + message + kPlist, message, kPlist,
                "count line says 10 bytes, 18 follow" + toList},
           Case{"0\n" + message + kPlist, message, kPlist,
                "count line says 0 bytes, 18 follow" + toList},
           Case{"10\n" + message + kBinaryPlist, message, kBinaryPlist,
                "count line says 10 bytes, 18 follow" + toList},
           Case{"10\n" + message, message, "", "count line says 10 bytes, 18 follow" + rest},
           Case{"10\n" + inlined + kPlist, inlined, kPlist,
                "count line says 10 bytes, " + n + " follow; all " + n +
                    " are converted, up to the property list"},
           // A list that is not Apple Mail's is the message's text, whatever the count.
           Case{n + "\n" + inlined, inlined, "", ""},
           Case{"5000\n" + inlined, inlined, "", "count line says 5000 bytes, " + n + " follow"},
           // After a right count, a list cut short and zeros are no message's text.
           Case{"18\n" + message + kPlist.substr(0, 60), message, "",
                "60 bytes after the message are left out: a property list cut short"},
           Case{"18\n" + message + std::string(100, '\0'), message, "",
                "100 bytes after the message are left out: they start with a zero byte"},
       }) {
    SCOPED_TRACE(c.file);
    const EmlxFrame frame = FrameEmlx(c.file, true);
    EXPECT_EQ(messageOf(c.file, frame), c.message);
    EXPECT_EQ(frame.propertyList, c.list);
    EXPECT_EQ(ParsePropertyList(frame.propertyList).hasMessageKey, !c.list.empty());
    EXPECT_EQ(CountLineWarning(c.file, frame, false), c.warning);
  }
  // A partial message counts the parts stored apart: more than follows is what it should say.
  const auto partialWarning = [](const std::string& bytes) {
    return CountLineWarning(bytes, FrameEmlx(bytes, true), true);
  };
  EXPECT_EQ(partialWarning("500\n" + message + kPlist), "");
  EXPECT_EQ(partialWarning("10\n" + message + kPlist),
            "count line says 10 bytes, 18 follow" + toList);
  // Not framed: nothing to disagree with.
  EXPECT_EQ(partialWarning("From: x\n\nbody"), "");
}

// A binary list is found wherever an XML one is; its bytes are never trimmed as white space.
TEST(EmlxFraming, ABinaryPropertyListIsFramedAndReadLikeAnXmlOne) {
  const std::string message = "Subject: hi\n\nbody\n";  // 18 bytes
  const std::string torn = kBinaryPlist.substr(0, kBinaryPlist.size() - 1);
  struct Case {
    std::string file;
    std::string list;     // the property list framed
    std::string warning;  // about the count line
  };
  for (const Case& c :
       {Case{"18\n" + message + kBinaryPlist, kBinaryPlist, ""},
        Case{"18\n" + message + kBinaryPlist + "\n", kBinaryPlist, ""},
        Case{"95\n" + message + kBinaryPlist, kBinaryPlist, "count line says 95 bytes, 18 follow"},
        Case{message + kBinaryPlist, kBinaryPlist, ""},
        Case{"18\n" + message + torn, "",
             "76 bytes after the message are left out: a property list cut short"}}) {
    SCOPED_TRACE(c.file);
    const EmlxFrame frame = FrameEmlx(c.file, true);
    EXPECT_EQ(messageOf(c.file, frame), message);
    EXPECT_EQ(frame.propertyList, c.list);
    EXPECT_EQ(TrailingPropertyList(c.file), c.list);
    EXPECT_EQ(CountLineWarning(c.file, frame, false), c.warning);
    const EmlxProperties properties = ParsePropertyList(frame.propertyList);
    EXPECT_EQ(properties.flags, c.list.empty() ? std::nullopt : std::optional<std::uint64_t>(1));
  }
}

// Only the start of a file may hold the count line and only its end the property list: a huge
// file is not read through to find either.
TEST(EmlxFraming, CountLineAndPropertyListAreLookedForOnlyWhereTheyCanBe) {
  const std::string message = "Subject: hi\n\nbody\n";
  EXPECT_TRUE(FrameEmlx(std::string(4000, ' ') + "18\n" + message, true).framed);
  EXPECT_FALSE(FrameEmlx(std::string(5000, ' ') + "18\n" + message, true).framed);
  const std::string near = "18\n" + message + std::string(500000, 'x') + kPlist;
  EXPECT_FALSE(FrameEmlx(near, true).propertyList.empty());
  const std::string far = "18\n" + message + kPlist + std::string(1100000, 'x');
  EXPECT_TRUE(FrameEmlx(far, true).propertyList.empty());
}

// Another tool's framing files: no property list, and bytes after the count that could be the
// message's own end. They are kept, and said.
TEST_F(CorpusFraming, BytesAfterAShortCountWithoutAListAreKept) {
  for (const auto& [name, count] :
       {std::pair{"test-small.txt", 8}, std::pair{"test-large.txt", 537723}}) {
    const std::string bytes = load(std::string(kSkip) + name);
    const EmlxFrame frame = FrameEmlx(bytes, true);
    const std::size_t follow = bytes.size() - frame.messageBegin;
    EXPECT_EQ(frame.messageLength, follow);
    EXPECT_EQ(CountLineWarning(bytes, frame, false),
              "count line says " + std::to_string(count) + " bytes, " + std::to_string(follow) +
                  " follow; all " + std::to_string(follow) + " are converted");
    EXPECT_FALSE(FrameEmlx(bytes, false).framed);
  }
}

TEST_F(CorpusFraming, TruncatedFilesStayInsideTheirBytes) {
  // Every prefix of a real file, as a copy cut short would leave it.
  const std::string bytes = load(std::string(kMessages) + "114862.emlx");
  for (std::size_t n = 0; n <= bytes.size(); ++n) {
    const std::string_view cut = std::string_view(bytes).substr(0, n);
    const EmlxFrame frame = FrameEmlx(cut, true);
    ASSERT_LE(frame.messageBegin + frame.messageLength, n) << n;
    if (frame.framed) {
      ASSERT_EQ(frame.messageBegin, 11u) << n;
    }
    ASSERT_TRUE(frame.propertyList.empty() || frame.propertyList.ends_with("</plist>")) << n;
  }
}

}  // namespace
}  // namespace drovanta
