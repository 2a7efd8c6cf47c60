#include "run/conversion_run.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <new>
#include <optional>
#include <string_view>
#include <system_error>
#include <unordered_map>
#include <unordered_set>
#include <utility>

#include "emlx/source_reading.h"
#include "mbox/mailbox_index.h"
#include "mbox/mailbox_record.h"
#include "mbox/message_key.h"
#include "mbox/message_text.h"
#include "mbox/record_byte_count.h"
#include "mbox/separator_line.h"
#include "run/messages_ahead.h"
#include "run/prepared_message.h"
#include "run/read_ahead.h"
#include "shellutil/folder_creation.h"
#include "shellutil/path_helpers.h"

namespace drovanta {
namespace {

// Every failure of a turn names the message, so that each front-end can print "path: reason"
// and the user sees which row it was; a failure about another file (the output folder or the
// mailbox) keeps that file's path in its reason.
Failure aboutMessage(Failure failure, const std::string& messagePath, const char* what) {
  if (failure.path != messagePath) {
    failure.reason = std::string(what) + " " + failure.path + ": " + failure.reason;
    failure.path = messagePath;
  }
  return failure;
}

// CreateFolderBelow names a level below the destination that stands in the way; above it, the
// system's reason only: a plainer one is looked for, most often a file standing where one of the
// folders should be.
// Nothing is made here: a second try would follow the links the first refused.
Failure folderNotCreated(Failure failure) {
  namespace fs = std::filesystem;
  if (failure.reason.find(" stands in the way: ") != std::string::npos) return failure;
  std::error_code error;
  for (fs::path level(failure.path); !level.empty(); level = level.parent_path()) {
    if (fs::exists(level, error) && !fs::is_directory(level, error)) {
      failure.reason = "a file stands in the way: " + level.string();
      return failure;
    }
    if (level == level.parent_path()) break;
  }
  return failure;
}

// What the writer did to a mailbox's torn tail before a record (AppendHooks::tailMended).
struct TailMended {
  std::size_t added = 0;
  bool cut = false;
};

class Run {
 public:
  Run(RowSource& rows, const std::string& destinationFolder, ConversionObserver& observer,
      const RunOptions& options, WriterLane* ahead)
      : rows_(rows),
        destination_(AddSeparator(destinationFolder)),
        observer_(observer),
        options_(options),
        ahead_(ahead) {
    mailbox_.setOnDisk(options.onDisk);
    mailbox_.setSettledCall([this](MailboxSettled found) { settled(std::move(found)); });
  }
  // A mailbox still open when an exception unwinds the run is flushed as the writer goes, with
  // nobody left to tell.
  ~Run() { mailbox_.setSettledCall({}); }
  Run(const Run&) = delete;
  Run& operator=(const Run&) = delete;

  RunSummary go() {
    const long rowCount = rows_.rowCount();
    ReadAhead readAhead(rows_, rowCount);
    for (long row = 0; row < rowCount; ++row) {
      if (stopAsked()) {
        summary_.stopped = true;
        summary_.notReached += rowCount - row;
        break;
      }
      turn(row);
      readAhead.announceAfter(row);
    }
    // Waits for every mailbox let go of to be flushed and checked.
    mailbox_.close();
    openMailbox_.clear();
    flushFolders();
    summary_.checked.onDisk = options_.onDisk;
    // A request that came during the last record or the checking at the end still ends the run
    // as stopped.
    if (stopRequestedNow()) summary_.stopped = true;
    return std::move(summary_);
  }

 private:
  void turn(long row) {
    observer_.turnStarted(row);
    observer_.yieldPoint();
    const std::string path = MessagePathOfRow(rows_.rowText(row));
    if (path.empty()) return;  // the single empty row of an empty list: nothing to convert
    // A message too large for the memory left (a copy, a part put back, a quoted text) fails
    // alone, its record cut back out; the run goes on with the next. Once the turn has ended
    // the failure is no longer the message's.
    const long endedBefore = turnsEnded();
    try {
      convert(row, path);
    } catch (const std::bad_alloc&) {
      if (turnsEnded() != endedBefore) throw;
      file_.close();
      fail(row, path,
           Failure{FailureCode::MessageUnreadable, path, "not enough memory to convert it"},
           "cannot read");
    }
  }

