#include "cli/cli_options.h"

#include <getopt.h>

#include <charconv>
#include <optional>
#include <string_view>

namespace drovanta {
namespace {

// What an option does to the options read so far with its value ("" for an option that takes
// none): nothing, or the text of the usage error its value makes.
using ApplyOption = std::optional<std::string> (*)(CliOptions& options, const std::string& value);

struct OptionRow {
  const char* name;  // the long name, without "--"
  char letter;       // the short option, or 0 for none
  bool takesValue;
  ApplyOption apply;
};

using Error = std::optional<std::string>;

// A count of jobs: decimal digits only, 1 to 1024.
std::optional<unsigned> ParseJobs(const std::string& text) {
  unsigned value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || value < 1 || value > 1024) {
    return std::nullopt;
  }
  return value;
}

// Every option, one row each; --help and the manual page describe them.
constexpr OptionRow kOptions[] = {
    {"output", 'o', true,
     [](CliOptions& o, const std::string& value) -> Error {
       if (!o.destination.empty()) return "the destination is given more than once";
       if (value.empty()) return "the destination is empty";
       o.destination = value;
       return {};
     }},
    {"layout", 0, true,
     [](CliOptions& o, const std::string& value) -> Error {
       if (value == "auto") {
         o.layout = MailboxLayout::Auto;
       } else if (value == "apple") {
         o.layout = MailboxLayout::Apple;
       } else if (value == "folders") {
         o.layout = MailboxLayout::Folders;
       } else {
         return "--layout must be auto, apple or folders, not '" + value + "'";
       }
       return {};
     }},
    {"for", 0, true,
     [](CliOptions& o, const std::string& value) -> Error {
       if (value == "thunderbird") {
         o.mailProgram = MailProgram::Thunderbird;
       } else if (value == "apple-mail") {
         o.mailProgram = MailProgram::AppleMail;
       } else if (value == "any") {
         o.mailProgram = MailProgram::Any;
       } else {
         return "--for must be any, thunderbird or apple-mail, not '" + value + "'";
       }
       return {};
     }},
    {"flags", 0, false,
     [](CliOptions& o, const std::string&) -> Error {
       o.record.writeFlags = true;
       return {};
     }},
    {"eol", 0, true,
     [](CliOptions& o, const std::string& value) -> Error {
       if (value == "auto") {
         o.record.lineEnds = LineEnds::Auto;
       } else if (value == "lf") {
         o.record.lineEnds = LineEnds::Lf;
       } else if (value == "crlf") {
         o.record.lineEnds = LineEnds::CrLf;
       } else {
         return "--eol must be auto, crlf or lf, not '" + value + "'";
       }
       return {};
     }},
    {"new-only", 0, false,
     [](CliOptions& o, const std::string&) -> Error {
       o.newOnly = true;
       return {};
     }},
    {"verify", 0, false,
     [](CliOptions& o, const std::string&) -> Error {
       o.onDisk = OnDisk::ReadBack;
       return {};
     }},
    // Once "no reading back": now the default flush and check, which only --no-sync leaves out.
    {"no-verify", 0, false,
     [](CliOptions& o, const std::string&) -> Error {
       o.onDisk = OnDisk::Checked;
       return {};
     }},
    {"no-sync", 0, false,
     [](CliOptions& o, const std::string&) -> Error {
       o.onDisk = OnDisk::NotFlushed;
       return {};
     }},
    {"jobs", 'j', true,
     [](CliOptions& o, const std::string& value) -> Error {
       const auto jobs = ParseJobs(value);
       if (!jobs) return "--jobs must be a number from 1 to 1024, not '" + value + "'";
       o.jobs = *jobs;
       return {};
     }},
    {"dry-run", 'n', false,
     [](CliOptions& o, const std::string&) -> Error {
       o.dryRun = true;
       return {};
     }},
    {"quiet", 'q', false,
     [](CliOptions& o, const std::string&) -> Error {
       o.quiet = true;
       return {};
     }},
    {"help", 'h', false,
     [](CliOptions& o, const std::string&) -> Error {
       o.help = true;
       return {};
     }},
    {"version", 'V', false,
     [](CliOptions& o, const std::string&) -> Error {
       o.version = true;
       return {};
     }},
};

// getopt_long's code for a row: its letter, or a number past every character for a long-only one.
int CodeOf(std::size_t row) {
  return kOptions[row].letter != 0 ? kOptions[row].letter : 256 + static_cast<int>(row);
}

const OptionRow* RowOf(int code) {
  for (std::size_t row = 0; row < std::size(kOptions); ++row) {
    if (CodeOf(row) == code) return &kOptions[row];
  }
  return nullptr;
}

// The option as the user wrote it: "--name" when written long (however shortened), else "-x".
std::string WrittenName(const OptionRow& row, std::string_view argument) {
  if (argument.starts_with("--")) return std::string("--") + row.name;
  return std::string("-") + row.letter;
}

// The text for a "--prefix" that getopt_long did not take: a prefix of several long options,
// or an option there is none of.
std::string UnknownLongOption(std::string_view argument) {
  const std::string_view written = argument.substr(0, argument.find('='));
  std::string candidates;
  for (const OptionRow& row : kOptions) {
    if (!(std::string("--") + row.name).starts_with(written)) continue;
    candidates += (candidates.empty() ? "--" : ", --") + std::string(row.name);
  }
  if (candidates.find(',') != std::string::npos) {
    return "option '" + std::string(written) + "' is ambiguous (" + candidates + ")";
  }
  return "unknown option '" + std::string(written) + "'";
}

}  // namespace

