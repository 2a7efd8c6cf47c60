#include "run/already_there.h"

#include <optional>
#include <string_view>
#include <unordered_map>

#include "emlx/source_reading.h"
#include "mbox/mailbox_index.h"
#include "mbox/message_key.h"
#include "mbox/message_text.h"
#include "message/message_file.h"
#include "run/row_source.h"
#include "shellutil/path_helpers.h"

namespace drovanta {

AlreadyThereCount CountAlreadyThere(const std::vector<std::string>& rows,
                                    const std::string& destinationFolder,
                                    const RunOptions& options) {
  AlreadyThereCount count;
  const std::string destination = AddSeparator(destinationFolder);
  // nullopt: the mailbox is missing (or unreadable) and holds nothing of the run.
  std::unordered_map<std::string, std::optional<MailboxIndex>> indexes;
  MessageFile file;
  // A message's mailbox follows from its folder alone, and rows come folder by folder: the
  // mailbox is looked up once per folder, not once per row.
  std::string lastFolder;
  auto found = indexes.end();
  for (const std::string& row : rows) {
    if (options.stop != nullptr && options.stop->stopping()) {
      count.stopped = true;
      break;
    }
    const std::string path = MessagePathOfRow(row);
    if (path.empty()) continue;
    const std::string_view folder =
        std::string_view(path).substr(0, path.rfind(kPathSeparator) + 1);
    if (found == indexes.end() || folder != lastFolder) {
      const std::string mailbox = PlaceForMessage(options, destination, path).mailboxPath;
      found = indexes.find(mailbox);
      if (found == indexes.end()) {
        Outcome<MailboxIndex> index = ReadMailboxIndex(mailbox);
        std::optional<MailboxIndex> held;
        if (index && index->size() > 0) {
          held = std::move(*index);
          ++count.mailboxes;
        }
        found = indexes.emplace(mailbox, std::move(held)).first;
      }
      lastFolder = folder;
    }
    if (!found->second || file.open(path)) continue;
    const SourceMessage source = ReadSourceMessage(path, file, options.record.writeFlags);
    const auto bodyBytes = [&] { return BodyBytesOfMessage(source, options.record); };
    // Each record found is taken, as the run takes it: a mailbox holding one copy of a message
    // the rows hold twice holds one of them.
    if (source.kind != SourceKind::NotAMessage &&
        found->second->takeRecordOf(MessageKeyOfMessage(source.message), bodyBytes)) {
      ++count.messages;
    }
    file.close();
  }
  return count;
}

}  // namespace drovanta
