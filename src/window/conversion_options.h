#pragma once

#include <functional>
#include <string>
#include <unordered_map>
#include <vector>

#include "mbox/mail_program.h"
#include "run/conversion_run.h"

class QCheckBox;
class QComboBox;

namespace drovanta {

class WindowPlatform;

// The settings that keep the two check boxes of the bottom band from one start to the next.
inline constexpr const char* kAppleNamesSetting = "appleMailboxNames";
inline constexpr const char* kKeepStateSetting = "keepReadAndFlaggedState";
// The "For:" choice, kept as "any", "thunderbird" or "apple-mail" (the command line's --for).
inline constexpr const char* kMailProgramSetting = "mailProgram";

// Sets "Apple Mail mailbox names", "Keep read and flagged state" and "For:" as the settings left
// them (unticked, ticked and "Any mail program" the first time), and keeps every later change in
// the settings.
void KeepConversionOptions(WindowPlatform& platform, QCheckBox& chkAppleNames,
                           QCheckBox& chkKeepState, QComboBox& cboMailProgram);

// Ticks "Apple Mail mailbox names" when the message lies inside an Apple Mail mailbox folder
// (<Name>.mbox, .mbox.noindex or .imapmbox): a library added whole gets its mailboxes' names
// without the user having to know. An untick stands until another such row is added. A null box
// is left alone.
void TickAppleNamesFor(QCheckBox* chkAppleNames, const std::string& messagePath);

// A run as the check boxes ask for it.
struct WindowRunPlan {
  std::vector<std::string> rows;  // with Apple Mail names: each mailbox in message-number order
  std::vector<long> listRows;     // the list's row of each of them
  RunOptions options;             // naming and state; newOnly and stop are the caller's
  // Each mailbox file of the run by the name its user knows it by: the Apple Mail mailbox path
  // ("INBOX", "Archive/2024") with Apple Mail names, else the folder name, with as many folders
  // above it as tell it apart from the run's other mailboxes ("Work/Messages").
  std::unordered_map<std::string, std::string> mailboxNames;
  std::vector<std::string> versions;       // Apple Mail library versions found, when several
  MailProgram program = MailProgram::Any;  // "For:"; Thunderbird and Apple Mail name as Apple Mail
  std::vector<Notice> warnings;            // about the accounts' names
  // What the program needs beside the mailboxes (AppleLayoutPlan::finish); may be empty.
  std::function<std::vector<Failure>(const std::string&, const std::vector<std::string>&)> finish;
};

// The "For:" choice.
MailProgram ChosenMailProgram(const QComboBox& cboMailProgram);

// The closing box's last words for the program: where the user takes the mailboxes next; "" for
// any mail program.
std::string NextStepFor(MailProgram program, const std::string& destination);
// The run the bottom band's choices ask for, of the list's `rows` into `destination`.
WindowRunPlan PlanWindowRun(const QCheckBox& chkAppleNames, const QCheckBox& chkKeepState,
                            const QComboBox& cboMailProgram, std::vector<std::string> rows,
                            const std::string& destination);

// The name of a mailbox file for its user: as the plan knows it, else its file name without
// ".mbox".
std::string MailboxNameAsSeen(const WindowRunPlan& plan, const std::string& mailboxPath);

}  // namespace drovanta
