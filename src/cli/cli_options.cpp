#include "cli/cli_options.h"

#include <charconv>
#include <optional>
#include <string_view>

namespace drovanta {
namespace {

// Splits "--name=value" into name and value, and a short option that takes a value from the
// value written right after it ("-j2", "-oDEST"), as getopt does; a plain argument has no value.
std::pair<std::string_view, std::optional<std::string_view>> SplitInlineValue(
    std::string_view arg) {
  if (arg.size() > 2 && arg[0] == '-' && (arg[1] == 'j' || arg[1] == 'o')) {
    return {arg.substr(0, 2), arg.substr(2)};
  }
  if (arg.substr(0, 2) != "--") return {arg, std::nullopt};
  const auto equals = arg.find('=');
  if (equals == std::string_view::npos) return {arg, std::nullopt};
  return {arg.substr(0, equals), arg.substr(equals + 1)};
}

// A count of jobs: decimal digits only, 1 to 1024.
std::optional<unsigned> ParseJobs(const std::string& text) {
  unsigned value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || value < 1 || value > 1024) {
    return std::nullopt;
  }
  return value;
}

}  // namespace

std::variant<CliOptions, UsageError> ParseCommandLine(const std::vector<std::string>& args) {
  CliOptions options;
  bool destinationGiven = false;
  bool optionsEnded = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (optionsEnded || arg.empty() || arg[0] != '-' || arg == "-") {
      options.sources.push_back(arg);
      continue;
    }
    if (arg == "--") {
      optionsEnded = true;
      continue;
    }
    const auto [name, inlineValue] = SplitInlineValue(arg);
    // The value of an option that takes one: after "=" or the next argument.
    auto takeValue = [&, inlineValue = inlineValue]() -> std::optional<std::string> {
      if (inlineValue) return std::string(*inlineValue);
      if (i + 1 < args.size()) return args[++i];
      return std::nullopt;
    };
    auto missingValue = [&name = name] {
      return UsageError{"option '" + std::string(name) + "' needs a value"};
    };
    const bool isFlag = name == "-h" || name == "--help" || name == "--version" || name == "-q" ||
                        name == "--quiet" || name == "-n" || name == "--dry-run" ||
                        name == "--flags" || name == "--new-only" || name == "--no-verify" ||
                        name == "--verify" || name == "--no-sync";
    if (isFlag && inlineValue) {
      return UsageError{"option '" + std::string(name) + "' takes no value"};
    }
    if (name == "-h" || name == "--help") {
      options.help = true;
    } else if (name == "--version") {
      options.version = true;
    } else if (name == "-q" || name == "--quiet") {
      options.quiet = true;
    } else if (name == "-n" || name == "--dry-run") {
      options.dryRun = true;
    } else if (name == "--flags") {
      options.record.writeFlags = true;
    } else if (name == "--new-only") {
      options.newOnly = true;
    } else if (name == "--verify") {
      options.onDisk = OnDisk::ReadBack;
    } else if (name == "--no-verify") {
      // Once "no reading back"; the flush and the cheap check stay, as by default.
      options.onDisk = OnDisk::Checked;
    } else if (name == "--no-sync") {
      options.onDisk = OnDisk::NotFlushed;
    } else if (name == "-o" || name == "--output") {
      const auto value = takeValue();
      if (!value) return missingValue();
      if (destinationGiven) return UsageError{"the destination is given more than once"};
      if (value->empty()) return UsageError{"the destination is empty"};
      options.destination = *value;
      destinationGiven = true;
    } else if (name == "--eol") {
      const auto value = takeValue();
      if (!value) return missingValue();
      if (*value == "auto") {
        options.record.lineEnds = LineEnds::Auto;
      } else if (*value == "lf") {
        options.record.lineEnds = LineEnds::Lf;
      } else if (*value == "crlf") {
        options.record.lineEnds = LineEnds::CrLf;
      } else {
        return UsageError{"--eol must be auto, crlf or lf, not '" + *value + "'"};
      }
    } else if (name == "-j" || name == "--jobs") {
      const auto value = takeValue();
      if (!value) return missingValue();
      const auto jobs = ParseJobs(*value);
      if (!jobs) return UsageError{"--jobs must be a number from 1 to 1024, not '" + *value + "'"};
      options.jobs = *jobs;
    } else if (name == "--layout") {
      const auto value = takeValue();
      if (!value) return missingValue();
      if (*value == "apple") {
        options.layout = MailboxLayout::Apple;
      } else if (*value == "folders") {
        options.layout = MailboxLayout::Folders;
      } else {
        return UsageError{"--layout must be apple or folders, not '" + *value + "'"};
      }
    } else {
      return UsageError{"unknown option '" + std::string(name) + "'"};
    }
  }
  if (options.help || options.version) return options;
  if (!destinationGiven) return UsageError{"no destination folder given (-o DEST)"};
  if (options.sources.empty()) return UsageError{"no SOURCE given"};
  // An empty SOURCE is most often a script's unset variable: it names no file or folder.
  for (std::size_t n = 0; n < options.sources.size(); ++n) {
    if (options.sources[n].empty()) {
      return UsageError{"SOURCE " + std::to_string(n + 1) + " is empty"};
    }
  }
  return options;
}

