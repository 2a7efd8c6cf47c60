#pragma once

#include <functional>
#include <string>

#include "run/conversion_run.h"
#include "window/background_run.h"

namespace drovanta {

// Said instead of starting or reporting a run that has nothing to convert.
inline constexpr const char* kNothingToConvert = "There are no files in the list to convert.";

// The closing box of a run: its text, caption, whether it reports failures, and every failure,
// warning and skipped file, one a line, for the box's details.
struct CompletionMessage {
  std::string text;
  std::string caption;
  bool failures = false;
  std::string details;
};
// The name of a mailbox file as its user knows it ("INBOX", "Archive/2024").
using MailboxNamer = std::function<std::string(const std::string& mailboxPath)>;
// Warnings and skipped files are counted and listed after the failures; a run whose messages
// all arrived, some with warnings, is no failure, but is not called a success either. Ends with
// the mailboxes written (by `nameOf`, else by file name), the messages found already there, and
// what reading the mailboxes back found; a mailbox that differs is a failure.
CompletionMessage CompletionMessageFor(const RunSummary& summary, const RunNotices& notices = {},
                                       const MailboxNamer& nameOf = {});

}  // namespace drovanta
