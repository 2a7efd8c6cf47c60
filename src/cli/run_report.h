#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "run/conversion_run.h"

namespace drovanta {

// "N converted, N failed, N skipped, N warnings; N mailboxes, N bytes written in S seconds".
std::string SummaryLine(const RunSummary& summary, double seconds);

// Everything the user needs after a run, on the stream: each failure as "path: reason", each
// warning as "warning: path: text", each skipped file as "skipped: path: text", the line that
// says why the run ended early (when not empty), then the summary line. Paths are shown with
// their control characters escaped.
void PrintRunReport(std::FILE* stream, const std::vector<Failure>& failures,
                    const std::vector<Notice>& warnings, const std::vector<Notice>& skipped,
                    const std::string& interruption, const std::string& summaryLine);

}  // namespace drovanta
