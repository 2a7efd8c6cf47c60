#pragma once

#include <cstddef>
#include <string_view>

namespace drovanta {

// Where the message lies inside a message file. An .emlx file is a decimal byte count on its
// first line, the message, then Apple Mail's XML property list.
struct EmlxFrame {
  std::size_t messageBegin = 0;   // offset of the message's first byte in the file bytes
  std::size_t messageLength = 0;  // the message's length in bytes
  std::string_view propertyList;  // the "<?xml ... </plist>" text, empty when there is none
  bool framed = false;            // false: no count line
  // Where the count says the message ends, as an offset in the file; it may lie beyond the bytes
  // framed when only the start of the file was given.
  std::size_t countedEnd = 0;
};

// Frames the bytes of a file whose name passes the ".emlx" test (isEmlxName true) and whose
// first line is a count; any other file is taken whole. A count larger than the remaining bytes
// takes what remains; a property list inside the counted range is cut off.
EmlxFrame FrameEmlx(std::string_view fileBytes, bool isEmlxName);

// The property list in the bytes that follow a message: from its "<?xml" to its last
// "</plist>", or empty.
std::string_view PropertyListAfterMessage(std::string_view afterMessage);

}  // namespace drovanta
