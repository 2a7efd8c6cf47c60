#include "emlx/part_store.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string_view>
#include <utility>
#include <vector>

namespace drovanta {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kPartialSuffix = ".partial.emlx";

// Opens `name`, one path component, inside the folder `folder` without following a link: what
// is opened lies in that folder, whatever the name points to. O_NONBLOCK: a FIFO never blocks.
int openInFolder(int folder, const std::string& name, int flags) {
  return ::openat(folder, name.c_str(), flags | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
}

// Why `name` in `folder` could not be opened as wanted: a link, another kind of entry, or the
// error.
std::string refusal(int folder, const std::string& name, int openError, const char* wanted) {
  struct stat info {};
  if (::fstatat(folder, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0) {
    if (S_ISLNK(info.st_mode)) return "is a symbolic link, not followed";
    if (openError == ENOTDIR || openError == ENXIO) return std::string("is not ") + wanted;
  }
  return std::strerror(openError);
}

// Keeps `fd` (opened with openInFolder) when it is a regular file.
PartFile keepRegularFile(int fd, std::string& problem) {
  auto file = std::make_shared<const FileHandle>(fd);
  struct stat info {};
  if (::fstat(fd, &info) != 0) {
    problem = std::strerror(errno);
    return nullptr;
  }
  if (!S_ISREG(info.st_mode)) {
    problem = "is not a regular file";
    return nullptr;
  }
  return file;
}

bool isDigits(std::string_view text) {
  return !text.empty() &&
         std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// An IMAP section number: digits separated by single dots.
bool isSectionNumber(std::string_view number) {
  for (std::size_t start = 0;;) {
    const std::size_t dot = number.find('.', start);
    if (!isDigits(number.substr(start, dot == std::string_view::npos ? dot : dot - start))) {
      return false;
    }
    if (dot == std::string_view::npos) return true;
    start = dot + 1;
  }
}

// Finder leaves these beside files it has shown; they are never the attachment.
bool isFinderLitter(std::string_view name) {
  return name == ".DS_Store" || name.starts_with("._");
}

// Opens `name` in `folder` (its path `path`) when it is a regular file, without following a link.
FoundFile openFileIn(int folder, const std::string& name, const fs::path& path) {
  const int fd = openInFolder(folder, name, O_RDONLY);
  std::string problem;
  if (fd < 0) {
    problem = refusal(folder, name, errno, "a regular file");
  } else if (PartFile file = keepRegularFile(fd, problem)) {
    return {std::move(file), path.string(), {}};
  }
  return {nullptr, path.string(), path.string() + " " + problem};
}

// A folder of the attachment's path that is not there, or not a plain folder.
FoundFile missing(int parent, const std::string& name, const fs::path& path, int openError) {
  if (openError == ENOENT) return {nullptr, {}, "not found"};
  return {nullptr,
          {},
          "not taken: " + path.string() + " " + refusal(parent, name, openError, "a folder")};
}

// The name of the one regular file in the part's folder (Finder's litter aside), or why
// there is not exactly one. A link among the entries leaves the part as it is.
std::optional<std::string> soleFileIn(int folder, const fs::path& path, std::string& name) {
  DIR* listing = ::fdopendir(::dup(folder));
  if (listing == nullptr) {
    return "not found: its folder cannot be listed (" + std::string(std::strerror(errno)) + ")";
  }
  std::vector<std::string> files;
  std::optional<std::string> link;
  while (const dirent* entry = ::readdir(listing)) {
    const std::string_view entryName = entry->d_name;
    if (entryName == "." || entryName == ".." || isFinderLitter(entryName)) continue;
    struct stat info {};
    if (::fstatat(folder, entry->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0) continue;
    if (S_ISREG(info.st_mode)) files.emplace_back(entryName);
    if (S_ISLNK(info.st_mode) && !link) link = std::string(entryName);
  }
  ::closedir(listing);
  if (link) return "not taken: " + (path / *link).string() + " is a symbolic link, not followed";
  if (files.empty()) return std::string("not found: its folder holds no file");
  if (files.size() > 1) {
    return "not found: its folder holds " + std::to_string(files.size()) + " files, expected one";
  }
  name = files.front();
  return std::nullopt;
}

}  // namespace

PartStore::PartStore(const std::string& messagePath) {
  const fs::path path(messagePath);
  messagesFolder_ = path.parent_path();
  const std::string name = path.filename().string();
  messageNumber_ = name.substr(0, name.size() - std::min(name.size(), kPartialSuffix.size()));
  numbered_ = isDigits(messageNumber_);
  attachmentsFolder_ = messagesFolder_.parent_path() / "Attachments";
}

bool PartStore::hasEmlxpart(const std::string& number) const {
  struct stat info {};
  return numbered_ && isSectionNumber(number) && ::lstat(emlxpartPath(number).c_str(), &info) == 0;
}

FoundFile PartStore::emlxpart(const std::string& number) const {
  const fs::path file = emlxpartPath(number);
  const std::string name = file.filename().string();
  const FileHandle folder(::open(messagesFolder_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!folder.ok()) return {nullptr, file.string(), file.string() + ": " + std::strerror(errno)};
  return openFileIn(folder.get(), name, file);
}

FoundFile PartStore::attachment(const std::string& number) const {
  if (!isSectionNumber(number)) return {nullptr, {}, "not found"};
  // The mailbox folder (above Messages) is where the walk found the message; every level below
  // it is opened without following a link.
  const FileHandle mailbox(
      ::open(attachmentsFolder_.parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!mailbox.ok()) return {nullptr, {}, "not found"};
  const std::string attachmentsName = attachmentsFolder_.filename().string();
  const FileHandle attachments(
      openInFolder(mailbox.get(), attachmentsName, O_RDONLY | O_DIRECTORY));
  if (!attachments.ok()) {
    return missing(mailbox.get(), attachmentsName, attachmentsFolder_, errno);
  }
  const fs::path messageFolder = attachmentsFolder_ / messageNumber_;
  const FileHandle message(openInFolder(attachments.get(), messageNumber_, O_RDONLY | O_DIRECTORY));
  if (!message.ok()) return missing(attachments.get(), messageNumber_, messageFolder, errno);
  const fs::path partFolder = messageFolder / number;
  const FileHandle part(openInFolder(message.get(), number, O_RDONLY | O_DIRECTORY));
  if (!part.ok()) return missing(message.get(), number, partFolder, errno);

  std::string name;
  if (auto problem = soleFileIn(part.get(), partFolder, name)) return {nullptr, {}, *problem};
  FoundFile found = openFileIn(part.get(), name, partFolder / name);
  if (!found.file) found.problem.insert(0, "not taken: ");
  return found;
}

fs::path PartStore::emlxpartPath(const std::string& number) const {
  return messagesFolder_ / (messageNumber_ + "." + number + ".emlxpart");
}

}  // namespace drovanta
