#include "mbox/separator_line.h"

#include <gtest/gtest.h>

#include <clocale>
#include <filesystem>
#include <fstream>
#include <locale>
#include <string>

#include "support/message_reading.h"
#include "support/temp_folder.h"

namespace drovanta {
namespace {

namespace fs = std::filesystem;
using testing::TempFolder;

UtcDateTime at(int year, int month, int day, int hour = 0, int minute = 0, int second = 0) {
  UtcDateTime moment;
  moment.year = year;
  moment.month = month;
  moment.day = day;
  moment.hour = hour;
  moment.minute = minute;
  moment.second = second;
  return moment;  // weekday left at its default: the format works it out from the date
}

TEST(FormatTimestamp, FixedShapeWithLeadingZeros) {
  EXPECT_EQ(FormatTimestamp(at(2024, 3, 1, 17, 5, 9)), "Fri Mar 01 17:05:09 2024");
  EXPECT_EQ(FormatTimestamp(at(2026, 1, 5, 9, 7, 3)), "Mon Jan 05 09:07:03 2026");
  EXPECT_EQ(FormatTimestamp(at(1, 1, 1)), "Mon Jan 01 00:00:00 0001");
  EXPECT_EQ(FormatTimestamp(at(9999, 12, 31, 23, 59, 59)), "Fri Dec 31 23:59:59 9999");
}

TEST(FormatTimestamp, WeekdaysAcrossCenturyAndLeapRules) {
  EXPECT_EQ(FormatTimestamp(at(1970, 1, 1)).substr(0, 3), "Thu");
  EXPECT_EQ(FormatTimestamp(at(2000, 2, 29)).substr(0, 3), "Tue");
  EXPECT_EQ(FormatTimestamp(at(1900, 3, 1)).substr(0, 3), "Thu");
  EXPECT_EQ(FormatTimestamp(at(1600, 2, 29)).substr(0, 3), "Tue");
  EXPECT_EQ(FormatTimestamp(at(2023, 12, 31)).substr(0, 3), "Sun");
  EXPECT_EQ(FormatTimestamp(at(2024, 6, 15)).substr(0, 3), "Sat");
  const char* months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  for (int m = 1; m <= 12; ++m)
    EXPECT_EQ(FormatTimestamp(at(2024, m, 10)).substr(4, 3), months[m - 1]);
}

TEST(FormatTimestamp, EnglishWhateverTheLocale) {
  const char* chosen = nullptr;
  for (const char* name :
       {"de_DE.UTF-8", "fr_FR.UTF-8", "fi_FI.UTF-8", "ja_JP.UTF-8", "de_DE", "fr_FR"}) {
    if (std::setlocale(LC_ALL, name) != nullptr) {
      chosen = name;
      break;
    }
  }
  if (chosen == nullptr) GTEST_SKIP() << "no non-English locale installed";
  std::locale::global(std::locale(chosen));
  const std::string text = FormatTimestamp(at(2024, 3, 1, 17, 5, 9));
  std::locale::global(std::locale::classic());
  std::setlocale(LC_ALL, "C");
  EXPECT_EQ(text, "Fri Mar 01 17:05:09 2024");
}

TEST(BuildSeparatorLine, GoldenFiles) {
  const fs::path data = fs::path(DROVANTA_TEST_DATA_DIR) / "separator";
  std::ifstream expected(data / "expected.txt");
  ASSERT_TRUE(expected) << "missing " << (data / "expected.txt");
  int checked = 0;
  for (std::string row; std::getline(expected, row);) {
    if (row.empty() || row.front() == '#') continue;
    const std::size_t tab = row.find('\t');
    ASSERT_NE(tab, std::string::npos) << row;
    const std::string name = row.substr(0, tab);
    SCOPED_TRACE(name);
    const Outcome<std::string> line = SeparatorLineOf((data / "input" / name).string());
    ASSERT_TRUE(line.ok()) << describe(line.failure());
    EXPECT_EQ(*line, row.substr(tab + 1));
    ++checked;
  }
  EXPECT_GE(checked, 6);
}

TEST(BuildSeparatorLine, CorpusFiles) {
  const fs::path root = DROVANTA_CORPUS_DIR;
  ASSERT_TRUE(fs::is_directory(root)) << "no corpus at " << root;
  const fs::path messages = root / "partial-emlx-converter/test/__testdata/input/Messages";
  const Outcome<std::string> full = SeparatorLineOf((messages / "114862.emlx").string());
  ASSERT_TRUE(full.ok());
  EXPECT_EQ(*full, "From philipp@philippkatz.de Fri Jan 26 16:44:31 2018");
  const Outcome<std::string> japanese =
      SeparatorLineOf((messages / "465622.partial.emlx").string());
  ASSERT_TRUE(japanese.ok());
  EXPECT_EQ(*japanese, "From jigyouka06@jsps.go.jp Wed May 24 08:28:19 2017");

  // An unreadable Date header and no property list: the file's modification time.
  TempFolder folder;
  fs::path badTime;
  for (const auto& entry : fs::recursive_directory_iterator(root / "search-emlx-mailbox"))
    if (entry.path().filename() == "763983-badtime.emlx") badTime = entry.path();
  ASSERT_FALSE(badTime.empty());
  const std::string copy = folder.write("badtime.emlx", testing::readFile(badTime));
  fs::last_write_time(copy, std::chrono::file_clock::from_sys(
                                std::chrono::sys_seconds(std::chrono::seconds(1709312709))));
  const Outcome<std::string> line = SeparatorLineOf(copy);
  ASSERT_TRUE(line.ok());
  EXPECT_TRUE(line->ends_with(" Fri Mar 01 17:05:09 2024")) << *line;
}

TEST(BuildSeparatorLine, FailuresNameThePathAndTheReason) {
  TempFolder folder;
  const std::string absent = (folder.path() / "gone.emlx").string();
  const Outcome<std::string> missing = SeparatorLineOf(absent);
  ASSERT_FALSE(missing.ok());
  EXPECT_EQ(missing.failure().code, FailureCode::MessageMissing);
  EXPECT_EQ(describe(missing.failure()), absent + ": No such file or directory");

  const std::string directory = (folder.path() / "folder.emlx").string();
  fs::create_directories(directory);
  const Outcome<std::string> unreadable = SeparatorLineOf(directory);
  ASSERT_FALSE(unreadable.ok());
  EXPECT_EQ(unreadable.failure().code, FailureCode::MessageUnreadable);
  EXPECT_EQ(describe(unreadable.failure()), directory + ": Is a directory");
}

}  // namespace
}  // namespace drovanta
