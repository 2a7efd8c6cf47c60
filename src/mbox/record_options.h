#pragma once

namespace drovanta {

enum class LineEnds {
  // Each record keeps its message's own convention: CR LF when the message's first line end is
  // CR LF or a lone CR (or it has none), LF when it is a lone LF. The message bytes are kept,
  // except that a lone CR in a CR LF record becomes CR LF.
  Auto,
  CrLf,  // every line end CR LF: lone CR and lone LF become CR LF
  Lf,    // every line end LF: CR LF and lone CR become LF
};

// How records are written. The defaults are the window's behaviour.
struct RecordOptions {
  LineEnds lineEnds = LineEnds::Auto;
  // Put the message's Apple Mail state (read, answered, flagged, ...) from its property list
  // into Status, X-Status and X-Mozilla-Status headers right after the separator line.
  bool writeFlags = false;
  // A message that needs no change is moved from its file to the mailbox by the kernel. Off,
  // every message streams through the writer's buffer: the same bytes, more slowly.
  bool kernelCopy = true;
};

// The line end of a record whose convention is settled (CrLf or Lf); the record writer is given
// the settled convention of each message.
inline const char* RecordLineEnd(LineEnds settled) {
  return settled == LineEnds::Lf ? "\n" : "\r\n";
}

}  // namespace drovanta
