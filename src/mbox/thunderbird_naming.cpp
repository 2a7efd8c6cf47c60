#include "mbox/thunderbird_naming.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <set>
#include <string_view>

#include "mbox/apple_accounts.h"
#include "mbox/apple_layout.h"

namespace drovanta {
namespace {

constexpr std::size_t kMaxNameUnits = 55;
constexpr std::size_t kHashLength = 8;
constexpr std::string_view kSbd = ".sbd";

// UTF-8 to UTF-16 code units; a byte that starts no valid sequence stands for itself.
std::u16string utf16Of(const std::string& text) {
  std::u16string units;
  for (std::size_t i = 0; i < text.size();) {
    const auto byte = static_cast<unsigned char>(text[i]);
    std::uint32_t point = byte;
    std::size_t length = 1;
    if (byte >= 0xf0 && i + 3 < text.size()) {
      point = ((byte & 0x07u) << 18) | ((text[i + 1] & 0x3fu) << 12) |
              ((text[i + 2] & 0x3fu) << 6) | (text[i + 3] & 0x3fu);
      length = 4;
    } else if (byte >= 0xe0 && i + 2 < text.size()) {
      point = ((byte & 0x0fu) << 12) | ((text[i + 1] & 0x3fu) << 6) | (text[i + 2] & 0x3fu);
      length = 3;
    } else if (byte >= 0xc0 && i + 1 < text.size()) {
      point = ((byte & 0x1fu) << 6) | (text[i + 1] & 0x3fu);
      length = 2;
    }
    if (point >= 0x10000) {
      point -= 0x10000;
      units.push_back(static_cast<char16_t>(0xd800 + (point >> 10)));
      units.push_back(static_cast<char16_t>(0xdc00 + (point & 0x3ff)));
    } else {
      units.push_back(static_cast<char16_t>(point));
    }
    i += length;
  }
  return units;
}

// The UTF-8 bytes of the first `units` UTF-16 units of text.
std::string utf8Prefix(const std::string& text, std::size_t units) {
  std::size_t i = 0;
  for (std::size_t counted = 0; i < text.size() && counted < units;) {
    const auto byte = static_cast<unsigned char>(text[i]);
    const std::size_t length = byte >= 0xf0 ? 4 : byte >= 0xe0 ? 3 : byte >= 0xc0 ? 2 : 1;
    counted += length == 4 ? 2 : 1;
    if (counted > units) break;  // half of a surrogate pair is not kept
    i += length;
  }
  return text.substr(0, std::min(i, text.size()));
}

// Thunderbird's hash of a folder name: over the UTF-16 units' bytes, low byte first.
std::uint32_t nameHash(const std::u16string& units) {
  std::uint32_t hash = 1;
  for (const char16_t unit : units) {
    for (const unsigned byte : {unsigned(unit & 0xff), unsigned(unit >> 8)}) {
      hash = 0x63c63cd9u * hash + 0x9c39c33du + byte;
    }
  }
  return hash;
}

bool cannotStore(char16_t unit) {
  return unit < 0x20 || unit == 0x7f ||
         std::u16string_view(u"/;#:*?\"<>|").find(unit) != std::u16string_view::npos;
}

// The folders Thunderbird keeps at the top of Local Folders (any case: its names ignore it). A
// converted folder of such a name, copied into a profile, would take the place of the user's.
bool isThunderbirdsOwn(const std::string& name) {
  static constexpr std::string_view kOwn[] = {"inbox",     "trash",  "unsent messages",
                                              "outbox",    "drafts", "sent",
                                              "templates", "junk",   "archives"};
  std::string lower = name;
  for (char& c : lower) c = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
  return std::find(std::begin(kOwn), std::end(kOwn), lower) != std::end(kOwn);
}

std::string folderNameOf(const std::string& messagePath, char separator) {
  std::string folder = GetFolderPath(messagePath, separator);
  if (!folder.empty() && folder.back() == separator) folder.pop_back();
  std::string name = GetFileName(folder, separator);
  if (name.empty() || (separator == '\\' && name.size() == 2 && name[1] == ':')) name = "Root";
  if (isThunderbirdsOwn(name)) name += " (converted)";
  return name;
}

}  // namespace

std::string ThunderbirdFolderName(const std::string& name) {
  const std::u16string units = utf16Of(name);
  std::optional<std::size_t> kept;
  for (std::size_t i = 0; i < units.size() && !kept; ++i) {
    if (cannotStore(units[i])) kept = i;
  }
  if (!kept && !units.empty()) {
    if (units.front() == u'.') {
      kept = 0;
    } else if (units.back() == u'.' || units.back() == u'~' || units.back() == u' ') {
      kept = units.size() - 1;
    }
  }
  if (!kept && units.size() > kMaxNameUnits) kept = kMaxNameUnits - kHashLength;
  if (!kept) return name;
  char hash[kHashLength + 1];
  std::snprintf(hash, sizeof hash, "%08x", static_cast<unsigned>(nameHash(units)));
  return utf8Prefix(name, *kept) + hash;
}

MailboxPlace ThunderbirdPlaceFor(const std::string& destinationFolder,
                                 const std::string& messagePath, const AppleAccountNames& accounts,
                                 bool versionFolders, char separator) {
  std::string folder = AddSeparator(destinationFolder, separator);
  for (const char c : std::string_view(kThunderbirdLocalFolders)) {
    folder += c == '/' ? separator : c;
  }
  folder += separator;
  const auto mailbox = FindAppleMailbox(messagePath, separator);
  std::vector<std::string> names;
  if (!mailbox) {
    names.push_back(folderNameOf(messagePath, separator));
  } else {
    if (versionFolders && !mailbox->libraryVersion.empty()) {
      names.push_back(mailbox->libraryVersion);
    }
    const std::string account = accounts.nameOf(*mailbox);
    if (!account.empty()) names.push_back(account);
    names.insert(names.end(), mailbox->mailboxNames.begin(), mailbox->mailboxNames.end());
  }
  MailboxPlace place;
  for (std::size_t i = 0; i + 1 < names.size(); ++i) {
    folder += ThunderbirdFolderName(names[i]);
    folder += kSbd;
    folder += separator;
  }
  place.outputFolder = folder;
  place.mailboxPath = folder + ThunderbirdFolderName(names.back());
  return place;
}

MailboxPlacer ThunderbirdPlacer(std::shared_ptr<const AppleAccountNames> accounts,
                                bool versionFolders) {
  return [accounts = std::move(accounts), versionFolders](const std::string& destinationFolder,
                                                          const std::string& messagePath) {
    return std::optional<MailboxPlace>(
        ThunderbirdPlaceFor(destinationFolder, messagePath, *accounts, versionFolders));
  };
}

std::vector<Failure> AddThunderbirdParentFiles(const std::vector<std::string>& mailboxPaths,
                                               char separator) {
  std::vector<Failure> failures;
  std::set<std::string> done;
  const std::string top = std::string(1, separator) + "Local Folders";
  for (const std::string& mailbox : mailboxPaths) {
    std::string folder = GetFolderPath(mailbox, separator);  // ends with the separator
    folder.pop_back();
    while (folder.size() > kSbd.size() && folder.ends_with(kSbd) && !folder.ends_with(top)) {
      const std::string parentFile = folder.substr(0, folder.size() - kSbd.size());
      if (!done.insert(parentFile).second) break;
      const int fd = ::open(parentFile.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
      if (fd >= 0) {
        ::close(fd);
      } else if (errno != EEXIST) {
        failures.push_back(
            {FailureCode::MailboxUnwritable, parentFile,
             std::string("cannot create the folder's file: ") + std::strerror(errno)});
      }
      folder = GetFolderPath(parentFile, separator);
      folder.pop_back();
    }
  }
  return failures;
}

MaybeFailure WriteThunderbirdImportPrefs(const std::string& destinationFolder) {
  static constexpr std::string_view kPrefs =
      "// Written by emlx2mbox: names the Local Folders beside this file, so that\n"
      "// Thunderbird's Tools > Import > Import from Thunderbird finds them.\n"
      "user_pref(\"mail.accountmanager.accounts\", \"account1\");\n"
      "user_pref(\"mail.accountmanager.localfoldersserver\", \"server1\");\n"
      "user_pref(\"mail.account.account1.server\", \"server1\");\n"
      "user_pref(\"mail.server.server1.directory-rel\", \"[ProfD]Mail/Local Folders\");\n"
      "user_pref(\"mail.server.server1.hostname\", \"Local Folders\");\n"
      "user_pref(\"mail.server.server1.name\", \"Local Folders\");\n"
      "user_pref(\"mail.server.server1.type\", \"none\");\n"
      "user_pref(\"mail.server.server1.userName\", \"nobody\");\n";
  const std::string path = AddSeparator(destinationFolder) + "prefs.js";
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) {
    if (errno == EEXIST) return std::nullopt;
    return Failure{FailureCode::MailboxUnwritable, path, std::strerror(errno)};
  }
  const bool written =
      ::write(fd, kPrefs.data(), kPrefs.size()) == static_cast<ssize_t>(kPrefs.size());
  const int error = errno;
  ::close(fd);
  if (written) return std::nullopt;
  ::unlink(path.c_str());  // a half-written file would stop the next run from writing it
  return Failure{FailureCode::MailboxUnwritable, path, std::strerror(error)};
}

}  // namespace drovanta
