#pragma once

namespace drovanta {

enum class LineEnds {
  CrLf,  // lone CR becomes CR LF, lone LF stays; separator and closing line end are CR LF
  Lf,    // CR LF and lone CR become LF; separator and closing line end are LF
};

// How records are written. The defaults are the window's behaviour.
struct RecordOptions {
  LineEnds lineEnds = LineEnds::CrLf;
  // Put the message's Apple Mail state (read, answered, flagged, ...) from its property list
  // into Status, X-Status and X-Mozilla-Status headers right after the separator line.
  bool writeFlags = false;
};

}  // namespace drovanta
