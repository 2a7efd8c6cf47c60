#pragma once

#include <string>
#include <vector>

#include "shellutil/failure.h"

namespace drovanta {

// Creates the folder and every missing folder above it. The last component always counts as a
// folder, with or without a trailing separator. True when the folder exists afterwards.
bool EnsureFolderExists(const std::string& path);

// The same, telling why the folder does not exist afterwards: the system's reason for the first
// level that could not be made ("Permission denied"), or "Not a directory" for a file standing
// where a level should be. Each level it made is added to `made`, when given.
MaybeFailure CreateFolderPath(const std::string& path, std::vector<std::string>* made = nullptr);

// The same for a folder below `base` (the destination): `base` and the folders above it are
// followed as the user named them (and made when missing), but every level below it is opened,
// or made in its parent, without following a symbolic link, as a mailbox file is, so a link
// planted there cannot lead the run's folders and mailboxes elsewhere. Says which level stands
// in the way: "a symbolic link stands in the way: LEVEL, not followed", "a file stands in the
// way: LEVEL", else the system's reason. A `path` not below `base` is made as CreateFolderPath
// makes it.
MaybeFailure CreateFolderBelow(const std::string& base, const std::string& path,
                               std::vector<std::string>* made = nullptr);

// Removes those of the folders that are empty, the deepest first, so that a run whose records
// all failed leaves no folder it made behind. A folder that holds anything stays.
void RemoveFoldersLeftEmpty(std::vector<std::string> folders);

// Flushes to the disk (fsync) the folder holding each of the paths, each folder once, so that
// files and folders made in them are found after a crash: a failure for each that could not be.
std::vector<Failure> FlushFoldersHolding(const std::vector<std::string>& paths);

}  // namespace drovanta
