#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "run/conversion_run.h"

namespace drovanta {

// "1 message", "2 messages": the count and the noun that agrees with it.
std::string Counted(long long count, const char* one, const char* many);

// "N converted, N failed, N skipped, N warnings; N mailboxes, N bytes written in S seconds"
// (a count of one takes the singular); with newOnly, ", N already in the mailbox" follows the
// warnings.
std::string SummaryLine(const RunSummary& summary, double seconds, bool newOnly = false);

// "N of these messages were already in the destination; --new-only leaves them out", for a
// run without --new-only into a destination that held some of its messages; else empty.
std::string AlreadyThereLine(long messages);

// "note: N messages kept CR LF line ends ..." with the option that writes them with LF, for a
// run that wrote such messages; else empty.
std::string LineEndNote(const RunSummary& summary);

// Everything the user needs after a run, on the stream: each failure as "path: reason", each
// warning as "warning: path: text", each skipped file as "skipped: path: text", the lines that
// say why the run ended early and what to know about its line ends, then the summary line, the
// closing line and last the line on what was made sure of on the disk: each only when not empty
// (--quiet leaves them empty).
// Paths are shown with their control characters escaped.
void PrintRunReport(std::FILE* stream, const std::vector<Failure>& failures,
                    const std::vector<Notice>& warnings, const std::vector<Notice>& skipped,
                    const std::string& interruption, const std::string& lineEndNote,
                    const std::string& summaryLine, const std::string& diskLine = {},
                    const std::string& closingLine = {});

}  // namespace drovanta
