#include "mbox/mailbox_naming.h"

#include "shellutil/folder_creation.h"

namespace drovanta {
namespace {

// The source folder below its root: for "\" paths the first three characters ("C:\") are
// dropped; for "/" paths the leading "/" alone (dropping three would garble every name).
std::string RelativeFolder(const std::string& sourceFolder, char separator) {
  if (separator == '\\') return sourceFolder.size() <= 3 ? std::string() : sourceFolder.substr(3);
  std::size_t start = 0;
  while (start < sourceFolder.size() && sourceFolder[start] == separator) ++start;
  return sourceFolder.substr(start);
}

// A name for the mailbox when the output folder is a root ("/" or "D:\"), which has no name.
constexpr const char* kRootMailboxName = "Root";

}  // namespace

MailboxPlace MailboxPlaceFor(const std::string& destinationFolder, const std::string& messagePath,
                             char separator) {
  const std::string sourceFolder = GetFolderPath(messagePath, separator);
  MailboxPlace place;
  place.outputFolder =
      AddSeparator(destinationFolder, separator) + RelativeFolder(sourceFolder, separator);
  std::string name =
      GetFileName(place.outputFolder.substr(0, place.outputFolder.size() - 1), separator);
  if (name.empty() || (separator == '\\' && name.size() == 2 && name[1] == ':')) {
    name = kRootMailboxName;
  }
  place.mailboxPath = place.outputFolder + name + ".mbox";
  return place;
}

MailboxPlace MailboxPathFor(const std::string& destinationFolder, const std::string& messagePath) {
  MailboxPlace place = MailboxPlaceFor(destinationFolder, messagePath);
  EnsureFolderExists(place.outputFolder);
  return place;
}

}  // namespace drovanta
