#include "mbox/mailbox_record.h"

#include <fcntl.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <unistd.h>
#include <xxhash.h>
#if defined(__x86_64__) || defined(__i386__)
#include <xxh_x86dispatch.h>  // the library's AVX2 and AVX-512 code where the processor has it
#endif

#include <cerrno>
#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "mbox/mailbox_check.h"
#include "mbox/mailbox_lock.h"
#include "mbox/mailbox_repair.h"
#include "mbox/read_back.h"
#include "mbox/record_writer.h"
#include "mbox/settling_lane.h"

namespace drovanta {

namespace {

// The writer's one buffer: big enough that writes are few, small enough to stay out of the way.
constexpr std::size_t kBufferSize = std::size_t{1} << 20;
// The most one kernel copy call is asked to move, so that a huge message is copied in steps.
constexpr std::size_t kCopyStep = std::size_t{16} << 20;
// Bytes given in pieces at least this long are written from where they lie, not copied into the
// buffer; up to kPieces such pieces wait, with the buffered bytes between them, for one writev.
constexpr std::size_t kDirectPiece = std::size_t{16} << 10;
constexpr std::size_t kPieces = 32;
// Records to be flushed are given to the disk in steps of this many bytes while the run goes on,
// so that the flush at the end of a mailbox has little left to wait for.
constexpr off_t kWritebackStep = off_t{8} << 20;
// State::open's answer for an existing file that is not an mbox; apart from OpenLockedMailbox's
// own answers (kNotAFile, kSymbolicLink).
constexpr int kNotMbox = -3;
static_assert(kNotMbox != kNotAFile && kNotMbox != kSymbolicLink);

bool refusedByFileSystem(int error) {
  return error == EXDEV || error == EINVAL || error == ENOSYS || error == EOPNOTSUPP ||
         error == EBADF || error == ETXTBSY || error == EPERM;
}

}  // namespace

struct MailboxWriter::State : RecordOutput {
  RangeCopy rangeCopy = RangeCopy::Kernel;
  std::function<ssize_t(int, const iovec*, int)> writeCall =
      [](int fd, const iovec* buffers, int count) { return ::writev(fd, buffers, count); };

  std::string path;  // the open mailbox, empty when none is
  int fd = -1;
  struct stat opened {};       // the open mailbox as the lock found it
  bool created = false;        // this writer created the file and it holds no record yet
  bool createdAtOpen = false;  // this writer created the file
  off_t lengthAtOpen = 0;      // where the records written since opening begin
  off_t recordStart = 0;       // where the record being written begins
  off_t writtenOut = 0;        // bytes of it given to the file so far
  long recordsSinceOpen = 0;
  TailMending tailMending;             // what a torn mailbox tail needs before the next record
  const AppendHooks* hooks = nullptr;  // those of the record being written
  bool kernelRefused = false;          // copy_file_range refused: sendfile from now on
  bool sendfileRefused = false;        // sendfile refused too: read and write
  int error = 0;                       // why the record could not be written
  MaybeFailure notMbox;                // why open() answered kNotMbox
  XXH3_state_t* digest = nullptr;      // with OnDisk::ReadBack
  WrittenRecord last;
  OnDisk onDisk = OnDisk::NotFlushed;
  std::function<void(MailboxSettled)> settledCall;
  // Of the open mailbox: how it is flushed and what ends its check (from the hooks it was
  // opened with), where the records written since it was opened lie, where the last one ends.
  std::function<int(int)> flushCall;
  const StopRequest* stop = nullptr;
  std::vector<WrittenRecord> sinceOpen;
  off_t expectedEnd = 0;
  off_t writebackFrom = 0;  // where the bytes not yet given to the disk begin
  // With OnDisk::ReadBack: the records read back while the writer goes on, and how many of
  // sinceOpen have been handed to the lane to read.
  std::shared_ptr<EarlyReadBack> early;
  std::size_t handedOn = 0;
  std::unique_ptr<SettlingLane> lane;  // made when a mailbox is first flushed