  void convert(long row, const std::string& path) {
    const MailboxPlace place = PlaceForMessage(options_, destination_, path);

    if (ahead_ != nullptr) {
      if (std::unique_ptr<PreparedMessage> ready = ahead_->take(row);
          ready != nullptr && ready->path == path) {
        const auto recordBytes = [&]() -> std::optional<std::uint64_t> {
          RecordByteCount count;
          count.feed(ready->text);
          return count.count();
        };
        if (options_.newOnly && ready->key &&
            (!folderReady(row, path, place) ||
             endedAsAlreadyThere(row, path, place, *ready->key, recordBytes))) {
          return;
        }
        return writePrepared(row, place, *ready);
      }
    }

    // The message file is opened and read once: what it is, its framing, sender, date, state
    // and parts; the separator line and the text are made from that.
    if (MaybeFailure failure = file_.open(path)) return fail(row, path, *failure, "cannot read");
    const SourceMessage source = ReadSourceMessage(path, file_, options_.record.writeFlags);
    if (source.kind == SourceKind::NotAMessage) return skip(row, path, source.notAMessageReason);
    if (options_.newOnly &&
        (!folderReady(row, path, place) ||
         endedAsAlreadyThere(row, path, place, MessageKeyOfMessage(source.message),
                             [&] { return RecordBytesOfMessage(source, options_.record); }))) {
      return;
    }
    const std::string separator = BuildSeparatorLine(source.sender, source.date);
    observer_.yieldPoint();

    MessageTextWriter text(source, options_.record);
    observer_.yieldPoint();
    const std::uint64_t fileLength = text.fileLength();
    observer_.messageOpened(fileLength);
    const auto lineRead = [&](std::uint64_t textLength) {
      observer_.yieldPoint();
      observer_.lineRead(textLength, fileLength);
    };
    if (stopRequestedNow()) return leaveOut();
    if (!folderReady(row, path, place)) return;

    // Separator line, line end, text, line end, written into the mailbox as they are made.
    const std::string_view lineEnd = text.recordLineEnd();
    TailMended mended;
    MaybeFailure appendFailure = append(row, place, lineEnd, mended, [&](RecordOutput& out) {
      return out.write(separator) && out.write(lineEnd) && text.write(out, lineRead) &&
             out.write(lineEnd);
    });
    observer_.yieldPoint();
    if (appendFailure && text.readFailure()) {
      return fail(row, path, *text.readFailure(), "cannot read");
    }
    if (appendFailure && appendFailure->code == FailureCode::Interrupted) return leaveOut();
    if (appendFailure) return fail(row, path, std::move(*appendFailure), "cannot write mailbox");
    finished(row, place, fileLength,
             mended.added + separator.size() + text.textLength() + 2 * lineEnd.size(),
             source.warnings, mended, text.lineEnds());
  }

  // The same turn for a message converted ahead: only the append is left.
  void writePrepared(long row, const MailboxPlace& place, const PreparedMessage& ready) {
    observer_.messageOpened(ready.fileLength);
    if (stopRequestedNow()) return leaveOut();
    if (!folderReady(row, ready.path, place)) return;
    const std::string_view lineEnd = FramingLineEnd(options_.record.lineEnds);
    TailMended mended;
    MaybeFailure appendFailure = append(row, place, lineEnd, mended, [&](RecordOutput& out) {
      if (!(out.write(ready.separator) && out.write(lineEnd) && out.writeKept(ready.text))) {
        return false;
      }
      if (ready.lastLineRead) {
        observer_.yieldPoint();
        observer_.lineRead(*ready.lastLineRead, ready.fileLength);
      }
      return out.write(lineEnd);
    });
    observer_.yieldPoint();
    if (appendFailure && appendFailure->code == FailureCode::Interrupted) return leaveOut();
    if (appendFailure) {
      return fail(row, ready.path, std::move(*appendFailure), "cannot write mailbox");
    }
    finished(row, place, ready.fileLength,
             mended.added + ready.separator.size() + ready.text.size() + 2 * lineEnd.size(),
             ready.warnings, mended, ready.lineEnds);
  }

  // Makes the output folder only once the message is ready to be written (or its mailbox to be
  // read), so that a message failing before (a device, a missing file) leaves no empty folder.
  // Messages come folder by folder: the folder made for the last one is not looked at again.
  bool folderReady(long row, const std::string& path, const MailboxPlace& place) {
    if (place.outputFolder == readyFolder_) return true;
    // Levels below the destination are never taken through a link.
    if (MaybeFailure failure =
            CreateFolderBelow(destination_, place.outputFolder, &summary_.foldersMade)) {
      fail(row, path, folderNotCreated(std::move(*failure)), "cannot create output folder");
      return false;
    }
    readyFolder_ = place.outputFolder;
    return true;
  }

