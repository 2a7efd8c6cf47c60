#include "mbox/apple_mailbox_naming.h"

#include <algorithm>
#include <cstdint>
#include <numeric>
#include <set>
#include <unordered_map>
#include <utility>

#include "mbox/apple_accounts.h"
#include "mbox/apple_layout.h"
#include "mbox/apple_mail_export_naming.h"
#include "mbox/thunderbird_naming.h"

namespace drovanta {

std::optional<MailboxPlace> AppleMailboxPlaceFor(const std::string& destinationFolder,
                                                 const std::string& messagePath, char separator,
                                                 bool versionFolders,
                                                 const AppleAccountNames* accounts) {
  const auto mailbox = FindAppleMailbox(messagePath, separator);
  if (!mailbox) return std::nullopt;
  MailboxPlace place;
  place.outputFolder = AddSeparator(destinationFolder, separator);
  if (versionFolders && !mailbox->libraryVersion.empty()) {
    place.outputFolder += mailbox->libraryVersion;
    place.outputFolder += separator;
  }
  if (!mailbox->accountFolder.empty()) {
    place.outputFolder += accounts != nullptr ? accounts->nameOf(*mailbox) : mailbox->accountFolder;
    place.outputFolder += separator;
  }
  // Parent mailboxes become plain folders, so "[Gmail].mbox/All Mail.mbox" gives
  // "[Gmail]/All Mail.mbox" beside the file "[Gmail].mbox" of the parent's own messages.
  for (std::size_t i = 0; i + 1 < mailbox->mailboxNames.size(); ++i) {
    place.outputFolder += mailbox->mailboxNames[i];
    place.outputFolder += separator;
  }
  place.mailboxPath = place.outputFolder + mailbox->mailboxNames.back() + ".mbox";
  return place;
}

std::vector<std::string> AppleLibraryVersions(const std::vector<std::string>& messagePaths,
                                              char separator) {
  std::set<unsigned long> numbers;
  for (const std::string& path : messagePaths) {
    const auto mailbox = FindAppleMailbox(path, separator);
    if (mailbox && !mailbox->libraryVersion.empty()) {
      numbers.insert(std::stoul(mailbox->libraryVersion.substr(1)));
    }
  }
  std::vector<std::string> versions;
  for (const unsigned long number : numbers) {
    std::string version(1, 'V');
    version.append(std::to_string(number));
    versions.push_back(std::move(version));
  }
  return versions;
}

MailboxPlacer AppleLayoutPlacer(bool versionFolders,
                                std::shared_ptr<const AppleAccountNames> accounts) {
  return [versionFolders, accounts = std::move(accounts)](const std::string& destinationFolder,
                                                          const std::string& messagePath) {
    return AppleMailboxPlaceFor(destinationFolder, messagePath, kPathSeparator, versionFolders,
                                accounts.get());
  };
}

AppleLayoutPlan PlanAppleLayout(std::vector<std::string> messagePaths, MailProgram program) {
  AppleLayoutPlan plan;
  plan.versions = AppleLibraryVersions(messagePaths);
  plan.versionFolders = plan.versions.size() > 1;
  auto accounts = std::make_shared<const AppleAccountNames>(messagePaths);
  plan.warnings = accounts->warnings();
  plan.rows = OrderForAppleLayout(std::move(messagePaths), kPathSeparator, plan.versionFolders);
  switch (program) {
    case MailProgram::Any:
      plan.placer = AppleLayoutPlacer(plan.versionFolders, std::move(accounts));
      break;
    case MailProgram::Thunderbird:
      plan.placer = ThunderbirdPlacer(std::move(accounts), plan.versionFolders);
      plan.finish = [](const std::string& destination, const std::vector<std::string>& mailboxes) {
        std::vector<Failure> failures = AddThunderbirdParentFiles(mailboxes);
        if (MaybeFailure failure = WriteThunderbirdImportPrefs(destination)) {
          failures.push_back(std::move(*failure));
        }
        return failures;
      };
      break;
    case MailProgram::AppleMail:
      plan.placer = AppleMailExportPlacer(std::move(accounts), plan.versionFolders);
      break;
  }
  return plan;
}

std::vector<std::string> OrderForAppleLayout(std::vector<std::string> paths, char separator,
                                             bool versionFolders) {
  // Kept small and the paths never copied: a run may order 200,000 of them.
  struct Entry {
    std::uint64_t number;
    std::uint32_t position;
    bool numbered;
  };
  // Group the positions by target mailbox file, in order of first appearance.
  std::vector<std::pair<std::string, std::vector<Entry>>> groups;
  std::unordered_map<std::string, std::size_t> groupIndex;
  for (std::size_t i = 0; i < paths.size(); ++i) {
    const auto place =
        AppleMailboxPlaceFor(std::string(1, separator), paths[i], separator, versionFolders);
    if (!place) continue;
    auto [it, added] = groupIndex.try_emplace(place->mailboxPath, groups.size());
    if (added) groups.emplace_back(place->mailboxPath, std::vector<Entry>{});
    const std::optional<std::uint64_t> number = AppleMessageNumber(paths[i], separator);
    groups[it->second].second.push_back(
        {number.value_or(0), static_cast<std::uint32_t>(i), number.has_value()});
  }
  // Where each row's path comes from.
  std::vector<std::uint32_t> from(paths.size());
  std::iota(from.begin(), from.end(), std::uint32_t{0});
  for (auto& [key, entries] : groups) {
    std::vector<std::uint32_t> positions;  // in row order
    positions.reserve(entries.size());
    for (const Entry& entry : entries) positions.push_back(entry.position);
    std::stable_sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) {
      if (a.numbered && b.numbered) return a.number < b.number;
      return a.numbered && !b.numbered;
    });
    for (std::size_t k = 0; k < entries.size(); ++k) from[positions[k]] = entries[k].position;
    std::vector<Entry>().swap(entries);
  }
  // Each cycle of the permutation moved round where the paths lie.
  std::vector<bool> placed(paths.size());
  for (std::size_t i = 0; i < paths.size(); ++i) {
    if (placed[i] || from[i] == i) continue;
    std::string first = std::move(paths[i]);
    for (std::size_t at = i;;) {
      placed[at] = true;
      const std::size_t source = from[at];
      if (source == i) {
        paths[at] = std::move(first);
        break;
      }
      paths[at] = std::move(paths[source]);
      at = source;
    }
  }
  return paths;
}

}  // namespace drovanta
