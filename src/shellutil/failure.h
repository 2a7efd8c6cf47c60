#pragma once

#include <optional>
#include <string>
#include <utility>
#include <variant>

namespace drovanta {

// Why one message, folder or mailbox could not be handled. Expected failures travel as values;
// exceptions are kept for what must unwind a whole command.
enum class FailureCode {
  MessageMissing,     // the message file does not exist
  MessageUnreadable,  // it exists but cannot be opened or read whole
  MessageUnloadable,  // its header block cannot be parsed
  FolderNotCreated,   // the output folder cannot be created
  MailboxUnwritable,  // the mailbox file cannot be opened or written completely
  MailboxUnreadable,  // an existing mailbox cannot be read (to find what it holds, or back)
  MailboxNotMbox,     // an existing mailbox file does not start with "From "
  MailboxBusy,        // another program is writing to an existing mailbox
  ReadBackDiffers,    // a mailbox checked after its flush does not hold what the run wrote
  Interrupted,        // a stop was asked for while the record was written; it was cut back
  FolderUnlistable,   // a folder's entries cannot be listed during a walk
  ScannerNotReady,    // a walk was asked of a scanner without its file-system service
  PathUnresolvable,   // a path is empty, or relative to a working folder that cannot be found
};

const char* toString(FailureCode code);

struct Failure {
  FailureCode code;
  std::string path;    // the file or folder concerned
  std::string reason;  // a plain-language reason, e.g. "No such file or directory"
};

// "path: reason", the form every front-end prints.
std::string describe(const Failure& failure);

using MaybeFailure = std::optional<Failure>;

// Something worth telling the user that is not a failure: a part whose attachment is missing
// (the message is still converted), or a file that is not a message and was left out.
struct Notice {
  std::string path;
  std::string text;
};

// A value or the failure that prevented it.
template <typename T>
class Outcome {
 public:
  Outcome(T value) : state_(std::move(value)) {}
  Outcome(Failure failure) : state_(std::move(failure)) {}

  bool ok() const { return std::holds_alternative<T>(state_); }
  explicit operator bool() const { return ok(); }

  T& value() { return std::get<T>(state_); }
  const T& value() const { return std::get<T>(state_); }
  T& operator*() { return value(); }
  const T& operator*() const { return value(); }
  T* operator->() { return &value(); }
  const T* operator->() const { return &value(); }

  const Failure& failure() const { return std::get<Failure>(state_); }

 private:
  std::variant<T, Failure> state_;
};

}  // namespace drovanta