  ~State() {
    if (digest != nullptr) XXH3_freeState(digest);
  }

  void take(std::string_view bytes) {
    if (digest != nullptr) XXH3_64bits_update(digest, bytes.data(), bytes.size());
  }

  std::unique_ptr<char[]> buffer{new char[kBufferSize]};
  std::size_t buffered = 0;
  // What the next flush writes, in order: stretches of the buffer and pieces written from
  // where they lie. Buffered bytes after the last entry are written after them.
  iovec pieces[kPieces + 1] = {};
  std::size_t pieceCount = 0;
  std::size_t bufferedInPieces = 0;  // buffer bytes before this offset are in `pieces`

  bool writeKept(std::string_view bytes) override {
    if (error != 0) return false;
    if (bytes.size() < kDirectPiece) return write(bytes);
    // The caller keeps these bytes until the record is written: no copy.
    if (pieceCount + 2 > kPieces && !flush()) return false;
    closeBufferedPiece();
    pieces[pieceCount++] = iovec{const_cast<char*>(bytes.data()), bytes.size()};
    take(bytes);
    return true;
  }

  bool write(std::string_view bytes) override {
    if (error != 0) return false;
    take(bytes);
    while (!bytes.empty()) {
      if (buffered == kBufferSize && !flush()) return false;
      const std::size_t take = std::min(bytes.size(), kBufferSize - buffered);
      std::memcpy(buffer.get() + buffered, bytes.data(), take);
      buffered += take;
      bytes.remove_prefix(take);
    }
    return true;
  }

  // Ends the stretch of buffered bytes not yet in `pieces`.
  void closeBufferedPiece() {
    if (buffered > bufferedInPieces) {
      pieces[pieceCount++] = iovec{buffer.get() + bufferedInPieces, buffered - bufferedInPieces};
      bufferedInPieces = buffered;
    }
  }

  // A second stop request abandons the record: asked before every write.
  bool abandoning() const {
    return hooks != nullptr && hooks->stop != nullptr && hooks->stop->abandoning();
  }

  bool copyKept(int from, std::uint64_t offset, std::string_view bytes) override {
    if (error != 0) return false;
    take(bytes);
    return copyRange(from, offset, bytes.size());
  }

  bool copyFileRange(int from, std::uint64_t offset, std::uint64_t length) override {
    if (error != 0) return false;
    if (digest != nullptr && !takeFromFile(from, offset, length)) return false;
    return copyRange(from, offset, length);
  }

  // The digest of a range given without its bytes: read for it.
  bool takeFromFile(int from, std::uint64_t offset, std::uint64_t length) {
    char bytes[1 << 16];
    while (length > 0) {
      const std::size_t want =
          length < sizeof bytes ? static_cast<std::size_t>(length) : sizeof bytes;
      const ssize_t got = ::pread(from, bytes, want, static_cast<off_t>(offset));
      if (got < 0 && errno == EINTR) continue;
      if (got < 0) return fail(errno);
      if (got == 0) return fail(EIO);
      take(std::string_view(bytes, static_cast<std::size_t>(got)));
      offset += static_cast<std::uint64_t>(got);
      length -= static_cast<std::uint64_t>(got);
    }
    return true;
  }

  bool copyRange(int from, std::uint64_t offset, std::uint64_t length) {
    if (rangeCopy == RangeCopy::Buffer) return copyThroughBuffer(from, offset, length);
    if (!flush()) return false;
    while (length > 0) {
      if (abandoning()) return fail(EINTR);
      const std::size_t step = length < kCopyStep ? static_cast<std::size_t>(length) : kCopyStep;
      ssize_t moved = -1;
      auto at = static_cast<off_t>(offset);
      if (!kernelRefused) {
        moved = ::copy_file_range(from, &at, fd, nullptr, step, 0);
        if (moved < 0 && refusedByFileSystem(errno)) kernelRefused = true;
      } else if (!sendfileRefused) {
        moved = ::sendfile(fd, from, &at, step);
        if (moved < 0 && refusedByFileSystem(errno)) sendfileRefused = true;
      } else {
        return copyThroughBuffer(from, offset, length);
      }
      if (moved < 0) {
        if (errno == EINTR || refusedByFileSystem(errno)) continue;
        return fail(errno);
      }
      // The message file ended early (it shrank after it was read): nothing more to move.
      if (moved == 0) return fail(EIO);
      writtenOut += moved;
      offset += static_cast<std::uint64_t>(moved);
      length -= static_cast<std::uint64_t>(moved);
    }
    return true;
  }

