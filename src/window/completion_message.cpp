#include "window/completion_message.h"

#include <algorithm>

#include "run/disk_check_line.h"
#include "shellutil/path_helpers.h"
#include "window/first_lines.h"
#include "window/window_layout.h"

namespace drovanta {
namespace {

constexpr const char* kCompletionCaption = "EMLX to MBOX Converter";
constexpr const char* kSucceeded =
    "Export Completed Successfully !\r\nYour data has been successfully exported to .mbox format "
    "(Compatible for Entourage, Thunderbird, Eudora, Mac Mail).";
// Every message arrived; the warnings say what some of them lack or how their files differ from
// what they claim.
constexpr const char* kSucceededWithWarnings =
    "Export Completed with Warnings !\r\nYour data has been exported to .mbox format (Compatible "
    "for Entourage, Thunderbird, Eudora, Mac Mail); some messages have warnings, listed below.";

// Messages kept with CR LF line ends read well in most mail programs but not in all; the window
// has no other line ends to offer, the command line has.
std::string lineEndNote(const RunSummary& summary) {
  if (summary.crLfMessages == 0) return {};
  return "\r\n" + std::to_string(summary.crLfMessages) +
         " message(s) kept CR LF line ends, which GNU mailutils cannot read (emlx2mbox --eol lf "
         "writes them with LF).";
}

// What the run wrote and what reading it back found, in the names the user knows: the lines
// that end every closing box of a run that wrote or found something.
std::string mailboxLines(const RunSummary& summary, const MailboxNamer& nameOf) {
  std::string text;
  if (!summary.mailboxes.empty()) {
    text += "\r\nMailboxes: ";
    const std::size_t shown = std::min(kLinesShown, summary.mailboxes.size());
    for (std::size_t i = 0; i < shown; ++i) {
      text += (i == 0 ? "" : ", ") + PrintableText(nameOf(summary.mailboxes[i]));
    }
    if (summary.mailboxes.size() > shown) {
      text += " and " + std::to_string(summary.mailboxes.size() - shown) + " more";
    }
  }
  if (summary.alreadyThere > 0) {
    text += "\r\n" + std::to_string(summary.alreadyThere) +
            " message(s) already in the mailbox, not added again.";
  }
  const DiskCheck& checked = summary.checked;
  if (!summary.mailboxes.empty()) {
    text += "\r\n" + DiskCheckLine(summary) + (checked.differing.empty() ? "." : ":");
    for (const Failure& differing : checked.differing) {
      text += "\r\n" + PrintableText(nameOf(differing.path)) + " (" +
              PrintableText(differing.path) + "): " + PrintableText(differing.reason);
    }
  }
  return text.empty() ? text : "\r\n" + text;
}

// "N message(s) converted", then each other count that is not zero (failures always in a box
// about failures or a stop).
std::string countsLine(const RunSummary& summary, bool withFailures) {
  std::string text = std::to_string(summary.converted) + " message(s) converted";
  if (withFailures) text += ", " + std::to_string(summary.failed) + " message(s) failed";
  if (summary.stopped) {
    text += ", " + std::to_string(summary.notReached) + " message(s) not converted";
  }
  if (summary.warnings > 0) {
    text += ", " + std::to_string(summary.warnings) + " message(s) with warnings";
  }
  if (summary.skipped > 0) text += ", " + std::to_string(summary.skipped) + " file(s) skipped";
  return text;
}

// Every failure, warning and skipped file, one a line, in that order.
std::vector<std::string> problemLines(const RunSummary& summary, const RunNotices& notices) {
  std::vector<std::string> lines;
  for (const Failure& failure : summary.failures) {
    lines.push_back(PrintableText(describe(failure)));
  }
  const auto add = [&lines](const char* kind, const std::vector<Notice>& told) {
    for (const Notice& notice : told) {
      lines.push_back(kind + PrintableText(notice.path) + ": " + PrintableText(notice.text));
    }
  };
  add("warning: ", notices.warnings);
  add("skipped: ", notices.skipped);
  return lines;
}

// ":" and the first few lines for the box, every line for its details; "." when there are none.
std::string listed(const std::vector<std::string>& lines, std::string& details) {
  if (lines.empty()) return ".";
  std::string text = ":";
  return text += FirstLinesOf(lines, details);
}

// The files a run that wrote nothing left out as not messages, when there were any.
std::string skippedLines(const RunSummary& summary, const RunNotices& notices,
                         std::string& details) {
  if (summary.skipped == 0) return {};
  return "\r\n" + std::to_string(summary.skipped) + " file(s) skipped" +
         listed(problemLines({}, {{}, notices.skipped}), details);
}

// The closing box as the run ended.
CompletionMessage completionMessage(const RunSummary& summary, const RunNotices& notices,
                                    const MailboxNamer& named) {
  const bool failures = summary.failed > 0 || !summary.checked.differing.empty();
  const std::string ending = lineEndNote(summary) + mailboxLines(summary, named);
  std::string details;
  if (!summary.stopped && !failures) {
    if (summary.converted == 0 && summary.alreadyThere > 0) {
      return {"Nothing new to convert: the destination already holds all " +
                  std::to_string(summary.alreadyThere) + " message(s)." +
                  skippedLines(summary, notices, details),
              kApplicationTitle, false, details};
    }
    if (summary.converted == 0) {
      // Nothing was written, so nothing may be reported as exported.
      return {kNothingToConvert + skippedLines(summary, notices, details), kApplicationTitle, false,
              details};
    }
    if (summary.warnings == 0 && summary.skipped == 0) {
      return {kSucceeded + ending, kCompletionCaption, false, {}};
    }
    std::string text = summary.warnings > 0 ? kSucceededWithWarnings : kSucceeded;
    text += "\r\n";
    text += countsLine(summary, false) + listed(problemLines(summary, notices), details) + ending;
    return {text, kCompletionCaption, false, details};
  }
  std::string text =
      summary.stopped ? "Converting was stopped.\r\n" : "Export finished with errors.\r\n";
  text += countsLine(summary, true) + listed(problemLines(summary, notices), details) + ending;
  return {text, kCompletionCaption, failures, details};
}

}  // namespace

CompletionMessage CompletionMessageFor(const RunSummary& summary, const RunNotices& notices,
                                       const MailboxNamer& nameOf) {
  const MailboxNamer named =
      nameOf ? nameOf : [](const std::string& path) { return GetFileName(path); };
  CompletionMessage message = completionMessage(summary, notices, named);
  // A stop answered Yes once every message was taken: the run is reported as it ended, but the
  // user learns why nothing was left out.
  if (notices.stopAfterLast && !summary.stopped) {
    message.text = "The stop came after the last message; none was left out.\r\n" + message.text;
  }
  return message;
}

}  // namespace drovanta
