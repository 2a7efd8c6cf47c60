// emlx2mbox: the command line over the conversion core. Glue only: read the arguments, gather
// the messages, run the conversion, report and turn the result into an exit code.
#include <unistd.h>
#ifdef __GLIBC__
#include <malloc.h>
#endif

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <variant>
#include <vector>

#include "cli/cli_options.h"
#include "cli/dry_run.h"
#include "cli/progress_line.h"
#include "cli/rerun_question.h"
#include "cli/run_report.h"
#include "cli/source_rows.h"
#include "mbox/apple_layout.h"
#include "mbox/apple_mailbox_naming.h"
#include "run/already_there.h"
#include "run/conversion_run.h"
#include "run/destination_check.h"
#include "run/disk_check_line.h"
#include "run/parallel_run.h"
#include "run/stop_signals.h"
#include "shellutil/folder_creation.h"
#include "shellutil/path_helpers.h"

namespace drovanta {
namespace {

constexpr int kExitConverted = 0;
constexpr int kExitSomeFailed = 1;
constexpr int kExitUsage = 2;

int UsageFailure(const std::string& text) {
  std::fprintf(stderr, "%s: %s\nTry '%s --help' for more information.\n", kProgramName,
               text.c_str(), kProgramName);
  return kExitUsage;
}

// Standard output flushed and checked: what could not be written there (a full disk, a closed
// stream) is an error, not a success. Says so on stderr and answers false. The caller clears
// errno before writing: a write that failed before the flush left its reason there.
bool WroteStandardOutput(const char* what) {
  const int written = errno;
  const bool flushed = std::fflush(stdout) == 0;
  const int error = !flushed ? errno : written;
  if (flushed && !std::ferror(stdout)) return true;
  std::fprintf(stderr, "%s: cannot write %s: %s\n", kProgramName, what,
               error != 0 ? std::strerror(error) : "write error");
  return false;
}

// Apple Mail's names for the run: asked for, or (--layout auto) when a message found lies inside
// an Apple Mail mailbox folder, the test by which the window ticks its "Apple Mail mailbox
// names" box.
bool UsesAppleNames(MailboxLayout layout, const std::vector<std::string>& rows) {
  if (layout != MailboxLayout::Auto) return layout == MailboxLayout::Apple;
  return std::any_of(rows.begin(), rows.end(),
                     [](const std::string& row) { return FindAppleMailbox(row).has_value(); });
}

// A SOURCE or DEST that names nothing usable: "emlx2mbox: path: reason".
int PathFailure(const Failure& failure) {
  std::fprintf(stderr, "%s: %s\n", kProgramName, PrintableText(describe(failure)).c_str());
  return kExitUsage;
}

int Run(const std::vector<std::string>& args, StopRequest& stop) {
  auto parsed = ParseCommandLine(args);
  if (auto* error = std::get_if<UsageError>(&parsed)) {
    ReleaseStopSignals(stop);
    return UsageFailure(error->text);
  }
  const CliOptions& options = std::get<CliOptions>(parsed);
  // Only a run that writes keeps the handlers: anything else ends at once on a signal, as a
  // signal that came while the arguments were read does now.
  if (options.help || options.version || options.dryRun) ReleaseStopSignals(stop);
  if (options.help) {
    errno = 0;
    std::fputs(HelpText(), stdout);
    return WroteStandardOutput("the help") ? kExitConverted : kExitSomeFailed;
  }
  if (options.version) {
    errno = 0;
    std::printf("%s %s\n", kProgramName, kProgramVersion);
    return WroteStandardOutput("the version") ? kExitConverted : kExitSomeFailed;
  }

  const auto sources = MakeSourcesAbsolute(options.sources);
  if (sources.failure) return PathFailure(*sources.failure);
  const Outcome<std::string> absoluteDestination = MakeAbsolutePath(options.destination);
  if (!absoluteDestination) return PathFailure(absoluteDestination.failure());
  const std::string& destination = *absoluteDestination;

  const auto started = std::chrono::steady_clock::now();
  SourceRows collected = CollectSourceRows(sources.paths, options.dryRun ? nullptr : &stop);
  const auto seconds = [&] {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  };
  if (collected.stopped) {
    RunSummary summary;
    summary.failed = static_cast<long>(collected.failures.size());
    summary.skipped = static_cast<long>(collected.skipped.size());
    const std::string interruption = std::string(kProgramName) + ": interrupted by " +
                                     SignalName(stop.reason()) +
                                     " while looking for messages; nothing converted";
    PrintRunReport(stderr, collected.failures, {}, collected.skipped, interruption, {},
                   options.quiet ? std::string() : SummaryLine(summary, seconds()));
    return ExitStatusForSignal(stop.reason());
  }

  RunOptions runOptions;
  runOptions.record = options.record;
  runOptions.newOnly = options.newOnly;
  runOptions.onDisk = options.onDisk;
  std::string versionsLine;
  std::vector<Notice> planWarnings;  // about the accounts' names, ahead of the messages' own
  std::function<std::vector<Failure>(const std::string&, const std::vector<std::string>&)> finish;
  if (UsesAppleNames(options.layout, collected.rows)) {
    AppleLayoutPlan plan = PlanAppleLayout(std::move(collected.rows), options.mailProgram);
    runOptions.placer = std::move(plan.placer);
    planWarnings = std::move(plan.warnings);
    finish = std::move(plan.finish);
    collected.rows = std::move(plan.rows);
    if (plan.versionFolders) {
      versionsLine = "Apple Mail library versions found: ";
      for (std::size_t i = 0; i < plan.versions.size(); ++i) {
        versionsLine += (i == 0 ? "" : ", ") + plan.versions[i];
      }
      versionsLine += " (each in its own folder)";
    }
  }

  // Each mailbox goes into a mirror of its source folder under DEST: with DEST "/", or a DEST
  // whose mirror of one SOURCE is another SOURCE, the run would write into its own sources.
  if (const auto written = FindSourceWrittenInto(
          destination, FoldersOfRun(collected.folders, collected.rows), runOptions)) {
    const std::string what =
        written->messagesOf.empty()
            ? std::string("the destination lies in ")
            : "the mailboxes of " + written->messagesOf + " would be written into ";
    std::fprintf(stderr, "%s: %s: %s%s, which is being converted\n", kProgramName,
                 PrintableText(destination).c_str(), PrintableText(what).c_str(),
                 PrintableText(written->source).c_str());
    return kExitUsage;
  }

  if (options.dryRun) {
    errno = 0;
    const auto mailboxes = PrintDryRun(stdout, collected.rows, destination, runOptions);
    const bool listed = WroteStandardOutput("the listing");
    for (const auto& failure : collected.failures) {
      std::fprintf(stderr, "%s\n", PrintableText(describe(failure)).c_str());
    }
    for (const auto& notice : planWarnings) {
      std::fprintf(stderr, "warning: %s: %s\n", PrintableText(notice.path).c_str(),
                   PrintableText(notice.text).c_str());
    }
    for (const auto& notice : collected.skipped) {
      std::fprintf(stderr, "skipped: %s: %s\n", PrintableText(notice.path).c_str(),
                   PrintableText(notice.text).c_str());
    }
    if (!options.quiet) {
      std::fprintf(
          stderr, "%s into %s; nothing written (dry run)\n",
          Counted(static_cast<long long>(collected.rows.size()), "message", "messages").c_str(),
          Counted(static_cast<long long>(mailboxes), "mailbox", "mailboxes").c_str());
    }
    return listed && collected.failures.empty() ? kExitConverted : kExitSomeFailed;
  }

  // A rerun into a destination that holds some of the messages already doubles them unless
  // --new-only is given: a terminal is asked, as the window asks; otherwise the report says so.
  runOptions.stop = &stop;
  long alreadyThere = 0;
  if (!options.newOnly) {
    const AlreadyThereCount there = CountAlreadyThere(collected.rows, destination, runOptions);
    if (there.stopped) {
      std::fprintf(stderr, "%s: interrupted by %s before converting; nothing converted\n",
                   kProgramName, SignalName(stop.reason()));
      return ExitStatusForSignal(stop.reason());
    }
    alreadyThere = there.messages;
    if (alreadyThere > 0 && ::isatty(STDIN_FILENO) && ::isatty(STDERR_FILENO)) {
      const RerunAnswer answer = AskWhetherNewOnly(alreadyThere, stdin, stderr);
      if (stop.stopping()) {
        std::fprintf(stderr, "%s: interrupted by %s before converting; nothing converted\n",
                     kProgramName, SignalName(stop.reason()));
        return ExitStatusForSignal(stop.reason());
      }
      if (answer == RerunAnswer::Cancel) {
        std::fprintf(stderr, "%s: cancelled; nothing converted\n", kProgramName);
        return kExitSomeFailed;
      }
      runOptions.newOnly = answer == RerunAnswer::NewOnly;
      alreadyThere = 0;  // answered: nothing left to point out
    }
  }

  // A destination that cannot be written is refused before the run, not found by every message.
  std::vector<std::string> destinationMade;
  if (const MaybeFailure failure = TryWritingInto(destination, &destinationMade)) {
    std::fprintf(stderr, "%s: %s\n", kProgramName, PrintableText(describe(*failure)).c_str());
    return kExitUsage;
  }

  const long total = static_cast<long>(collected.rows.size());
  ProgressLine progress(total, !options.quiet && ::isatty(STDERR_FILENO), stderr);
  const unsigned jobs =
      options.jobs != 0 ? options.jobs : std::max(1u, std::thread::hardware_concurrency());
  RunSummary summary =
      RunConversionInParallel(collected.rows, destination, progress, runOptions, jobs);
  progress.clear();
  if (finish) {
    for (Failure& failure : finish(destination, summary.mailboxes)) {
      summary.failures.push_back(std::move(failure));
      ++summary.failed;
    }
  }

  // Folders that could not be walked count as failures, and special files found by the walk as
  // skipped, ahead of the messages' own.
  std::vector<Failure> failures = collected.failures;
  failures.insert(failures.end(), summary.failures.begin(), summary.failures.end());
  summary.failed += static_cast<long>(collected.failures.size());
  std::vector<Notice> skipped = collected.skipped;
  skipped.insert(skipped.end(), progress.skipped().begin(), progress.skipped().end());
  summary.skipped += static_cast<long>(collected.skipped.size());

  std::string interruption;
  if (summary.stopped) {
    interruption = std::string(kProgramName) + ": interrupted by " + SignalName(stop.reason()) +
                   "; " + std::to_string(summary.notReached) + " of " +
                   Counted(total, "message", "messages") + " not converted";
  }
  // The destination's own new folders get flushed like those the run made below it.
  if (options.onDisk != OnDisk::NotFlushed) {
    for (Failure& failure : FlushFoldersHolding(destinationMade)) {
      summary.checked.differing.push_back(std::move(failure));
    }
  }
  // A mailbox that does not hold what was written is a failure like a message's.
  failures.insert(failures.end(), summary.checked.differing.begin(),
                  summary.checked.differing.end());
  if (!versionsLine.empty() && !options.quiet) {
    interruption = interruption.empty() ? versionsLine : versionsLine + "\n" + interruption;
  }
  std::vector<Notice> warnings = planWarnings;
  warnings.insert(warnings.end(), progress.warnings().begin(), progress.warnings().end());
  if (options.quiet) {
    PrintRunReport(stderr, failures, warnings, skipped, interruption, {}, {}, {},
                   AlreadyThereLine(alreadyThere));
  } else {
    PrintRunReport(stderr, failures, warnings, skipped, interruption, LineEndNote(summary),
                   SummaryLine(summary, seconds(), runOptions.newOnly), DiskCheckLine(summary),
                   AlreadyThereLine(alreadyThere));
  }
  if (summary.stopped) return ExitStatusForSignal(stop.reason());
  return summary.succeeded() ? kExitConverted : kExitSomeFailed;
}

}  // namespace
}  // namespace drovanta

int main(int argc, char** argv) {
#ifdef __GLIBC__
  // Blocks of 256 KB and more (the lists of 200,000 rows, records and paths) are mapped and go
  // back to the system when freed. Left to itself, glibc raises this bound after the first such
  // free, and the next lists land in the heap, where what they leave is never given back.
  mallopt(M_MMAP_THRESHOLD, 256 * 1024);
#endif
  // The handlers come first: a signal in the first milliseconds would otherwise kill the
  // program outright instead of ending it with its report.
  static drovanta::StopRequest stop;  // the signal handlers keep pointing at it
  drovanta::InstallStopSignals(stop);
  std::vector<std::string> args(argv + 1, argv + argc);
  const int status = drovanta::Run(args, stop);
  // A signal that came when no run was there to tell of it (a SOURCE refused, say) still ends
  // the program with its status.
  if (stop.reason() > 0 && status != drovanta::ExitStatusForSignal(stop.reason())) {
    std::fprintf(stderr, "%s: interrupted by %s\n", drovanta::kProgramName,
                 drovanta::SignalName(stop.reason()));
    return drovanta::ExitStatusForSignal(stop.reason());
  }
  return status;
}
