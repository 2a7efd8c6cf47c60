#include "mbox/thunderbird_naming.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "mbox/apple_accounts.h"
#include "support/temp_folder.h"

namespace drovanta {
namespace {

TEST(ThunderbirdFolderName, IsTheFileNameThunderbirdItselfMakes) {
  // Each expected name is the file Thunderbird 153 made for a folder created with that name.
  const struct {
    const char* name;
    const char* file;
  } cases[] = {
      {"plain name", "plain name"},
      {"Ünïcödé", "Ünïcödé"},
      {"a\\b", "a\\b"},
      {"a/b", "a72130ad9"},
      {"x;y", "x7fbc2063"},
      {"h#1", "hbc3468f3"},
      {"a:b*c?d", "ae0269b04"},
      {"q\"r", "q41b0ad44"},
      {"l<g>", "l88f9e65e"},
      {"p|q", "pd93a955c"},
      {"ctl\x01x", "ctlc1c414f7"},
      {".hidden", "8ca4e009"},
      {"trail.", "trailcdb699d7"},
      {"trail~", "trailfba99da7"},
      {"trail ", "trail58df45f9"},
      {"LLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLL",
       "LLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLeda7ed89"},
  };
  for (const auto& c : cases) EXPECT_EQ(ThunderbirdFolderName(c.name), c.file) << c.name;
}

TEST(AddThunderbirdParentFiles, MakesTheMissingFilesAndLeavesTheOthers) {
  const testing::TempFolder dest;
  const std::string local = dest.str() + "/Mail/Local Folders/";
  const std::string kept = dest.write("Mail/Local Folders/ann@x.org", "kept");
  const std::string mailbox = dest.write("Mail/Local Folders/ann@x.org.sbd/A.sbd/B", "From x\n");
  EXPECT_TRUE(AddThunderbirdParentFiles({mailbox}).empty());
  EXPECT_EQ(testing::readFile(kept), "kept");
  EXPECT_TRUE(std::filesystem::is_regular_file(local + "ann@x.org.sbd/A"));
  EXPECT_FALSE(std::filesystem::exists(dest.str() + "/Mail/Local Folders.sbd"));
}

}  // namespace
}  // namespace drovanta