  // How the writer tells of the place's mailbox while it opens, waits for and writes to it.
  AppendHooks hooksFor(long row, const MailboxPlace& place) {
    AppendHooks hooks;
    hooks.opened = [this] { observer_.yieldPoint(); };
    hooks.waitingForLock = [this, row, &place] { observer_.mailboxBusy(row, place.mailboxPath); };
    if (observer_.handlesEvents()) {
      hooks.whileWaiting = [this] {
        observer_.yieldPoint();
        return observer_.stopRequested();
      };
    }
    hooks.stop = options_.stop;
    hooks.flush = options_.flushCall;
    return hooks;
  }

  // Makes the place's mailbox the open one, locked: `lockedNow` when its lock was taken anew.
  MaybeFailure holdMailbox(long row, const MailboxPlace& place, bool& lockedNow) {
    if (place.mailboxPath != openMailbox_) closeMailbox();
    openMailbox_ = place.mailboxPath;
    return mailbox_.hold(place.mailboxPath, hooksFor(row, place), lockedNow);
  }

  // Appends one record to the place's mailbox, the one of the last record kept open.
  MaybeFailure append(long row, const MailboxPlace& place, std::string_view lineEnd,
                      TailMended& mended, const RecordProducer& produce) {
    if (place.mailboxPath != openMailbox_) closeMailbox();
    openMailbox_ = place.mailboxPath;
    AppendHooks hooks = hooksFor(row, place);
    hooks.tailMended = [&](std::size_t added, bool cut) { mended = {added, cut}; };
    // A failed append closes the mailbox; the records before it stand, flushed.
    return mailbox_.append(place.mailboxPath, lineEnd, produce, hooks);
  }

  // The record is in its mailbox: counted, and its warnings told.
  void finished(long row, const MailboxPlace& place, std::uint64_t fileLength,
                std::uint64_t recordLength, const std::vector<Notice>& warnings, TailMended mended,
                LineEnds messageLineEnds) {
    ++summary_.converted;
    if (options_.newOnly) {
      // The run's own records stand for no copy.
      const WrittenRecord& record = mailbox_.lastRecord();
      indexes_[place.mailboxPath].passOver(record.offset, record.offset + record.length);
    }
    summary_.bytesRead += fileLength;
    summary_.bytesWritten += recordLength;
    if (options_.record.lineEnds == LineEnds::Auto && messageLineEnds == LineEnds::CrLf) {
      ++summary_.crLfMessages;
    }
    if (mailboxesSeen_.insert(place.mailboxPath).second) {
      summary_.mailboxes.push_back(place.mailboxPath);
    }
    // Warnings only matter for a message that made it into its mailbox.
    if (!warnings.empty() || mended.added != 0 || mended.cut) ++summary_.warnings;
    for (const Notice& notice : warnings) observer_.warned(row, notice);
    if (mended.added != 0) {
      observer_.warned(row, Notice{place.mailboxPath,
                                   "did not end with a complete record; new records start after "
                                   "an empty line"});
    }
    if (mended.cut) {
      observer_.warned(row, Notice{place.mailboxPath,
                                   "ended inside a separator line, which holds no message (a "
                                   "record torn before its first line end); the line was cut "
                                   "back"});
    }
    observer_.turnFinished(row);
  }

  // The turns counted and told to the observer so far, whatever their end.
  long turnsEnded() const {
    return summary_.converted + summary_.failed + summary_.skipped + summary_.alreadyThere +
           summary_.notReached;
  }

  // Asked before each row: by the observer, or by a stop request made at any time. A held run
  // waits here for the user's answer, so it takes no new message meanwhile.
  bool stopAsked() {
    if (options_.stop != nullptr) options_.stop->waitWhileHeld();
    return observer_.stopRequested() || stopRequestedNow();
  }
  bool stopRequestedNow() const { return options_.stop != nullptr && options_.stop->stopping(); }

  // A stop request came while the turn's message was read or written: its record is left out
  // (or was cut back) and the run ends.
  void leaveOut() {
    summary_.stopped = true;
    ++summary_.notReached;
  }

  void fail(long row, const std::string& path, Failure failure, const char* what) {
    Failure named = aboutMessage(std::move(failure), path, what);
    ++summary_.failed;
    observer_.turnFailed(row, named);
    summary_.failures.push_back(std::move(named));
  }

  // Consecutive records of one mailbox share its open file; it is let go of when the run moves
  // to another mailbox and at the end, and flushed and checked (see settled) while the run goes
  // on.
  void closeMailbox() {
    mailbox_.letGo();
    openMailbox_.clear();
  }