  bool copyThroughBuffer(int from, std::uint64_t offset, std::uint64_t length) {
    while (length > 0) {
      if (buffered == kBufferSize && !flush()) return false;
      std::size_t room = kBufferSize - buffered;
      if (room > length) room = static_cast<std::size_t>(length);
      const ssize_t got = ::pread(from, buffer.get() + buffered, room, static_cast<off_t>(offset));
      if (got < 0 && errno == EINTR) continue;
      if (got < 0) return fail(errno);
      if (got == 0) return fail(EIO);
      buffered += static_cast<std::size_t>(got);
      offset += static_cast<std::uint64_t>(got);
      length -= static_cast<std::uint64_t>(got);
    }
    return true;
  }

  // Writes out everything waiting, in one gathered write where it can, going on after short
  // writes.
  bool flush() {
    closeBufferedPiece();
    iovec* first = pieces;
    std::size_t count = pieceCount;
    while (count > 0) {
      if (first->iov_len == 0) {
        ++first;
        --count;
        continue;
      }
      if (abandoning()) return fail(EINTR);
      const ssize_t written = writeCall(fd, first, static_cast<int>(count));
      if (written < 0) {
        if (errno == EINTR) continue;
        return fail(errno);
      }
      if (written == 0) return fail(EIO);  // a write that makes no progress would loop for ever
      writtenOut += written;
      auto left = static_cast<std::size_t>(written);
      while (count > 0 && left >= first->iov_len) {
        left -= first->iov_len;
        ++first;
        --count;
      }
      if (count > 0) {
        first->iov_base = static_cast<char*>(first->iov_base) + left;
        first->iov_len -= left;
      }
    }
    pieceCount = 0;
    buffered = 0;
    bufferedInPieces = 0;
    return true;
  }

  bool fail(int why) {
    error = why;
    return false;
  }

  // Opens and locks the mailbox: 0, or an error as OpenLockedMailbox gives it.
  int open(const std::string& mailboxPath, const AppendHooks& recordHooks) {
    LockedMailbox mailbox;
    if (const int lockError = OpenLockedMailbox(mailboxPath, recordHooks, mailbox);
        lockError != 0) {
      return lockError;
    }
    fd = mailbox.fd;
    created = createdAtOpen = mailbox.created;
    opened = mailbox.status;
    path = mailboxPath;
    // Records are written at the end through the file position, which the kernel's copy needs
    // (it refuses files opened for appending); the lock keeps other writers out meanwhile.
    int openError = 0;
    if (::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_APPEND) != 0) openError = errno;
    if (openError == 0 && ::lseek(fd, 0, SEEK_END) < 0) openError = errno;
    if (openError != 0) {
      cutBackTo(0);
      forget();
      return openError;
    }
    // Another program's file is no mailbox of ours to add to.
    if (!created && opened.st_size > 0) {
      if (MaybeFailure unfit = NotAnMbox(fd, mailboxPath)) {
        notMbox = std::move(unfit);
        forget();
        return kNotMbox;
      }
    }
    // Cut back to this length only: anything before it may be another writer's.
    lengthAtOpen = opened.st_size;
    recordsSinceOpen = 0;
    flushCall = recordHooks.flush;
    stop = recordHooks.stop;
    sinceOpen.clear();
    early.reset();
    handedOn = 0;
    expectedEnd = writebackFrom = lengthAtOpen;
    tailMending = MendingForTail(fd, lengthAtOpen);
    return 0;
  }

