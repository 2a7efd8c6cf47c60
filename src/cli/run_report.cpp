#include "cli/run_report.h"

#include "shellutil/path_helpers.h"

namespace drovanta {

std::string SummaryLine(const RunSummary& summary, double seconds, bool newOnly) {
  char already[64] = "";
  if (newOnly)
    std::snprintf(already, sizeof already, ", %ld already in the mailbox", summary.alreadyThere);
  char text[320];
  std::snprintf(text, sizeof text,
                "%ld converted, %ld failed, %ld skipped, %ld warnings%s; %zu mailboxes, %llu bytes "
                "written in %.2f seconds",
                summary.converted, summary.failed, summary.skipped, summary.warnings, already,
                summary.mailboxes.size(), static_cast<unsigned long long>(summary.bytesWritten),
                seconds);
  return text;
}

std::string LineEndNote(const RunSummary& summary) {
  if (summary.crLfMessages == 0) return {};
  // Readers that take a line as ending at LF only (GNU mailutils) find no end to such a header.
  return "note: " + std::to_string(summary.crLfMessages) +
         " message(s) kept CR LF line ends, which GNU mailutils cannot read; --eol lf writes "
         "them with LF";
}

std::string ReadBackLine(const ReadBackSummary& readBack) {
  std::string line = "Read back: " + std::to_string(readBack.records) + " records in " +
                     std::to_string(readBack.mailboxes) + " mailboxes, ";
  line += readBack.differing.empty() ? std::string("all whole")
                                     : std::to_string(readBack.differing.size()) + " differ";
  // The counts then hold only the mailboxes read before the second signal.
  if (readBack.cutShort) line += "; cut short by a second signal";
  return line;
}

void PrintRunReport(std::FILE* stream, const std::vector<Failure>& failures,
                    const std::vector<Notice>& warnings, const std::vector<Notice>& skipped,
                    const std::string& interruption, const std::string& lineEndNote,
                    const std::string& summaryLine, const std::string& readBackLine) {
  for (const auto& failure : failures) {
    std::fprintf(stream, "%s\n", PrintableText(describe(failure)).c_str());
  }
  for (const auto& notice : warnings) {
    std::fprintf(stream, "warning: %s: %s\n", PrintableText(notice.path).c_str(),
                 PrintableText(notice.text).c_str());
  }
  for (const auto& notice : skipped) {
    std::fprintf(stream, "skipped: %s: %s\n", PrintableText(notice.path).c_str(),
                 PrintableText(notice.text).c_str());
  }
  if (!interruption.empty()) std::fprintf(stream, "%s\n", interruption.c_str());
  if (!lineEndNote.empty()) std::fprintf(stream, "%s\n", lineEndNote.c_str());
  std::fprintf(stream, "%s\n", summaryLine.c_str());
  if (!readBackLine.empty()) std::fprintf(stream, "%s\n", readBackLine.c_str());
}

}  // namespace drovanta
