#include "mbox/mailbox_naming.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "support/temp_folder.h"

namespace drovanta {
namespace {

namespace fs = std::filesystem;

MailboxPlace windowsPlace(const std::string& destination, const std::string& message) {
  return MailboxPlaceFor(destination, message, '\\');
}

TEST(MailboxNaming, DriveLetterPathsDropTheirFirstThreeCharacters) {
  MailboxPlace place = windowsPlace("D:\\Out\\", "C:\\Data\\Mail\\Inbox\\Messages\\1.emlx");
  EXPECT_EQ(place.outputFolder, "D:\\Out\\Data\\Mail\\Inbox\\Messages\\");
  EXPECT_EQ(place.mailboxPath, "D:\\Out\\Data\\Mail\\Inbox\\Messages\\Messages.mbox");

  // Exactly three characters, whatever they are.
  place = windowsPlace("D:\\Out\\", "\\\\server\\share\\m\\1.emlx");
  EXPECT_EQ(place.outputFolder, "D:\\Out\\erver\\share\\m\\");
  EXPECT_EQ(place.mailboxPath, "D:\\Out\\erver\\share\\m\\m.mbox");

  // The same folder on two drives shares one mailbox; the file's own name plays no part.
  EXPECT_EQ(windowsPlace("D:\\Out\\", "C:\\A\\B\\1.emlx").mailboxPath, "D:\\Out\\A\\B\\B.mbox");
  EXPECT_EQ(windowsPlace("D:\\Out\\", "E:\\A\\B\\2.emlx").mailboxPath, "D:\\Out\\A\\B\\B.mbox");

  // The folder name is used unchanged, odd characters and all.
  EXPECT_EQ(windowsPlace("D:\\Out\\", "C:\\Mail\\Old & new (2019).mbox\\1.emlx").mailboxPath,
            "D:\\Out\\Mail\\Old & new (2019).mbox\\Old & new (2019).mbox.mbox");
}

TEST(MailboxNaming, DriveRootCases) {
  // A message in a drive's root: the mailbox is named after the destination folder.
  MailboxPlace place = windowsPlace("D:\\Out\\", "C:\\1.emlx");
  EXPECT_EQ(place.outputFolder, "D:\\Out\\");
  EXPECT_EQ(place.mailboxPath, "D:\\Out\\Out.mbox");
  // ... and when the destination is a drive's root too, the mailbox has a name of its own.
  place = windowsPlace("D:\\", "C:\\1.emlx");
  EXPECT_EQ(place.outputFolder, "D:\\");
  EXPECT_EQ(place.mailboxPath, "D:\\Root.mbox");
  // A destination root with a message below it takes the message's folder name.
  EXPECT_EQ(windowsPlace("D:\\", "C:\\Inbox\\1.emlx").mailboxPath, "D:\\Inbox\\Inbox.mbox");
  // A destination given without its final separator gets one.
  EXPECT_EQ(windowsPlace("D:\\Out", "C:\\Inbox\\1.emlx").mailboxPath, "D:\\Out\\Inbox\\Inbox.mbox");
}

TEST(MailboxNaming, PosixPathsDropOnlyTheirRoot) {
  MailboxPlace place =
      MailboxPlaceFor("/out/", "/Users/ann/Library/Mail/V10/Inbox.mbox/Messages/1.emlx", '/');
  EXPECT_EQ(place.outputFolder, "/out/Users/ann/Library/Mail/V10/Inbox.mbox/Messages/");
  EXPECT_EQ(place.mailboxPath, "/out/Users/ann/Library/Mail/V10/Inbox.mbox/Messages/Messages.mbox");

  EXPECT_EQ(MailboxPlaceFor("/out", "/home/a/9.emlx", '/').mailboxPath, "/out/home/a/a.mbox");

  place = MailboxPlaceFor("/out/", "/1.emlx", '/');
  EXPECT_EQ(place.outputFolder, "/out/");
  EXPECT_EQ(place.mailboxPath, "/out/out.mbox");

  place = MailboxPlaceFor("/", "/1.emlx", '/');
  EXPECT_EQ(place.outputFolder, "/");
  EXPECT_EQ(place.mailboxPath, "/Root.mbox");

  EXPECT_EQ(MailboxPlaceFor("/", "/srv/mail/2.emlx", '/').mailboxPath, "/srv/mail/mail.mbox");
}

TEST(MailboxNaming, MailboxPathForCreatesTheOutputFolder) {
  testing::TempFolder temp;
  const std::string destination = temp.str() + "/Out";
  const MailboxPlace place = MailboxPathFor(destination, "/Mail/Inbox/1.emlx");
  EXPECT_EQ(place.outputFolder, destination + "/Mail/Inbox/");
  EXPECT_EQ(place.mailboxPath, destination + "/Mail/Inbox/Inbox.mbox");
  EXPECT_TRUE(fs::is_directory(place.outputFolder));
  EXPECT_FALSE(fs::exists(place.mailboxPath));  // the mailbox is the record writer's to make

  // An existing folder is used as it is.
  temp.write("Out/Mail/Inbox/Inbox.mbox", "earlier records");
  EXPECT_EQ(MailboxPathFor(destination, "/Mail/Inbox/2.emlx").mailboxPath, place.mailboxPath);
  EXPECT_EQ(testing::readFile(place.mailboxPath), "earlier records");
}

TEST(MailboxNaming, MailboxPathForGoesOnWhenTheFolderCannotBeMade) {
  testing::TempFolder temp;
  const std::string blocker = temp.write("Out", "a file where the destination should be");
  const MailboxPlace place = MailboxPathFor(blocker, "/Mail/1.emlx");
  EXPECT_EQ(place.mailboxPath, blocker + "/Mail/Mail.mbox");
  EXPECT_FALSE(fs::exists(place.outputFolder));
  EXPECT_EQ(testing::readFile(blocker), "a file where the destination should be");
}

}  // namespace
}  // namespace drovanta
