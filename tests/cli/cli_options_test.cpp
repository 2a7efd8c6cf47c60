// The command-line parser's cases in one table: what getopt_long's conventions accept (bundles,
// prefixes, values attached or apart, "--") and the exact text of each usage error.
#include "cli/cli_options.h"

#include <gtest/gtest.h>

#include <string>
#include <variant>
#include <vector>

namespace drovanta {
namespace {

// The options as one line, only what differs from the defaults, so a case reads as one string.
std::string Describe(const std::variant<CliOptions, UsageError>& parsed) {
  if (const auto* error = std::get_if<UsageError>(&parsed)) return "error: " + error->text;
  const CliOptions& o = std::get<CliOptions>(parsed);
  std::string text = "o=" + o.destination + " [";
  for (const auto& source : o.sources) text += (text.ends_with("[") ? "" : ",") + source;
  text += "]";
  if (o.layout == MailboxLayout::Apple) text += " apple";
  if (o.layout == MailboxLayout::Folders) text += " folders";
  if (o.mailProgram == MailProgram::Thunderbird) text += " for-thunderbird";
  if (o.mailProgram == MailProgram::AppleMail) text += " for-apple-mail";
  if (o.record.writeFlags) text += " flags";
  if (o.record.lineEnds == LineEnds::Lf) text += " lf";
  if (o.record.lineEnds == LineEnds::CrLf) text += " crlf";
  if (o.jobs != 0) text += " j" + std::to_string(o.jobs);
  if (o.newOnly) text += " new-only";
  if (o.onDisk == OnDisk::ReadBack) text += " verify";
  if (o.onDisk == OnDisk::NotFlushed) text += " no-sync";
  if (o.quiet) text += " quiet";
  if (o.dryRun) text += " dry-run";
  if (o.help) text += " help";
  if (o.version) text += " version";
  return text;
}

TEST(CliOptions, ParsesAsGetoptLongDoes) {
  const struct {
    std::vector<std::string> args;
    std::string expected;
  } cases[] = {
      {{"-o", "out", "src"}, "o=out [src]"},
      {{"src", "-oout", "more"}, "o=out [src,more]"},
      {{"--output=out", "a", "--", "-b", "--flags"}, "o=out [a,-b,--flags]"},
      {{"-o", "out", "-", ""}, "error: SOURCE 2 is empty"},
      {{"-qn", "-j2", "-o", "out", "src"}, "o=out [src] j2 quiet dry-run"},
      {{"-qnj", "3", "-oout", "src"}, "o=out [src] j3 quiet dry-run"},
      {{"--new", "--no-s", "--fl", "--lay", "apple", "--eol=lf", "-o", "o", "s"},
       "o=o [s] apple flags lf new-only no-sync"},
      {{"--no-sync", "--verify", "-o", "o", "s"}, "o=o [s] verify"},
      {{"--verify", "--no-v", "-o", "o", "s"}, "o=o [s]"},
      {{"--layout", "folders", "--layout=auto", "--eol", "crlf", "-o", "o", "s"}, "o=o [s] crlf"},
      {{"--layout=folders", "--jobs=1024", "-o", "o", "s"}, "o=o [s] folders j1024"},
      {{"--for", "thunderbird", "-o", "o", "s"}, "o=o [s] apple for-thunderbird flags"},
      {{"--for=apple-mail", "--layout=apple", "-o", "o", "s"}, "o=o [s] apple for-apple-mail"},
      {{"--for=thunderbird", "--layout=folders", "-o", "o", "s"},
       "error: --for names mailboxes as --layout apple does, not as --layout folders"},
      {{"--for", "evolution", "-o", "o", "s"},
       "error: --for must be any, thunderbird or apple-mail, not 'evolution'"},
      {{"-V"}, "o= [] version"},
      {{"--vers"}, "o= [] version"},
      {{"-h", "-o", "out"}, "o=out [] help"},
      {{}, "error: no destination folder given (-o DEST)"},
      {{"-o", "out"}, "error: no SOURCE given"},
      {{"src", "-o"}, "error: option '-o' needs a value"},
      {{"src", "-qo"}, "error: option '-o' needs a value"},
      {{"src", "--out"}, "error: option '--output' needs a value"},
      {{"-o", "a", "-o", "b", "src"}, "error: the destination is given more than once"},
      {{"--output=", "src"}, "error: the destination is empty"},
      {{"-o", "out", "--frobnicate=1", "src"}, "error: unknown option '--frobnicate'"},
      {{"-o", "out", "-qx", "src"}, "error: unknown option '-x'"},
      {{"-o", "out", "--n", "src"},
       "error: option '--n' is ambiguous (--new-only, --no-verify, --no-sync)"},
      {{"-o", "out", "--fla=yes", "src"}, "error: option '--flags' takes no value"},
      {{"-o", "out", "--eol", "cr", "src"}, "error: --eol must be auto, crlf or lf, not 'cr'"},
      {{"-o", "o", "--layout=maildir", "s"},
       "error: --layout must be auto, apple or folders, not 'maildir'"},
      {{"-o", "o", "-j0", "s"}, "error: --jobs must be a number from 1 to 1024, not '0'"},
      {{"-o", "o", "--jobs", "2x", "s"}, "error: --jobs must be a number from 1 to 1024, not '2x'"},
  };
  for (const auto& c : cases) {
    std::string line;
    for (const auto& arg : c.args) line += " '" + arg + "'";
    EXPECT_EQ(Describe(ParseCommandLine(c.args)), c.expected) << line;
  }
}

}  // namespace
}  // namespace drovanta
