#include "mbox/apple_layout.h"

#include <algorithm>
#include <limits>
#include <string_view>
#include <utility>

#include "shellutil/ascii_case.h"

namespace drovanta {
namespace {

// The mailbox name of a folder ("INBOX" for "INBOX.mbox" or "INBOX.mbox.noindex"), or nullopt
// when the folder is not a mailbox. A bare ".mbox" has no name and does not count.
std::optional<std::string> MailboxName(std::string_view folder) {
  for (std::string_view suffix : {std::string_view(".mbox"), std::string_view(".mbox.noindex"),
                                  std::string_view(".imapmbox")}) {
    if (folder.size() > suffix.size() && EndsWithIgnoringAsciiCase(folder, suffix)) {
      return std::string(folder.substr(0, folder.size() - suffix.size()));
    }
  }
  return std::nullopt;
}

std::vector<std::string_view> SplitFolders(std::string_view path, char separator) {
  std::vector<std::string_view> folders;
  const auto last = path.rfind(separator);
  if (last == std::string_view::npos) return folders;
  path = path.substr(0, last);  // the folders only, without the file name
  std::size_t start = 0;
  while (true) {
    const auto next = path.find(separator, start);
    folders.push_back(path.substr(start, next - start));
    if (next == std::string_view::npos) break;
    start = next + 1;
  }
  return folders;
}

}  // namespace

std::optional<AppleMailboxPath> FindAppleMailbox(const std::string& messagePath, char separator) {
  const auto folders = SplitFolders(messagePath, separator);
  std::optional<AppleMailboxPath> found;
  for (std::size_t i = 0; i < folders.size(); ++i) {
    auto name = MailboxName(folders[i]);
    if (!name) continue;
    if (!found) {
      found.emplace();
      if (i > 0) {
        found->accountFolder = std::string(folders[i - 1]);
        // A drive ("C:") is a root, not an account.
        if (separator == '\\' && found->accountFolder.size() == 2 &&
            found->accountFolder[1] == ':') {
          found->accountFolder.clear();
        }
        if (i > 1 && IsAppleLibraryVersion(std::string(folders[i - 2]))) {
          found->libraryVersion = std::string(folders[i - 2]);
          const auto end = folders[i - 2].data() + folders[i - 2].size();
          found->versionFolderPath = messagePath.substr(0, end - messagePath.data());
        }
      }
    }
    found->mailboxNames.push_back(std::move(*name));
  }
  return found;
}

bool IsAppleLibraryVersion(const std::string& folderName) {
  return folderName.size() > 1 && folderName.size() < 6 && folderName[0] == 'V' &&
         std::all_of(folderName.begin() + 1, folderName.end(),
                     [](char c) { return c >= '0' && c <= '9'; });
}

std::optional<std::uint64_t> AppleMessageNumber(const std::string& messagePath, char separator) {
  const std::string name = GetFileName(messagePath, separator);
  std::uint64_t number = 0;
  std::size_t digits = 0;
  for (const char c : name) {
    if (c < '0' || c > '9') break;
    const auto digit = static_cast<std::uint64_t>(c - '0');
    if (number > (std::numeric_limits<std::uint64_t>::max() - digit) / 10) return std::nullopt;
    number = number * 10 + digit;
    ++digits;
  }
  if (digits == 0) return std::nullopt;
  return number;
}

}  // namespace drovanta