  // The writer has let go of a mailbox. A flush or close that failed has taken the records
  // written since the mailbox was opened back out: they count as failed, under one failure
  // naming the mailbox.
  void settled(MailboxSettled found) {
    DiskCheck& checked = summary_.checked;
    if (found.created) createdFiles_.push_back(found.path);
    if (found.removed) {
      summary_.converted -= found.records;
      summary_.failed += found.records;
      checked.removed += found.records;
      checked.removals.push_back(*found.failure);
      summary_.failures.push_back(std::move(*found.failure));
      return;
    }
    if (options_.onDisk == OnDisk::NotFlushed) return;
    if (mailboxesChecked_.insert(found.path).second) ++checked.mailboxes;
    checked.records += found.checked;
    checked.readBack += found.readBack;
    checked.stopped = checked.stopped || found.stopped;
    if (found.failure) checked.differing.push_back(std::move(*found.failure));
  }

  // The folders that got a new entry (a mailbox file or a folder) are flushed too, so that the
  // flushed mailboxes can be found after a crash.
  void flushFolders() {
    if (options_.onDisk == OnDisk::NotFlushed) return;
    createdFiles_.insert(createdFiles_.end(), summary_.foldersMade.begin(),
                         summary_.foldersMade.end());
    for (Failure& failure : FlushFoldersHolding(createdFiles_)) {
      summary_.checked.differing.push_back(std::move(failure));
    }
  }

  // With newOnly: a message its mailbox holds whole ends its turn as already there (true),
  // taking the record that holds it, so that each record covers one copy of the message (turns
  // come in row order, each asks once); a mailbox that cannot be added to fails it (true). It is
  // judged with the mailbox locked (waiting, as an append does, while another writer holds it),
  // after reading on through what was added since it was last read, so that two runs started
  // together write each message once. `recordBytes` gives the message's RecordByteCount.
  bool endedAsAlreadyThere(long row, const std::string& path, const MailboxPlace& place,
                           const MessageKey& key,
                           const std::function<std::optional<std::uint64_t>()>& recordBytes) {
    bool lockedNow = false;
    if (MaybeFailure held = holdMailbox(row, place, lockedNow)) {
      if (held->code == FailureCode::Interrupted) {
        leaveOut();
      } else {
        fail(row, path, std::move(*held), "cannot add to mailbox");
      }
      return true;
    }
    MailboxIndex& index = indexes_[place.mailboxPath];
    if (MaybeFailure unread = index.readOn(mailbox_.openDescriptor(), place.mailboxPath)) {
      closeMailbox();
      fail(row, path, std::move(*unread), "cannot add to mailbox");
      return true;
    }
    if (!index.takeCopyOf(key, recordBytes)) return false;
    ++summary_.alreadyThere;
    observer_.turnAlreadyThere(row);
    return true;
  }

  void skip(long row, const std::string& path, const std::string& reason) {
    ++summary_.skipped;
    observer_.turnSkipped(row, Notice{path, reason});
  }

  RowSource& rows_;
  const std::string destination_;
  ConversionObserver& observer_;
  const RunOptions& options_;
  WriterLane* const ahead_;  // messages made ready before their turn, when given
  RunSummary summary_;
  std::unordered_set<std::string> mailboxesSeen_;
  std::string readyFolder_;  // the output folder last made or found
  MessageFile file_;         // the message file of the current turn
  MailboxWriter mailbox_;    // the mailbox of the last record, kept open for the next
  std::string openMailbox_;
  std::unordered_set<std::string> mailboxesChecked_;
  std::vector<std::string> createdFiles_;  // mailbox files made: their folders are flushed
  std::unordered_map<std::string, MailboxIndex> indexes_;  // by mailbox (newOnly)
};

}  // namespace

MailboxPlace PlaceForMessage(const RunOptions& options, const std::string& destinationFolder,
                             const std::string& messagePath) {
  if (options.placer) {
    if (auto place = options.placer(destinationFolder, messagePath)) return std::move(*place);
  }
  return MailboxPlaceFor(destinationFolder, messagePath);
}

RunSummary RunConversion(RowSource& rows, const std::string& destinationFolder,
                         ConversionObserver& observer, const RunOptions& options) {
  return Run(rows, destinationFolder, observer, options, nullptr).go();
}

RunSummary RunConversion(RowSource& rows, const std::string& destinationFolder,
                         ConversionObserver& observer, const RunOptions& options,
                         WriterLane& ahead) {
  return Run(rows, destinationFolder, observer, options, &ahead).go();
}

}  // namespace drovanta
