#include "run/read_ahead.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "support/temp_folder.h"

namespace drovanta {
namespace {

using testing::TempFolder;

constexpr std::size_t kFileSize = 256 * 1024;

// Writes the file to disk and drops it from the page cache, as if the machine had just started.
void evict(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY);
  if (fd < 0) return;
  ::fdatasync(fd);
  ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
  ::close(fd);
}

// How many of the file's pages are in the page cache.
std::size_t pagesInMemory(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY);
  void* map = ::mmap(nullptr, kFileSize, PROT_READ, MAP_SHARED, fd, 0);
  ::close(fd);
  if (map == MAP_FAILED) return 0;
  const std::size_t page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
  std::vector<unsigned char> resident((kFileSize + page - 1) / page);
  ::mincore(map, kFileSize, resident.data());
  ::munmap(map, kFileSize);
  std::size_t count = 0;
  for (unsigned char flag : resident) count += flag & 1;
  return count;
}

// Waits a while for the kernel's reading to finish: the hint starts it, it does not wait for it.
bool becomesResident(const std::string& path) {
  const std::size_t allPages = kFileSize / static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
  for (int i = 0; i < 500; ++i) {
    if (pagesInMemory(path) == allPages) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

TEST(ReadAhead, AnnouncesTheFilesAfterTheCurrentRowOnly) {
  TempFolder temp;
  std::vector<std::string> rows;
  for (int n = 0; n < 12; ++n) {
    rows.push_back(temp.write("Mail/" + std::to_string(n) + ".emlx", std::string(kFileSize, 'x')));
  }
  rows.insert(rows.begin() + 2, temp.str() + "/Mail/missing.emlx");  // passed over quietly
  rows.insert(rows.begin() + 4, "   ");  // the empty row of an empty list, passed over too
  for (const std::string& row : rows) evict(row);
  if (pagesInMemory(rows[0]) != 0) GTEST_SKIP() << "this file system keeps files in memory";

  VectorRowSource source(rows);
  ReadAhead readAhead(source, static_cast<long>(rows.size()));
  readAhead.announceAfter(0);
  for (long row = 1; row <= ReadAhead::kFilesAhead; ++row) {
    if (row == 2 || row == 4) continue;
    EXPECT_TRUE(becomesResident(rows[static_cast<std::size_t>(row)])) << row;
  }
  EXPECT_EQ(pagesInMemory(rows[0]), 0u);
  EXPECT_EQ(pagesInMemory(rows[ReadAhead::kFilesAhead + 1]), 0u);

  // The next row announces just the one file that came into reach.
  readAhead.announceAfter(1);
  EXPECT_TRUE(becomesResident(rows[ReadAhead::kFilesAhead + 1]));
  EXPECT_EQ(pagesInMemory(rows[ReadAhead::kFilesAhead + 2]), 0u);
}

TEST(ReadAhead, GoesQuietWhileFilesAreInMemoryAndWakesAtTheFirstThatIsNot) {
  TempFolder temp;
  // A warm stretch long enough to go quiet, then files fresh from disk.
  const long warm = ReadAhead::kInMemoryBeforeQuiet + 10;
  const long count = warm + 2 * ReadAhead::kProbeSpacing;
  std::vector<std::string> rows;
  for (long n = 0; n < count; ++n) {
    rows.push_back(temp.write(std::to_string(n) + ".emlx", std::string(kFileSize, 'x')));
    if (n >= warm) evict(rows.back());
  }
  if (pagesInMemory(rows[warm]) != 0) GTEST_SKIP() << "this file system keeps files in memory";

  VectorRowSource source(rows);
  ReadAhead readAhead(source, count);
  for (long row = 0; row < count; ++row) readAhead.announceAfter(row);
  // The quiet stretch looked at one file in kProbeSpacing; the first cold one among those woke
  // it, and every file after that was announced.
  ASSERT_TRUE(becomesResident(rows.back()));
  long firstAnnounced = warm;
  while (firstAnnounced < count &&
         pagesInMemory(rows[static_cast<std::size_t>(firstAnnounced)]) == 0) {
    ++firstAnnounced;
  }
  ASSERT_GE(firstAnnounced, warm);
  EXPECT_LT(firstAnnounced, warm + ReadAhead::kProbeSpacing);
  EXPECT_GT(firstAnnounced, warm) << "announced while quiet";
  for (long row = firstAnnounced + 1; row < count; ++row) {
    EXPECT_TRUE(becomesResident(rows[static_cast<std::size_t>(row)])) << row;
  }
}

}  // namespace
}  // namespace drovanta
