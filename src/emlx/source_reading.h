#pragma once

#include <string>

#include "message/message_file.h"
#include "message/source_message.h"

namespace drovanta {

// Reads the message file at `path`, open as `file`, into the one value its record is made
// from: an AppleDouble sidecar or an empty file is NotAMessage (nothing else is read of it),
// with the reason it is skipped; a name ending in
// ".emlx" is framed (count line and property list cut off), a ".partial.emlx" one gets the
// rebuild of its parts planned; the sender and date of the separator line are read, and, with
// `withState`, the state in its property list. Its warnings: the count line's, an empty
// message, a message without header field or with a header block too long to read, each part
// that cannot be put back, and a file that holds fewer bytes than its stated size. The value
// views `file`, which must stay open while it is used.
SourceMessage ReadSourceMessage(const std::string& path, const MessageFile& file, bool withState);

}  // namespace drovanta
