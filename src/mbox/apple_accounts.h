#pragma once

#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "mbox/apple_layout.h"
#include "shellutil/failure.h"

namespace drovanta {

// The folder name Apple Mail's local mailboxes ("Mailboxes/") get, as Apple Mail shows them.
inline constexpr const char* kOnMyMacName = "On My Mac";

// The name an AccountURL gives its account: the user part, percent-decoded, when it is an
// address ("imap://jane.doe%40example.org@imap.example.org/" gives "jane.doe@example.org"),
// else the host; "" for a URL with neither (an opaque Exchange URL), which keeps the UUID.
std::string AccountNameFromUrl(std::string_view url);

// What one AccountsMap.plist says: account UUID -> folder name. Two accounts of one name are
// told apart as "name (2)", "name (3)" in UUID order; a name that cannot be a folder name ("/",
// control characters) has those bytes replaced by "_". Each such change, and a file that is no
// property list, is a warning naming the file; the accounts it cannot name keep their UUID.
struct AccountsMapNames {
  std::map<std::string, std::string> nameOfUuid;
  std::vector<Notice> warnings;
};
AccountsMapNames ReadAccountsMap(const std::string& path, std::string_view bytes);

// The account names of the libraries the messages come from, each read once from
// <version folder>/MailData/Signatures/AccountsMap.plist (a missing file keeps every UUID).
class AppleAccountNames {
 public:
  AppleAccountNames() = default;
  AppleAccountNames(const std::vector<std::string>& messagePaths, char separator = kPathSeparator);

  // The folder name of the mailbox's account: "On My Mac" for "Mailboxes", the name the map
  // gives a UUID folder, else the folder's own name.
  std::string nameOf(const AppleMailboxPath& mailbox) const;
  const std::vector<Notice>& warnings() const { return warnings_; }

 private:
  std::map<std::string, std::map<std::string, std::string>> byVersionFolder_;
  std::vector<Notice> warnings_;
};

}  // namespace drovanta
