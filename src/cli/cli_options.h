#pragma once

#include <string>
#include <variant>
#include <vector>

#include "drovanta_version.h"
#include "mbox/mail_program.h"
#include "mbox/record_options.h"

namespace drovanta {

enum class MailboxLayout {
  Auto,     // Apple when a message found lies inside an Apple Mail mailbox folder, else Folders
  Folders,  // one mailbox per source folder, mirrored under the destination
  Apple,    // one mailbox per Apple Mail mailbox (<Name>.mbox folder)
};

// What the command line asked for, before any path is looked at.
struct CliOptions {
  std::string destination;
  std::vector<std::string> sources;
  RecordOptions record;
  MailboxLayout layout = MailboxLayout::Auto;
  // --for: the mail program the mailboxes are made for; Thunderbird and Apple Mail name them
  // as Apple Mail does (--layout apple) in that program's form.
  MailProgram mailProgram = MailProgram::Any;
  unsigned jobs = 0;     // mailboxes converted at once; 0: one per processor
  bool newOnly = false;  // leave out messages their mailbox already holds
  // What is made sure of before a message is reported converted: flushed and checked (the
  // default, and --no-verify), read back from the disk (--verify), nothing (--no-sync).
  OnDisk onDisk = OnDisk::Checked;
  bool quiet = false;  // only the problems: no progress, no summary
  bool dryRun = false;
  bool help = false;
  bool version = false;
};

// A command line that cannot be run; the text says why, without the program name.
struct UsageError {
  std::string text;
};

// Parses the arguments after the program name as getopt_long does: short options bundle
// ("-qn", "-j2"), a long option may be shortened to any prefix that names only it ("--new"),
// "--name=value" or "--name value", "--" ends the options. Options and SOURCEs may come in any
// order. --help and --version win over anything missing, so "emlx2mbox --help" needs neither
// destination nor source. The options themselves are one table in cli_options.cpp.
std::variant<CliOptions, UsageError> ParseCommandLine(const std::vector<std::string>& args);

// The --help text: one screen; the manual page holds the rest.
const char* HelpText();

inline constexpr const char* kProgramName = "emlx2mbox";
inline constexpr const char* kProgramVersion = DROVANTA_VERSION;

}  // namespace drovanta
