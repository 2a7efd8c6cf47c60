#include "mbox/apple_mailbox_naming.h"

#include <gtest/gtest.h>

#include "mbox/apple_layout.h"

namespace drovanta {
namespace {

constexpr const char* kStore = "/Users/ann/Library/Mail/V10/0A1B-ACCT/";

TEST(AppleLayoutTest, MailboxFileSitsUnderTheAccountFolderWhateverTheShards) {
  const std::string inShards =
      std::string(kStore) + "INBOX.mbox/9F3E-UUID/Data/1/2/Messages/12345.emlx";
  const std::string inMessages = std::string(kStore) + "INBOX.mbox/Messages/7.partial.emlx";
  for (const auto& path : {inShards, inMessages}) {
    const auto place = AppleMailboxPlaceFor("/out", path, '/');
    ASSERT_TRUE(place) << path;
    EXPECT_EQ(place->outputFolder, "/out/0A1B-ACCT/");
    EXPECT_EQ(place->mailboxPath, "/out/0A1B-ACCT/INBOX.mbox");
  }
}

TEST(AppleLayoutTest, NestedMailboxesBecomeFoldersAndNoindexIsDropped) {
  const auto nested = AppleMailboxPlaceFor(
      "/out/", "/m/IMAP-ann@mail.example/[Gmail].mbox/All Mail.mbox/U/Data/Messages/1.emlx", '/');
  ASSERT_TRUE(nested);
  EXPECT_EQ(nested->outputFolder, "/out/IMAP-ann@mail.example/[Gmail]/");
  EXPECT_EQ(nested->mailboxPath, "/out/IMAP-ann@mail.example/[Gmail]/All Mail.mbox");

  const auto parent =
      AppleMailboxPlaceFor("/out", "/m/IMAP-ann@mail.example/[Gmail].mbox/Messages/2.emlx", '/');
  ASSERT_TRUE(parent);
  EXPECT_EQ(parent->mailboxPath, "/out/IMAP-ann@mail.example/[Gmail].mbox");

  const auto noindex =
      AppleMailboxPlaceFor("/out", "/m/Acct/Sent Messages.MBOX.noindex/Messages/3.emlx", '/');
  ASSERT_TRUE(noindex);
  EXPECT_EQ(noindex->mailboxPath, "/out/Acct/Sent Messages.mbox");
}

TEST(AppleLayoutTest, PathsWithoutMailboxFolderKeepTheDefaultNaming) {
  EXPECT_FALSE(AppleMailboxPlaceFor("/out", "/home/ann/mail/Messages/1.emlx", '/'));
  // A file named like a mailbox is not a folder on the path; a bare ".mbox" has no name.
  EXPECT_FALSE(AppleMailboxPlaceFor("/out", "/home/ann/INBOX.mbox", '/'));
  EXPECT_FALSE(AppleMailboxPlaceFor("/out", "/home/.mbox/1.emlx", '/'));
  EXPECT_FALSE(AppleMailboxPlaceFor("/out", "1.emlx", '/'));
  EXPECT_FALSE(AppleLayoutPlacer()("/out", "/plain/1.emlx"));
}

TEST(AppleLayoutTest, MailboxAtTheRootHasNoAccountFolder) {
  const auto posix = AppleMailboxPlaceFor("/out", "/INBOX.mbox/Messages/1.emlx", '/');
  ASSERT_TRUE(posix);
  EXPECT_EQ(posix->mailboxPath, "/out/INBOX.mbox");
  const auto drive = AppleMailboxPlaceFor("D:\\out", "C:\\INBOX.mbox\\Messages\\1.emlx", '\\');
  ASSERT_TRUE(drive);
  EXPECT_EQ(drive->mailboxPath, "D:\\out\\INBOX.mbox");
}

TEST(AppleLayoutTest, MessageNumberIsTheLeadingDigitsOfTheName) {
  EXPECT_EQ(AppleMessageNumber("/a/Messages/12345.emlx", '/'), 12345u);
  EXPECT_EQ(AppleMessageNumber("/a/Messages/987.partial.emlx", '/'), 987u);
  EXPECT_EQ(AppleMessageNumber("/a/9.mbox/Messages/x9.emlx", '/'), std::nullopt);
  EXPECT_EQ(AppleMessageNumber("/a/Messages/._12.emlx", '/'), std::nullopt);
  EXPECT_EQ(AppleMessageNumber("/a/99999999999999999999999.emlx", '/'), std::nullopt);
}

TEST(AppleLayoutTest, OrderSortsEachMailboxByNumberAcrossShardsInPlace) {
  const std::string inbox = "/s/Acct/INBOX.mbox/U/Data/";
  const std::string sent = "/s/Acct/Sent.mbox/Messages/";
  // The walk visits shards breadth-first, so numbers come out of order across shards.
  const std::vector<std::string> walked = {"/s/loose/5.emlx",
                                           inbox + "Messages/30.emlx",
                                           sent + "2.emlx",
                                           inbox + "1/Messages/1200.emlx",
                                           inbox + "Messages/4.emlx",
                                           sent + "1.emlx",
                                           inbox + "2/Messages/200.emlx",
                                           "/s/loose/1.emlx",
                                           inbox + "Messages/notes.emlx",
                                           inbox + "Messages/31.partial.emlx"};
  const std::vector<std::string> expected = {"/s/loose/5.emlx",
                                             inbox + "Messages/4.emlx",
                                             sent + "1.emlx",
                                             inbox + "Messages/30.emlx",
                                             inbox + "Messages/31.partial.emlx",
                                             sent + "2.emlx",
                                             inbox + "2/Messages/200.emlx",
                                             "/s/loose/1.emlx",
                                             inbox + "1/Messages/1200.emlx",
                                             inbox + "Messages/notes.emlx"};
  EXPECT_EQ(OrderForAppleLayout(walked, '/'), expected);
}

TEST(AppleLayoutTest, OrderKeepsEqualNumbersAndEmptyListsAsTheyWere) {
  EXPECT_TRUE(OrderForAppleLayout({}, '/').empty());
  // Two stores of one account may hold the same number; the walk's order decides.
  const std::vector<std::string> twins = {"/a/Acct/I.mbox/Messages/7.emlx",
                                          "/b/Acct/I.mbox/Messages/7.emlx",
                                          "/a/Acct/I.mbox/Messages/3.emlx"};
  const std::vector<std::string> expected = {twins[2], twins[0], twins[1]};
  EXPECT_EQ(OrderForAppleLayout(twins, '/'), expected);
}

}  // namespace
}  // namespace drovanta