  // Cuts the mailbox back to `length`, as the lock found it. A file this writer created is
  // removed instead (writers waiting for its lock see that and open the path again), unless
  // another writer got its record in first. 0 or the error.
  int cutBackTo(off_t length) {
    if (const int error = CutBack(fd, path, created, length); error != 0) return error;
    return ::lseek(fd, length, SEEK_SET) < 0 ? errno : 0;
  }

  void forget() {
    if (fd >= 0) ::close(fd);
    fd = -1;
    path.clear();
  }

  SettlingLane& settlingLane() {
    if (!lane) lane = std::make_unique<SettlingLane>();
    return *lane;
  }

  // Hands the open mailbox over to be flushed, checked and closed: to the lane, or settled here
  // when there is nothing to make sure of (the finding is then given back). `checkable`: the
  // file is as this writer left it. `removeIfEmpty`: a file this writer created and gave no
  // record goes.
  std::optional<MailboxSettled> letGo(bool checkable, bool removeIfEmpty) {
    if (fd < 0) return std::nullopt;
    LetGoMailbox mailbox;
    mailbox.path = std::exchange(path, {});
    mailbox.fd = std::exchange(fd, -1);
    mailbox.opened = opened;
    mailbox.createdAtOpen = createdAtOpen;
    mailbox.createdEmpty = removeIfEmpty && created;
    mailbox.lengthAtOpen = lengthAtOpen;
    mailbox.expectedEnd = expectedEnd;
    mailbox.records = recordsSinceOpen;
    mailbox.checkable = checkable;
    mailbox.onDisk = onDisk;
    mailbox.flushCall = flushCall;
    mailbox.stop = stop;
    mailbox.appended = std::exchange(sinceOpen, {});
    mailbox.early = std::exchange(early, nullptr);
    if (mailbox.early) mailbox.early->writing = false;
    handedOn = 0;
    if (onDisk == OnDisk::NotFlushed || recordsSinceOpen == 0) {
      return SettleMailbox(std::move(mailbox));
    }
    settlingLane().settle(std::move(mailbox));
    return std::nullopt;
  }

  // Tells what the lane has found; with `wait`, once all it was given is done.
  void tellSettled(bool wait) {
    if (!lane) return;
    for (MailboxSettled& found : lane->takeSettled(wait)) tell(std::move(found));
  }

  // Reads the records written since the last step back on the lane once the kernel has written
  // them to the device, while the writer goes on.
  void readBackSoon() {
    if (!early) early = std::make_shared<EarlyReadBack>(fd);
    const std::size_t from = handedOn;
    std::vector<WrittenRecord> part(sinceOpen.begin() + static_cast<std::ptrdiff_t>(from),
                                    sinceOpen.end());
    handedOn = sinceOpen.size();
    settlingLane().add([read = early, from, part = std::move(part), stop = stop] {
      // A part that ended early (a second stop request) leaves the rest to the check at the end.
      if (read->tally.next != from) return;
      read->reader.readBack(
          part, read->tally, [stop] { return stop != nullptr && stop->abandoning(); },
          read->writing.load());
    });
  }

  void tell(MailboxSettled found) {
    if (found.records > 0 && settledCall) settledCall(std::move(found));
  }
};

MailboxWriter::MailboxWriter(RangeCopy rangeCopy) : state_(std::make_unique<State>()) {
  state_->rangeCopy = rangeCopy;
}

MailboxWriter::~MailboxWriter() {
  close();
}

void MailboxWriter::setWriteCall(std::function<ssize_t(int, const iovec*, int)> writeCall) {
  state_->writeCall = std::move(writeCall);
}

