#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "message/file_handle.h"

namespace drovanta {

// A stripped part's content as found, or why it was not taken.
struct FoundFile {
  PartFile file;
  std::string path;
  std::string problem;
};

// Where the stripped parts of one message are kept: Attachments/<n>/<part>/ beside the
// Messages folder and <n>.<part>.emlxpart beside the message, <n> being the message number
// (digits only). Nothing is taken through a link or from a special file, so that what goes into
// the mailbox comes from the store itself and nothing outside it.
class PartStore {
 public:
  explicit PartStore(const std::string& messagePath);

  // Whether the message's file name starts with its number (digits only); no part is looked
  // for otherwise.
  bool numbered() const { return numbered_; }

  // Whether an entry of any kind named `<n>.<part>.emlxpart` stands beside the message.
  bool hasEmlxpart(const std::string& number) const;

  // The content of `<n>.<part>.emlxpart`, already transfer-encoded by Apple Mail.
  FoundFile emlxpart(const std::string& number) const;

  // The single regular file in Attachments/<n>/<part>/. The Attachments folder, the message's
  // folder, the part's folder and the file are each taken only when they are what they seem
  // without following links.
  FoundFile attachment(const std::string& number) const;

 private:
  std::filesystem::path emlxpartPath(const std::string& number) const;

  std::filesystem::path messagesFolder_;
  std::filesystem::path attachmentsFolder_;
  std::string messageNumber_;
  bool numbered_ = false;
};

}  // namespace drovanta
