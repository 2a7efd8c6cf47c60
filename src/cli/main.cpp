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
#include <string>
#include <thread>
#include <variant>
#include <vector>

#include "cli/cli_options.h"
#include "cli/dry_run.h"
#include "cli/progress_line.h"
#include "cli/run_report.h"
#include "cli/source_rows.h"
#include "mbox/apple_mailbox_naming.h"
#include "run/conversion_run.h"
#include "run/destination_check.h"
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
                   SummaryLine(summary, seconds()));
    return ExitStatusForSignal(stop.reason());
  }

  RunOptions runOptions;
  runOptions.record = options.record;
  runOptions.newOnly = options.newOnly;
  runOptions.readBack = options.readBack;
  std::string versionsLine;
  if (options.layout == MailboxLayout::Apple) {
    AppleLayoutPlan plan = PlanAppleLayout(std::move(collected.rows));
    runOptions.placer = std::move(plan.placer);
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
    for (const auto& notice : collected.skipped) {
      std::fprintf(stderr, "skipped: %s: %s\n", PrintableText(notice.path).c_str(),
                   PrintableText(notice.text).c_str());
    }
    std::fprintf(stderr, "%zu messages into %zu mailboxes; nothing written (dry run)\n",
                 collected.rows.size(), mailboxes);
    return listed && collected.failures.empty() ? kExitConverted : kExitSomeFailed;
  }

  if (const MaybeFailure failure = CreateFolderPath(destination)) {
    std::fprintf(stderr, "%s: %s: cannot create the destination folder: %s\n", kProgramName,
                 PrintableText(destination).c_str(), PrintableText(failure->reason).c_str());
    return kExitUsage;
  }

  const long total = static_cast<long>(collected.rows.size());
  ProgressLine progress(total, !options.quiet && ::isatty(STDERR_FILENO), stderr);
  runOptions.stop = &stop;
  const unsigned jobs =
      options.jobs != 0 ? options.jobs : std::max(1u, std::thread::hardware_concurrency());
  RunSummary summary =
      RunConversionInParallel(collected.rows, destination, progress, runOptions, jobs);
  progress.clear();

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
                   "; " + std::to_string(summary.notReached) + " of " + std::to_string(total) +
                   " messages not converted";
  }
  // A mailbox that does not hold what was written is a failure like a message's.
  failures.insert(failures.end(), summary.readBack.differing.begin(),
                  summary.readBack.differing.end());
  if (!versionsLine.empty()) {
    interruption = interruption.empty() ? versionsLine : versionsLine + "\n" + interruption;
  }
  PrintRunReport(stderr, failures, progress.warnings(), skipped, interruption, LineEndNote(summary),
                 SummaryLine(summary, seconds(), options.newOnly),
                 summary.readBack.done ? ReadBackLine(summary.readBack) : std::string());
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