std::variant<CliOptions, UsageError> ParseCommandLine(const std::vector<std::string>& args) {
  // "-": every SOURCE comes back in its place, nothing is permuted; ":": a missing value is
  // told apart from an unknown option. getopt_long prints nothing (opterr 0): the front-end
  // says the reason its own way.
  std::string letters = "-:";
  std::vector<option> longOptions;
  for (std::size_t row = 0; row < std::size(kOptions); ++row) {
    const OptionRow& option = kOptions[row];
    if (option.letter != 0)
      letters += std::string(1, option.letter) + (option.takesValue ? ":" : "");
    longOptions.push_back(
        {option.name, option.takesValue ? required_argument : no_argument, nullptr, CodeOf(row)});
  }
  longOptions.push_back({nullptr, 0, nullptr, 0});

  std::vector<std::string> words{kProgramName};
  words.insert(words.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  const int argc = static_cast<int>(words.size());

  CliOptions options;
  optind = 0;  // glibc starts afresh, so the parser can run more than once
  opterr = 0;
  for (;;) {
    const int code = getopt_long(argc, argv.data(), letters.c_str(), longOptions.data(), nullptr);
    if (code == -1) break;
    if (code == 1) {
      options.sources.push_back(optarg);
      continue;
    }
    const std::string_view argument = argv[optind - 1];
    if (code == ':') {
      return UsageError{"option '" + WrittenName(*RowOf(optopt), argument) + "' needs a value"};
    }
    if (code == '?') {
      if (const OptionRow* row = RowOf(optopt)) {
        return UsageError{"option '--" + std::string(row->name) + "' takes no value"};
      }
      if (optopt != 0) return UsageError{"unknown option '-" + std::string(1, char(optopt)) + "'"};
      return UsageError{UnknownLongOption(argument)};
    }
    if (Error error = RowOf(code)->apply(options, optarg != nullptr ? optarg : "")) {
      return UsageError{std::move(*error)};
    }
  }
  for (int i = optind; i < argc; ++i) options.sources.push_back(argv[i]);  // after "--"

  if (options.help || options.version) return options;
  if (options.mailProgram != MailProgram::Any) {
    // Both programs take one mailbox per Apple Mail mailbox; Thunderbird gets the state headers.
    if (options.layout == MailboxLayout::Folders) {
      return UsageError{"--for names mailboxes as --layout apple does, not as --layout folders"};
    }
    options.layout = MailboxLayout::Apple;
    if (options.mailProgram == MailProgram::Thunderbird) options.record.writeFlags = true;
  }
  if (options.destination.empty()) return UsageError{"no destination folder given (-o DEST)"};
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
A SOURCE folder is searched, with every folder below it, for *.emlx files.
Messages are appended; a rerun asks first on a terminal (see --new-only).

  -o, --output DEST    folder for the mailboxes (created when missing)
      --layout MODE    auto (the default): Apple Mail's mailbox names when the
                       messages lie in Apple Mail mailbox folders, else folders;
                       apple; folders (one mailbox per source folder)
      --for PROGRAM    thunderbird (DEST/Mail/Local Folders, with --flags),
                       apple-mail (<Name>.mbox/mbox) or any (the default)
      --flags          write the read and flagged state as Status headers
      --eol MODE       line ends: auto (each message keeps its own), crlf, lf
      --new-only       leave out the messages the destination already holds
      --verify         read every record back from the disk (--no-verify: not)
      --no-sync        no flush to the disk and no check (for scratch runs)
  -j, --jobs N         convert up to N mailboxes at once (default: one per CPU)
  -n, --dry-run        print "MESSAGE -> MAILBOX" for each message; write nothing
  -q, --quiet          print only the problems
  -h, --help           print this text; -V, --version: print the version

Exit status: 0 all converted; 1 some failed (the others are converted);
2 usage error, missing SOURCE or unusable DEST; 129, 130, 143 ended by a signal.
Everything else (naming, line ends, reruns, the report): man emlx2mbox
)";
}

}  // namespace drovanta
