#include "shellutil/failure.h"

namespace drovanta {

const char* toString(FailureCode code) {
  switch (code) {
    case FailureCode::MessageMissing:
      return "message file not found";
    case FailureCode::MessageUnreadable:
      return "message file cannot be read";
    case FailureCode::MessageUnloadable:
      return "message cannot be parsed";
    case FailureCode::FolderNotCreated:
      return "output folder cannot be created";
    case FailureCode::MailboxUnwritable:
      return "mailbox file cannot be written";
    case FailureCode::MailboxUnreadable:
      return "mailbox file cannot be read";
    case FailureCode::MailboxNotMbox:
      return "not an mbox file";
    case FailureCode::MailboxBusy:
      return "another program is writing to the mailbox";
    case FailureCode::ReadBackDiffers:
      return "mailbox differs from what was written";
    case FailureCode::Interrupted:
      return "interrupted";
    case FailureCode::FolderUnlistable:
      return "folder cannot be listed";
    case FailureCode::ScannerNotReady:
      return "scanner not initialised";
    case FailureCode::PathUnresolvable:
      return "path cannot be made absolute";
  }
  return "unknown failure";
}

std::string describe(const Failure& failure) {
  std::string text = failure.path;
  text += ": ";
  text += failure.reason.empty() ? toString(failure.code) : failure.reason;
  return text;
}

}  // namespace drovanta
