#include "cli/run_report.h"

#include "shellutil/path_helpers.h"

namespace drovanta {

std::string Counted(long long count, const char* one, const char* many) {
  return std::to_string(count) + " " + (count == 1 ? one : many);
}

std::string SummaryLine(const RunSummary& summary, double seconds, bool newOnly) {
  std::string line = std::to_string(summary.converted) + " converted, " +
                     std::to_string(summary.failed) + " failed, " +
                     std::to_string(summary.skipped) + " skipped, " +
                     Counted(summary.warnings, "warning", "warnings");
  if (newOnly) line += ", " + std::to_string(summary.alreadyThere) + " already in the mailbox";
  char time[64];
  std::snprintf(time, sizeof time, " written in %.2f seconds", seconds);
  return line + "; " +
         Counted(static_cast<long long>(summary.mailboxes.size()), "mailbox", "mailboxes") + ", " +
         Counted(static_cast<long long>(summary.bytesWritten), "byte", "bytes") + time;
}

std::string AlreadyThereLine(long messages) {
  if (messages == 0) return {};
  return std::to_string(messages) +
         (messages == 1 ? " of these messages was" : " of these messages were") +
         " already in the destination; --new-only leaves them out";
}

std::string LineEndNote(const RunSummary& summary) {
  if (summary.crLfMessages == 0) return {};
  // Readers that take a line as ending at LF only (GNU mailutils) find no end to such a header.
  return "note: " + Counted(summary.crLfMessages, "message", "messages") +
         " kept CR LF line ends, which GNU mailutils cannot read; --eol lf writes them with LF";
}

void PrintRunReport(std::FILE* stream, const std::vector<Failure>& failures,
                    const std::vector<Notice>& warnings, const std::vector<Notice>& skipped,
                    const std::string& interruption, const std::string& lineEndNote,
                    const std::string& summaryLine, const std::string& diskLine,
                    const std::string& closingLine) {
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
  for (const std::string* line : {&summaryLine, &closingLine, &diskLine}) {
    if (!line->empty()) std::fprintf(stream, "%s\n", line->c_str());
  }
}

}  // namespace drovanta
