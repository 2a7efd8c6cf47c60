#include "mbox/apple_accounts.h"

#include <plist/plist.h>

#include <cstdlib>
#include <fstream>
#include <memory>
#include <optional>
#include <set>
#include <utility>

#include "message/property_list_dictionary.h"

namespace drovanta {
namespace {

struct FreeDeleter {
  void operator()(void* memory) const { std::free(memory); }
};

std::string percentDecoded(std::string_view text) {
  const auto hex = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  };
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size() && hex(text[i + 1]) >= 0 && hex(text[i + 2]) >= 0) {
      out += static_cast<char>(hex(text[i + 1]) * 16 + hex(text[i + 2]));
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out;
}

// A name every file system and mail program can hold as one folder name: "/" and control
// characters become "_"; "", "." and ".." give "" (the UUID stays).
std::string safeName(std::string name) {
  for (char& c : name) {
    if (c == '/' || c == '\\' || static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = '_';
  }
  if (name == "." || name == "..") return {};
  return name;
}

std::string stringOf(plist_t node) {
  if (node == nullptr || plist_get_node_type(node) != PLIST_STRING) return {};
  char* value = nullptr;
  plist_get_string_val(node, &value);
  const std::unique_ptr<char, FreeDeleter> owned(value);
  return value != nullptr ? std::string(value) : std::string();
}

// The list's UUID -> AccountURL pairs, the URL "" where an entry has none.
std::optional<std::vector<std::pair<std::string, std::string>>> accountUrls(
    std::string_view bytes) {
  const auto dictionary = PropertyListDictionary::Parse(bytes);
  if (!dictionary) return std::nullopt;
  std::vector<std::pair<std::string, std::string>> urls;
  dictionary.forEach([&](std::string_view uuid, plist_t value) {
    const bool entry = plist_get_node_type(value) == PLIST_DICT;
    urls.emplace_back(uuid, stringOf(entry ? plist_dict_get_item(value, "AccountURL") : value));
  });
  return urls;
}

}  // namespace

std::string AccountNameFromUrl(std::string_view url) {
  const auto scheme = url.find("://");
  if (scheme == std::string_view::npos) return {};
  std::string_view rest = url.substr(scheme + 3);
  rest = rest.substr(0, rest.find_first_of("/?#"));
  const auto at = rest.rfind('@');
  if (at != std::string_view::npos) {
    std::string user = percentDecoded(rest.substr(0, at));
    user = user.substr(0, user.find(';'));  // ";AUTH=..." of an IMAP URL
    if (user.find('@') != std::string::npos) return user;
    rest = rest.substr(at + 1);
  }
  // The host, without a port.
  if (!rest.empty() && rest.front() != '[') rest = rest.substr(0, rest.find(':'));
  return percentDecoded(rest);
}

AccountsMapNames ReadAccountsMap(const std::string& path, std::string_view bytes) {
  AccountsMapNames result;
  const auto urls = accountUrls(bytes);
  if (!urls) {
    result.warnings.push_back(
        {path, "not a property list: the accounts keep their UUID folder names"});
    return result;
  }
  std::map<std::string, std::string> named;  // UUID -> name, before telling names apart
  for (const auto& [uuid, url] : *urls) {
    // libplist keeps the last of two entries for one account without a word.
    const std::string key = "<key>" + uuid + "</key>";
    if (const auto first = bytes.find(key);
        first != std::string_view::npos && bytes.find(key, first + 1) != std::string_view::npos) {
      result.warnings.push_back({path, "account " + uuid + " is named twice: the last is used"});
    }
    const std::string name = AccountNameFromUrl(url);
    if (name.empty()) continue;
    std::string safe = safeName(name);
    if (safe != name) {
      result.warnings.push_back(
          {path, "account " + uuid + ": the name '" + name + "' cannot be a folder name" +
                     (safe.empty() ? ": the UUID is kept" : ", '" + safe + "' is used")});
    }
    if (!safe.empty()) named[uuid] = std::move(safe);
  }
  std::set<std::string> taken;
  for (const auto& [uuid, name] : named) taken.insert(name);
  std::map<std::string, int> seen;
  for (const auto& [uuid, name] : named) {
    std::string folder = name;
    if (const int times = ++seen[name]; times > 1) {
      for (int n = times; folder == name || taken.count(folder) != 0; ++n) {
        folder = name + " (" + std::to_string(n) + ")";
      }
      taken.insert(folder);
      result.warnings.push_back({path, "two accounts are named '" + name + "': account " + uuid +
                                           " goes to '" + folder + "'"});
    }
    result.nameOfUuid.emplace(uuid, std::move(folder));
  }
  return result;
}

AppleAccountNames::AppleAccountNames(const std::vector<std::string>& messagePaths, char separator) {
  for (const std::string& messagePath : messagePaths) {
    const auto mailbox = FindAppleMailbox(messagePath, separator);
    if (!mailbox || mailbox->versionFolderPath.empty()) continue;
    auto [entry, added] = byVersionFolder_.try_emplace(mailbox->versionFolderPath);
    if (!added) continue;
    const std::string path = mailbox->versionFolderPath + separator + "MailData" + separator +
                             "Signatures" + separator + "AccountsMap.plist";
    std::ifstream file(path, std::ios::binary);
    if (!file) continue;  // no map: every account keeps its UUID
    const std::string bytes{std::istreambuf_iterator<char>(file), {}};
    AccountsMapNames names = ReadAccountsMap(path, bytes);
    entry->second = std::move(names.nameOfUuid);
    warnings_.insert(warnings_.end(), names.warnings.begin(), names.warnings.end());
  }
}

std::string AppleAccountNames::nameOf(const AppleMailboxPath& mailbox) const {
  if (mailbox.accountFolder == "Mailboxes") return kOnMyMacName;
  const auto version = byVersionFolder_.find(mailbox.versionFolderPath);
  if (version != byVersionFolder_.end()) {
    const auto name = version->second.find(mailbox.accountFolder);
    if (name != version->second.end()) return name->second;
  }
  return mailbox.accountFolder;
}

}  // namespace drovanta