MaybeFailure MailboxWriter::hold(const std::string& mailboxPath, const AppendHooks& hooks,
                                 bool& lockedNow) {
  State& s = *state_;
  lockedNow = false;
  if (s.fd >= 0 && s.path == mailboxPath) return std::nullopt;
  if (s.fd >= 0) {
    if (MaybeFailure closing = close()) return closing;
  }
  // Its lock is still held by its own settling: wait for that to end.
  if (s.lane && s.lane->settling(mailboxPath)) s.tellSettled(true);
  if (const int error = s.open(mailboxPath, hooks); error != 0) {
    if (error == kNotMbox) return std::move(s.notMbox);
    if (error == kNotAFile) {
      return Failure{FailureCode::MailboxUnwritable, mailboxPath, "Not a regular file"};
    }
    if (error == kSymbolicLink) {
      return Failure{FailureCode::MailboxUnwritable, mailboxPath,
                     "is a symbolic link, not followed"};
    }
    if (error == EINTR) {
      return Failure{FailureCode::Interrupted, mailboxPath, "interrupted before it was written"};
    }
    return Unwritable(mailboxPath, error);
  }
  lockedNow = true;
  return std::nullopt;
}

int MailboxWriter::openDescriptor() const {
  return state_->fd;
}

MaybeFailure MailboxWriter::append(const std::string& mailboxPath, std::string_view lineEnd,
                                   const RecordProducer& produce, const AppendHooks& hooks) {
  State& s = *state_;
  bool lockedNow = false;
  if (MaybeFailure failure = hold(mailboxPath, hooks, lockedNow)) return failure;
  if (!lockedNow && hooks.opened) hooks.opened();
  s.hooks = &hooks;
  s.error = 0;
  s.buffered = 0;
  s.bufferedInPieces = 0;
  s.pieceCount = 0;
  // A mailbox left without a closing empty line (a record torn by a killed run, another
  // program's file) gets its line ends first, so that the record does not join its last line; a
  // separator line torn before its line end holds no message byte and is cut back instead.
  const off_t cutTo = s.tailMending.cutTo;
  if (cutTo >= 0 && ::ftruncate(s.fd, cutTo) != 0) s.error = errno;
  // Only a mailbox just opened has its tail mended: nothing of this writer's follows the cut.
  if (cutTo >= 0 && s.error == 0) s.lengthAtOpen = s.expectedEnd = s.writebackFrom = cutTo;
  // While the mailbox stays open and locked its end is where the last record ended; the first
  // record asks the file, whose end a mended tail may have moved.
  s.recordStart = cutTo < 0 && s.recordsSinceOpen > 0 ? s.expectedEnd : ::lseek(s.fd, 0, SEEK_END);
  if (s.recordStart < 0) s.error = errno;
  s.writtenOut = 0;
  std::string padding(s.tailMending.lf ? "\n" : "");
  for (std::size_t i = 0; i < s.tailMending.lineEnds; ++i) padding += lineEnd;
  if (s.digest != nullptr) XXH3_64bits_reset(s.digest);

  // A record that cannot be finished, for whatever reason (an exception from a progress report
  // included), is cut back out before anything else happens.
  bool written = false;
  try {
    written = s.error == 0 && s.write(padding) && produce(s) && s.flush();
  } catch (...) {
    const bool restored = s.cutBackTo(s.recordStart) == 0;
    s.hooks = nullptr;
    // The records before this one stand.
    if (std::optional<MailboxSettled> here = s.letGo(restored, false)) s.tell(std::move(*here));
    throw;
  }
  s.hooks = nullptr;
  if (!written) {
    const int error = s.error != 0 ? s.error : EIO;
    const int restoreError = s.cutBackTo(s.recordStart);
    const std::string path = s.path;
    // The records before this one stand, flushed. The mailbox is opened afresh for the next
    // record, which then sees the file as it now is.
    if (std::optional<MailboxSettled> here = s.letGo(restoreError == 0, false)) {
      s.tell(std::move(*here));
    }
    return AppendFailure(path, error, restoreError);
  }
  s.tailMending = {};
  const off_t recordEnd = s.recordStart + s.writtenOut;
  s.last.offset = static_cast<std::uint64_t>(s.recordStart);
  s.last.length =
      recordEnd > s.recordStart ? static_cast<std::uint64_t>(recordEnd - s.recordStart) : 0;
  s.last.digest = s.digest != nullptr ? XXH3_64bits_digest(s.digest) : 0;
  s.last.fromAt = static_cast<std::uint64_t>(s.recordStart) + padding.size();
  s.expectedEnd = recordEnd;
  if (s.onDisk != OnDisk::NotFlushed) {
    s.sinceOpen.push_back(s.last);
    // Started, not waited for: the flush when the mailbox is let go of waits.
    if (recordEnd - s.writebackFrom >= kWritebackStep) {
      ::sync_file_range(s.fd, s.writebackFrom, recordEnd - s.writebackFrom, SYNC_FILE_RANGE_WRITE);
      s.writebackFrom = recordEnd;
      if (s.onDisk == OnDisk::ReadBack) s.readBackSoon();
    }
  }
  if ((!padding.empty() || cutTo >= 0) && hooks.tailMended) {
    hooks.tailMended(padding.size(), cutTo >= 0);
  }
  ++s.recordsSinceOpen;
  s.created = false;  // it holds a record now: never removed from here on
  return std::nullopt;
}

