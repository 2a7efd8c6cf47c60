#include "message/message_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "support/temp_folder.h"

namespace drovanta {
namespace {

namespace fs = std::filesystem;
using testing::TempFolder;

// Many large files mapped at once (as many jobs hold), every one cut while mapped: a read past
// each new end gives zeros and marks that file changed, instead of ending the process. Half are
// read on other threads, as the parallel run reads them.
TEST(MessageFileTest, EveryMappingIsGuardedWhateverTheirNumber) {
  constexpr std::size_t kFiles = 300;
  constexpr std::size_t kSize = 2 * MessageFile::kReadLimit;
  TempFolder temp;
  std::vector<std::unique_ptr<MessageFile>> files;
  for (std::size_t i = 0; i < kFiles; ++i) {
    const std::string path = temp.write(std::to_string(i) + ".emlx", "Subject: cut\n\n");
    fs::resize_file(path, kSize);  // sparse: no disk space taken
    files.push_back(std::make_unique<MessageFile>());
    ASSERT_FALSE(files.back()->open(path));
    ASSERT_TRUE(files.back()->mapped());
    fs::resize_file(path, 4096);
  }
  const auto readPastTheEnd = [&](std::size_t first, std::size_t step) {
    for (std::size_t i = first; i < kFiles; i += step) {
      EXPECT_EQ(files[i]->bytes()[kSize - 1], '\0') << i;
    }
  };
  std::thread other(readPastTheEnd, 1, 2);
  readPastTheEnd(0, 2);
  other.join();
  for (std::size_t i = 0; i < kFiles; ++i) EXPECT_TRUE(files[i]->changed()) << i;
}

}  // namespace
}  // namespace drovanta
