#pragma once

namespace drovanta {

enum class LineEnds {
  // Each message keeps its own convention inside an LF record (separator line and closing empty
  // line end with LF, which every mbox reader splits at): CR LF when the message's first line
  // end is CR LF or a lone CR, LF when it is a lone LF or there is none. The message bytes are
  // kept, except that a lone CR in a CR LF message becomes CR LF.
  Auto,
  CrLf,  // every line end CR LF, the separator line's and the closing one's too
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

// What a writer makes sure of before it lets go of a mailbox it wrote to.
enum class OnDisk {
  NotFlushed,  // nothing: the system writes the records when it likes
  // Flushed (fdatasync), then looked at: the file's length is what the writer left it, and each
  // record starts with "From " where it was put.
  Checked,
  // Checked, then every record read back from the device and compared with a digest of its
  // bytes taken while they were written.
  ReadBack,
};

// The line end of a message whose convention is settled (CrLf or Lf): the one its text gets
// where a line end is added to it.
inline const char* RecordLineEnd(LineEnds settled) {
  return settled == LineEnds::Lf ? "\n" : "\r\n";
}

// The line end of the record's own lines in a mode: after the separator line, the closing empty
// line, and what a torn mailbox tail is given. CR LF only when every line end is to be CR LF.
inline const char* FramingLineEnd(LineEnds mode) {
  return mode == LineEnds::CrLf ? "\r\n" : "\n";
}

}  // namespace drovanta
