#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "run/conversion_run.h"
#include "window/background_run.h"

namespace drovanta {

class StepWindow;

// How much of a message file has been read, in whole percent rounded half to even.
double MessageReadPercent(std::uint64_t textLength, std::uint64_t fileLength);

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

// The setting that keeps the last destination used, from one start of the program to the next.
inline constexpr const char* kLastDestinationSetting = "lastDestination";

// The Convert command: says so when the list is empty; otherwise asks for a destination folder
// outside the folders being converted, and converts every listed message into the mailbox
// files under it with the command line's parallel engine on threads of its own. Meanwhile the
// window only shows the progress, at most 60 times a second, and only Escape, Help and Exit
// act. Then it reports the end.
void ConvertCommand(StepWindow& form);

}  // namespace drovanta