const char* HelpText() {
  return R"(Usage: emlx2mbox [OPTIONS] -o DEST SOURCE...
Converts Apple Mail .emlx messages into mbox mailbox files under the folder DEST.

A SOURCE folder is searched with every folder below it for files whose name ends
in ".emlx" (any case); a SOURCE file is converted whatever its name. Messages are
appended to the mailbox files, so a second run adds its messages again, unless
--new-only is given. Each mailbox written is flushed to the disk and checked
before the run reports its messages converted.

Options:
  -o, --output DEST     folder for the mailbox files (created when missing)
  --layout folders      one mailbox per source folder: DEST/<source folder path>/
                        <folder name>.mbox (the default)
  --layout apple        one mailbox per Apple Mail mailbox: every message below a
                        folder <Name>.mbox (or <Name>.mbox.noindex), through its
                        <UUID>/Data/.../Messages shards, goes to
                        DEST/<account>/<parent mailboxes>/<Name>.mbox, in message
                        number order. <account> is the name of the folder just
                        above the top-most .mbox folder (IMAP-user@host, or the
                        account's UUID under Mail/V10). .imapmbox folders (older
                        IMAP accounts) count as mailboxes too. A library holding
                        several versions (V2 ... V10) gets one folder DEST/V<n>/
                        per version. Messages outside any mailbox folder keep the
                        default naming.
  --flags               write the Apple Mail state (read, answered, flagged, ...)
                        as Status, X-Status and X-Mozilla-Status headers
  --eol auto            each message keeps its line ends (the default): the
                        separator line and the closing empty line end with LF,
                        a message whose first line end is CR LF or a lone CR
                        keeps CR LF (a lone CR becomes CR LF), every other
                        byte is kept
  --eol crlf            every line end CR LF
  --eol lf              every line end LF (for readers that cannot read CR LF
                        messages, such as GNU mailutils)
  --new-only            leave out each message its mailbox already holds: a
                        record with the same Message-ID and Date (without a
                        Message-ID: the same header lines), as a run stopped
                        half-way or an older copy of the library left it
  --verify              also read every record written back from the disk (not
                        from memory) and compare it with what was written
  --no-verify           no reading back: the default flush and check (undoes
                        an earlier --verify)
  --no-sync             do not flush or check the mailboxes (for scratch
                        conversions: a crash soon after may lose messages)
  -j, --jobs N          convert up to N mailboxes at once (default: one per
                        processor); each mailbox is written as with --jobs 1,
                        and problems are reported in the same order
  -n, --dry-run         print each message and its mailbox as
                        "MESSAGE -> MAILBOX"; write nothing, create no folder
  -q, --quiet           no progress line
  -h, --help            this text
  --version             print "emlx2mbox 2.07"

Output on standard error:
  While standard error is a terminal, one progress line: messages done/total,
  megabytes, rate and time left. At the end, one line per problem:
    PATH: REASON              a message or folder that could not be converted
    warning: PATH: TEXT       converted, but something of it is missing
    skipped: PATH: TEXT       not a message (an AppleDouble "._" file, or a named
                              pipe, socket or device named like one)
    note: N message(s) kept CR LF line ends, ...  (--eol auto; see --eol lf)
  and the summary (N warnings counts the messages that had warnings; with
  --new-only it adds "N already in the mailbox" after the warnings):
    N converted, N failed, N skipped, N warnings; N mailboxes, N bytes written in S seconds
  then what was made sure of on the disk:
    Checked: N records in M mailboxes, in place and on disk
  with --verify "..., on disk and read back whole", with --no-sync
    Not flushed: N records in M mailboxes, not checked
  or "..., K differ", each differing mailbox named above as PATH: REASON.

Exit status:
  0  every message converted (skipped files and warnings do not count as failures)
  1  some messages or folders failed, or a mailbox checked differs; the
     others were converted; or the --dry-run listing (--help, --version)
     could not be written to standard output
  2  usage error, a SOURCE that does not exist, or a DEST that cannot be created
     (or a relative one when the working folder is gone)
  129, 130, 143  ended by SIGHUP, SIGINT or SIGTERM (after the record being written;
     a signal ignored when the program starts stays ignored)
)";
}

}  // namespace drovanta
