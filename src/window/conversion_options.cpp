#include "window/conversion_options.h"

#include <QCheckBox>
#include <QComboBox>
#include <filesystem>
#include <iterator>
#include <utility>

#include "mbox/apple_layout.h"
#include "mbox/apple_mailbox_naming.h"
#include "mbox/thunderbird_naming.h"
#include "run/row_source.h"
#include "shellutil/path_helpers.h"
#include "window/distinct_folder_names.h"
#include "window/window_platform.h"

namespace drovanta {
namespace {

void keep(WindowPlatform& platform, QCheckBox* box, const char* key, bool byDefault) {
  const std::string kept = platform.setting(key);
  box->setChecked(kept.empty() ? byDefault : kept == "1");
  QObject::connect(box, &QCheckBox::toggled, box,
                   [&platform, key](bool ticked) { platform.setSetting(key, ticked ? "1" : "0"); });
}

// The "For:" entries' keys, in the combo box's order.
constexpr const char* kProgramKeys[] = {"any", "thunderbird", "apple-mail"};

std::string withoutMboxEnding(std::string name) {
  constexpr std::string_view kEnding = ".mbox";
  if (name.size() > kEnding.size() && name.ends_with(kEnding))
    name.resize(name.size() - kEnding.size());
  return name;
}

}  // namespace

void KeepConversionOptions(WindowPlatform& platform, QCheckBox& chkAppleNames,
                           QCheckBox& chkKeepState, QComboBox& cboMailProgram) {
  keep(platform, &chkAppleNames, kAppleNamesSetting, false);
  keep(platform, &chkKeepState, kKeepStateSetting, true);
  QComboBox* combo = &cboMailProgram;
  const std::string kept = platform.setting(kMailProgramSetting);
  for (int i = 0; i < static_cast<int>(std::size(kProgramKeys)); ++i) {
    if (kept == kProgramKeys[i]) combo->setCurrentIndex(i);
  }
  QObject::connect(combo, &QComboBox::currentIndexChanged, combo, [&platform](int index) {
    if (index >= 0 && index < static_cast<int>(std::size(kProgramKeys)))
      platform.setSetting(kMailProgramSetting, kProgramKeys[index]);
  });
}

MailProgram ChosenMailProgram(const QComboBox& cboMailProgram) {
  switch (cboMailProgram.currentIndex()) {
    case 1:
      return MailProgram::Thunderbird;
    case 2:
      return MailProgram::AppleMail;
    default:
      return MailProgram::Any;
  }
}

std::string NextStepFor(MailProgram program, const std::string& destination) {
  const std::string folder = PrintableText(AddSeparator(destination) + kThunderbirdLocalFolders);
  switch (program) {
    case MailProgram::Thunderbird:
      return "Next, in Thunderbird: choose Tools > Import > Import from Thunderbird and select " +
             PrintableText(destination) +
             " as the profile folder; or, with Thunderbird closed, copy what " + folder +
             " holds into your profile's Mail/Local Folders folder.";
    case MailProgram::AppleMail:
      return "Next, in Apple Mail: choose File > Import Mailboxes, then \"Files in mbox "
             "format\", and select the folder " +
             PrintableText(destination) + ".";
    case MailProgram::Any:
      break;
  }
  return {};
}

void TickAppleNamesFor(QCheckBox* chkAppleNames, const std::string& messagePath) {
  if (chkAppleNames == nullptr || chkAppleNames->isChecked()) return;
  if (FindAppleMailbox(messagePath)) chkAppleNames->setChecked(true);
}

WindowRunPlan PlanWindowRun(const QCheckBox& chkAppleNames, const QCheckBox& chkKeepState,
                            const QComboBox& cboMailProgram, std::vector<std::string> rows,
                            const std::string& destination) {
  WindowRunPlan plan;
  plan.options.record.writeFlags = chkKeepState.isChecked();
  plan.options.onDisk = OnDisk::Checked;
  plan.program = ChosenMailProgram(cboMailProgram);
  // Thunderbird and Apple Mail take one mailbox per Apple Mail mailbox; Thunderbird gets the
  // state headers, as the command line's --for gives them.
  const bool appleNames = chkAppleNames.isChecked() || plan.program != MailProgram::Any;
  if (plan.program == MailProgram::Thunderbird) plan.options.record.writeFlags = true;
  std::unordered_map<std::string, long> listRowOf;
  for (std::size_t i = 0; i < rows.size(); ++i) listRowOf.emplace(rows[i], static_cast<long>(i));
  if (appleNames) {
    AppleLayoutPlan apple = PlanAppleLayout(std::move(rows), plan.program);
    plan.rows = std::move(apple.rows);
    plan.options.placer = std::move(apple.placer);
    plan.warnings = std::move(apple.warnings);
    plan.finish = std::move(apple.finish);
    if (apple.versionFolders) plan.versions = std::move(apple.versions);
  } else {
    plan.rows = std::move(rows);
  }
  plan.listRows.reserve(plan.rows.size());
  for (const std::string& row : plan.rows) plan.listRows.push_back(listRowOf.at(row));
  // Mailboxes named after their folder: many a tree has a dozen folders of one name
  // ("Messages"), told apart only by the folders above them.
  std::vector<std::string> byFolder;
  std::vector<std::string> folders;
  for (const std::string& row : plan.rows) {
    const std::string path = MessagePathOfRow(row);
    if (path.empty()) continue;
    const MailboxPlace place = PlaceForMessage(plan.options, destination, path);
    if (plan.mailboxNames.count(place.mailboxPath) != 0) continue;
    std::string name;
    if (const auto mailbox = appleNames ? FindAppleMailbox(path) : std::nullopt) {
      for (const std::string& part : mailbox->mailboxNames)
        name += (name.empty() ? "" : "/") + part;
      // Versions kept side by side each have an INBOX.
      if (!plan.versions.empty() && !mailbox->libraryVersion.empty()) {
        name += " (" + mailbox->libraryVersion + ")";
      }
    } else {
      byFolder.push_back(place.mailboxPath);
      // The mailbox's own name, below the folders above its output folder.
      const std::filesystem::path above =
          std::filesystem::path(place.outputFolder).parent_path().parent_path();
      // Apple Mail's form names the folder that holds the file "mbox".
      const std::string own =
          plan.program == MailProgram::AppleMail
              ? std::filesystem::path(place.outputFolder).parent_path().filename().string()
              : GetFileName(place.mailboxPath);
      folders.push_back((above / withoutMboxEnding(own)).string());
    }
    plan.mailboxNames.emplace(place.mailboxPath, std::move(name));
  }
  std::vector<std::string> names = DistinctFolderNames(folders);
  for (std::size_t i = 0; i < byFolder.size(); ++i) {
    plan.mailboxNames[byFolder[i]] = std::move(names[i]);
  }
  return plan;
}

std::string MailboxNameAsSeen(const WindowRunPlan& plan, const std::string& mailboxPath) {
  const auto found = plan.mailboxNames.find(mailboxPath);
  return found != plan.mailboxNames.end() ? found->second
                                          : withoutMboxEnding(GetFileName(mailboxPath));
}

}  // namespace drovanta
