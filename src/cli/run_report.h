#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "run/conversion_run.h"

namespace drovanta {

// "N converted, N failed, N skipped, N warnings; N mailboxes, N bytes written in S seconds";
// with newOnly, ", N already in the mailbox" follows the warnings.
std::string SummaryLine(const RunSummary& summary, double seconds, bool newOnly = false);

// "note: N message(s) kept CR LF line ends ..." with the option that writes them with LF, for a
// run that wrote such messages; else empty.
std::string LineEndNote(const RunSummary& summary);

// Everything the user needs after a run, on the stream: each failure as "path: reason", each
// warning as "warning: path: text", each skipped file as "skipped: path: text", the lines that
// say why the run ended early and what to know about its line ends (each when not empty), then
// the summary line and the line that says what was made sure of on the disk (when not empty). Paths
// are shown with their control characters escaped.
void PrintRunReport(std::FILE* stream, const std::vector<Failure>& failures,
                    const std::vector<Notice>& warnings, const std::vector<Notice>& skipped,
                    const std::string& interruption, const std::string& lineEndNote,
                    const std::string& summaryLine, const std::string& diskLine = {});

}  // namespace drovanta
