#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace drovanta {

// Where the message lies inside a message file. An .emlx file is a decimal byte count on its
// first line, the message, then Apple Mail's property list (XML; binary from some tools).
struct EmlxFrame {
  std::size_t messageBegin = 0;   // offset of the message's first byte in the file bytes
  std::size_t messageLength = 0;  // the message's length in bytes
  std::string_view propertyList;  // "<?xml ... </plist>" or "bplist00 ..."; empty when none
  bool framed = false;            // false: no count line
  // A first line of a sign and digits ("-5"), as written: a count line broken, left out of the
  // message; empty otherwise.
  std::string_view brokenCountLine;
  // Where the count says the message ends, as an offset in the file; it may lie beyond the bytes
  // framed when only the start of the file was given.
  std::size_t countedEnd = 0;
  // For a framed file: the count as its line states it (saturated), its digits as written, and
  // the bytes that follow the count line up to the property list (to the end when there is
  // none, or to what is left out), the message as it stands in the file.
  std::size_t statedCount = 0;
  std::string_view statedDigits;
  std::size_t following = 0;
  // Bytes after the message that are neither a property list nor white space and are not
  // converted: a list cut short, or zeros.
  std::size_t leftOut = 0;
};

// Frames the bytes of a file whose name passes the ".emlx" test (isEmlxName true) and whose
// first line is a count (its line end within the first 4 KB); any other file is taken whole,
// except that a first line of a sign and digits is a broken count line and is left out.
// The list right after the counted bytes (white space aside) frames the message as counted.
// Otherwise the count is wrong or there is no list: Apple Mail's list (one with its keys) that
// ends the file bounds the message, wherever the count ends; without one, the counted bytes and
// whatever follows them are the message, unless what follows starts as a list cut short or with
// a zero byte, which is left out. Without a count line, only Apple Mail's list that ends the
// file is cut off.
EmlxFrame FrameEmlx(std::string_view fileBytes, bool isEmlxName);

// The property list in the bytes that follow a message: from its "<?xml" to its last
// "</plist>", or a binary list ("bplist00") that ends them, or empty. Only the last megabyte is
// looked at: the list ends the file.
std::string_view PropertyListAfterMessage(std::string_view afterMessage);

// The property list, XML or binary, that ends `text` (white space after it aside), or empty.
std::string_view TrailingPropertyList(std::string_view text);

// "count line says N bytes, M follow" when the count line of a framed file disagrees with what
// follows it: a count larger than that (unless `countMayExceed`: a partial message counts the
// parts stored apart), or one smaller, after which "; all M are converted[, up to the property
// list]". "N bytes after the message are left out: ..." for bytes left out. "count line "-5" is
// no byte count: the line is left out" for a broken one. Empty when none.
std::string CountLineWarning(std::string_view fileBytes, const EmlxFrame& frame,
                             bool countMayExceed);

}  // namespace drovanta
