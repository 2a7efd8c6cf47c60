#pragma once

#include <optional>
#include <string>
#include <vector>

#include "run/conversion_run.h"
#include "shellutil/failure.h"

namespace drovanta {

// Where a run reads its messages from: the folders converted whole (SOURCE folders, folders
// added whole) and the folders of the messages, each once, with one message of each.
struct FoldersBeingConverted {
  std::vector<std::string> trees;           // each ends with a separator
  std::vector<std::string> messageFolders;  // each ends with a separator; none in a tree
  std::vector<std::string> oneMessageEach;  // a message of every folder the rows come from
};
// The rows are taken as a run takes them (MessagePathOfRow); empty ones are passed over.
FoldersBeingConverted FoldersOfRun(const std::vector<std::string>& trees,
                                   const std::vector<std::string>& rows);

// A folder being converted that a run would write into.
struct SourceWrittenInto {
  std::string source;  // the tree or message folder, as FoldersOfRun holds it
  // The folder whose messages' mailbox would go there; "" when the destination itself lies in
  // the source.
  std::string messagesOf;
};

// Whether a run into `destination`, naming its mailboxes as `options` does, would write into a
// folder being converted: the destination, or an output folder of the run (with the folders
// made on the way to it and the mailbox in it), lies in a tree or is one, or is a message folder.
// Paths are compared as the file system resolves them (links, "." and "..", a trailing
// separator). The cost goes with the number of folders, not of messages: one mailbox place and
// one resolved path per folder.
std::optional<SourceWrittenInto> FindSourceWrittenInto(const std::string& destination,
                                                       const FoldersBeingConverted& folders,
                                                       const RunOptions& options);

// Tries writing into the destination before a run, so that a folder the run cannot write into is
// refused at once instead of failing every message: makes the folder (and the missing ones above
// it), then creates and removes an empty file in it. The failure names the folder, and its
// reason says which step failed and why ("cannot write into the destination folder: Permission
// denied").
// Each folder it made is added to `made`, when given.
MaybeFailure TryWritingInto(const std::string& destination,
                            std::vector<std::string>* made = nullptr);

}  // namespace drovanta
