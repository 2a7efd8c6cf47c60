#pragma once

#include <string>
#include <variant>
#include <vector>

#include "mbox/record_options.h"

namespace drovanta {

enum class MailboxLayout {
  Folders,  // one mailbox per source folder, mirrored under the destination
  Apple,    // one mailbox per Apple Mail mailbox (<Name>.mbox folder)
};

// What the command line asked for, before any path is looked at.
struct CliOptions {
  std::string destination;
  std::vector<std::string> sources;
  RecordOptions record;
  MailboxLayout layout = MailboxLayout::Folders;
  unsigned jobs = 0;     // mailboxes converted at once; 0: one per processor
  bool newOnly = false;  // leave out messages their mailbox already holds
  // What is made sure of before a message is reported converted: flushed and checked (the
  // default, and --no-verify), read back from the disk (--verify), nothing (--no-sync).
  OnDisk onDisk = OnDisk::Checked;
  bool quiet = false;
  bool dryRun = false;
  bool help = false;
  bool version = false;
};

// A command line that cannot be run; the text says why, without the program name.
struct UsageError {
  std::string text;
};

// Parses the arguments after the program name. --help and --version win over anything
// missing, so "emlx2mbox --help" needs neither destination nor source.
std::variant<CliOptions, UsageError> ParseCommandLine(const std::vector<std::string>& args);

// The --help text.
const char* HelpText();

inline constexpr const char* kProgramName = "emlx2mbox";
inline constexpr const char* kProgramVersion = "2.07";

}  // namespace drovanta
