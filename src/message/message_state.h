#pragma once

namespace drovanta {

// What a mail program kept of a message's handling that mail readers can show.
struct MessageState {
  bool read = false;
  bool deleted = false;
  bool answered = false;
  bool flagged = false;
  bool draft = false;
  bool forwarded = false;
  bool redirected = false;
};

}  // namespace drovanta