void MailboxWriter::setOnDisk(OnDisk onDisk) {
  state_->onDisk = onDisk;
  const bool on = onDisk == OnDisk::ReadBack;
  if (on && state_->digest == nullptr) state_->digest = XXH3_createState();
  if (!on && state_->digest != nullptr) {
    XXH3_freeState(state_->digest);
    state_->digest = nullptr;
  }
}

void MailboxWriter::setSettledCall(std::function<void(MailboxSettled)> settled) {
  state_->settledCall = std::move(settled);
}

const WrittenRecord& MailboxWriter::lastRecord() const {
  return state_->last;
}

long MailboxWriter::openRecords() const {
  return state_->fd >= 0 ? state_->recordsSinceOpen : 0;
}

MaybeFailure MailboxWriter::close() {
  State& s = *state_;
  const bool wasOpen = s.fd >= 0;
  std::optional<MailboxSettled> here = s.letGo(true, true);
  std::vector<MailboxSettled> found;
  if (s.lane) found = s.lane->takeSettled(true);
  if (here) found.push_back(std::move(*here));
  // The mailbox let go of here is the last one settled.
  MaybeFailure failure;
  if (wasOpen && !found.empty() && found.back().removed) failure = found.back().failure;
  for (MailboxSettled& each : found) s.tell(std::move(each));
  return failure;
}

void MailboxWriter::letGo() {
  State& s = *state_;
  if (std::optional<MailboxSettled> here = s.letGo(true, true)) s.tell(std::move(*here));
  s.tellSettled(false);
}

MaybeFailure AppendRecordWith(const std::string& mailboxPath, std::string_view separatorLine,
                              std::string_view textHead, std::string_view textTail,
                              const RecordOptions& options, const AppendHooks& hooks,
                              const RecordWriteCall& writeCall) {
  MailboxWriter writer;
  if (writeCall) writer.setWriteCall(writeCall);
  const std::string_view lineEnd = FramingLineEnd(options.lineEnds);
  MaybeFailure failure = writer.append(
      mailboxPath, lineEnd,
      [&](RecordOutput& out) {
        return out.write(separatorLine) && out.write(lineEnd) && out.write(textHead) &&
               out.write(textTail) && out.write(lineEnd);
      },
      hooks);
  if (failure) return failure;
  return writer.close();
}

MaybeFailure AppendRecord(const std::string& mailboxPath, std::string_view separatorLine,
                          std::string_view textHead, std::string_view textTail,
                          const RecordOptions& options, const AppendHooks& hooks) {
  return AppendRecordWith(mailboxPath, separatorLine, textHead, textTail, options, hooks, {});
}

MaybeFailure AppendRecord(const std::string& mailboxPath, std::string_view separatorLine,
                          std::string_view messageText, const RecordOptions& options,
                          const AppendHooks& hooks) {
  return AppendRecord(mailboxPath, separatorLine, messageText, {}, options, hooks);
}

}  // namespace drovanta
