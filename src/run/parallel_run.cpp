#include "run/parallel_run.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <numeric>
#include <thread>
#include <unordered_map>
#include <utility>

#include "message/gmime_setup.h"
#include "run/messages_ahead.h"
#include "shellutil/ascii_case.h"
#include "shellutil/folder_creation.h"
#include "shellutil/path_helpers.h"

namespace drovanta {
namespace {

// What a row has to say besides its progress; most rows have nothing.
struct RowNotes {
  std::vector<Notice> warnings;
  Failure failure;
  Notice skipped;
};

// What one row told its observer, kept until the row's turn comes to be told: in the order a
// turn tells it, the message's length, its last read length, its warnings and how it ended.
// A worker fills it; once the row is marked done only the calling thread touches it. One is
// kept per row, so it stays small: a read length is told with the message's own length.
struct RowRecord {
  enum class End : unsigned char { None, Finished, Failed, Skipped, AlreadyThere };
  std::uint64_t fileLength = 0;
  std::uint64_t readText = 0;
  bool opened = false;
  bool read = false;
  End end = End::None;
  std::unique_ptr<RowNotes> notes;

  RowNotes& notesToKeep() {
    if (!notes) notes = std::make_unique<RowNotes>();
    return *notes;
  }
};

// Mailboxes that must be converted by one thread: rows in row order.
struct Group {
  std::vector<long> rows;
};

// Union-find over mailbox indexes.
class Joined {
 public:
  explicit Joined(std::size_t count) : parent_(count) {
    std::iota(parent_.begin(), parent_.end(), std::size_t{0});
  }
  std::size_t find(std::size_t i) {
    while (parent_[i] != i) i = parent_[i] = parent_[parent_[i]];
    return i;
  }
  void join(std::size_t a, std::size_t b) { parent_[find(a)] = find(b); }

 private:
  std::vector<std::size_t> parent_;
};

class ParallelRun {
 public:
  ParallelRun(const std::vector<std::string>& rows, const std::string& destinationFolder,
              ConversionObserver& observer, const RunOptions& options)
      : rows_(rows),
        destination_(AddSeparator(destinationFolder)),
        observer_(observer),
        options_(options),
        mailboxOfRow_(rows.size(), kNoMailbox) {}

  RunSummary go(unsigned jobs) {
    const std::vector<Group> groups = groupRows();
    EnsureGMime();  // before any thread can race to it
    if (groups.size() < 2) return serially(groups.empty() ? 1 : jobs);
    records_.resize(rows_.size());
    done_ = std::make_unique<std::atomic<bool>[]>(rows_.size());

    MessagesAhead ahead(options_.record, options_.stop, groups.size());
    if (options_.newOnly) ahead.keepMessageKeys();
    ahead_ = &ahead;
    std::atomic<std::size_t> nextGroup{0};
    std::vector<RunSummary> summaries(groups.size());
    std::vector<std::exception_ptr> errors(groups.size());
    // Each thread converts whole mailboxes while there are any left, then helps those still
    // being converted by preparing their messages ahead.
    auto work = [&] {
      for (std::size_t g = nextGroup++; g < groups.size(); g = nextGroup++) {
        try {
          summaries[g] = convertGroup(groups[g]);
        } catch (...) {
          errors[g] = std::current_exception();
        }
        ahead.writerEnded();
        groupEnded(groups[g]);
      }
      ahead.help();
    };
    std::size_t rowsToConvert = 0;
    for (const Group& group : groups) rowsToConvert += group.rows.size();
    std::vector<std::jthread> threads;
    const std::size_t threadCount = std::min<std::size_t>(jobs, rowsToConvert);
    for (std::size_t i = 0; i < threadCount; ++i) threads.emplace_back(work);

    RunSummary summary = replayInRowOrder();
    threads.clear();  // joins them
    for (const auto& error : errors) {
      if (error) std::rethrow_exception(error);
    }
    // Each group flushed and checked its own mailboxes, on its worker, as it ended.
    DiskCheck& checked = summary.checked;
    checked.onDisk = options_.onDisk;
    for (RunSummary& part : summaries) {
      summary.bytesRead += part.bytesRead;
      summary.bytesWritten += part.bytesWritten;
      summary.crLfMessages += part.crLfMessages;
      summary.foldersMade.insert(summary.foldersMade.end(), part.foldersMade.begin(),
                                 part.foldersMade.end());
      checked.records += part.checked.records;
      checked.readBack += part.checked.readBack;
      checked.mailboxes += part.checked.mailboxes;
      checked.stopped = checked.stopped || part.checked.stopped;
      for (Failure& failure : part.checked.differing)
        checked.differing.push_back(std::move(failure));
      // Told as converted in the replay, then taken back out of a mailbox that failed to flush.
      summary.converted -= part.checked.removed;
      summary.failed += part.checked.removed;
      checked.removed += part.checked.removed;
      for (Failure& failure : part.checked.removals) {
        summary.failures.push_back(failure);
        checked.removals.push_back(std::move(failure));
      }
    }
    if (stopRequestedNow()) summary.stopped = true;  // as RunConversion tells it
    return summary;
  }

 private:
  static constexpr std::uint32_t kNoMailbox = static_cast<std::uint32_t>(-1);

  // Finds each row's mailbox as the serial run does. One group per mailbox, case folded; a
  // mailbox whose file lies on the folder path of another joins that one's group. Groups come
  // in the order of their first row.
  std::vector<Group> groupRows() {
    std::unordered_map<std::string, std::size_t> mailboxIndex;  // path -> index in mailboxes_
    std::unordered_map<std::string, std::size_t> foldedIndex;   // folded path -> group key
    std::vector<std::size_t> keyOfMailbox;
    std::vector<std::string> outputFolders;  // folded, by key
    for (std::size_t row = 0; row < rows_.size(); ++row) {
      const std::string path = MessagePathOfRow(rows_[row]);
      if (path.empty()) continue;
      MailboxPlace place = PlaceForMessage(options_, destination_, path);
      const auto [exact, added] = mailboxIndex.emplace(place.mailboxPath, mailboxes_.size());
      if (added) {
        const auto [folded, newKey] =
            foldedIndex.emplace(AsciiLowered(place.mailboxPath), foldedIndex.size());
        if (newKey) outputFolders.push_back(AsciiLowered(place.outputFolder));
        keyOfMailbox.push_back(folded->second);
        mailboxes_.push_back(std::move(place.mailboxPath));
      }
      mailboxOfRow_[row] = static_cast<std::uint32_t>(exact->second);
    }
    Joined joined(foldedIndex.size());
    for (std::size_t key = 0; key < outputFolders.size(); ++key) {
      std::string folder = outputFolders[key];
      while (!folder.empty()) {
        folder.pop_back();  // the separator at its end
        if (const auto file = foldedIndex.find(folder); file != foldedIndex.end()) {
          joined.join(key, file->second);
        }
        folder = GetFolderPath(folder);
      }
    }
    std::vector<Group> groups;
    std::unordered_map<std::size_t, std::size_t> groupOfRoot;
    for (std::size_t row = 0; row < rows_.size(); ++row) {
      if (mailboxOfRow_[row] == kNoMailbox) continue;
      const std::size_t root = joined.find(keyOfMailbox[mailboxOfRow_[row]]);
      const auto [at, added] = groupOfRoot.emplace(root, groups.size());
      if (added) groups.emplace_back();
      groups[at->second].rows.push_back(static_cast<long>(row));
    }
    return groups;
  }

  // One mailbox is written on this thread, every event told as it comes, while the other
  // jobs - 1 threads prepare its messages ahead.
  RunSummary serially(unsigned jobs) {
    RowsView source(rows_);
    if (jobs <= 1) return RunConversion(source, destination_, observer_, options_);
    MessagesAhead ahead(options_.record, options_.stop, 1);
    if (options_.newOnly) ahead.keepMessageKeys();
    std::vector<std::jthread> helpers;  // joined before `ahead` goes
    for (unsigned i = 1; i < jobs; ++i) helpers.emplace_back([&ahead] { ahead.help(); });
    struct WriterEnd {
      MessagesAhead& ahead;
      ~WriterEnd() { ahead.writerEnded(); }
    } writerEnd{ahead};
    WriterLane lane(ahead, source);
    return RunConversion(source, destination_, observer_, options_, lane);
  }

  // Runs one group through its own engine, its observer keeping each row's events.
  RunSummary convertGroup(const Group& group) {
    RowsView source(rows_, &group.rows);
    Keeper keeper(*this, group.rows);
    WriterLane lane(*ahead_, source);
    return RunConversion(source, destination_, keeper, options_, lane);
  }

  // The observer of one group: maps the group's rows back to the run's and keeps the events.
  class Keeper : public ConversionObserver {
   public:
    Keeper(ParallelRun& run, const std::vector<long>& rows) : run_(run), rows_(rows) {}

    // Waits for a mailbox lock then try again every few milliseconds instead of blocking: a
    // stop signal reaches one thread only, and not necessarily the waiting one.
    bool handlesEvents() const override { return true; }
    bool stopRequested() override { return run_.stop_; }
    // Told at once, not in row order: the user should know why the run stands still.
    void mailboxBusy(long row, const std::string& mailboxPath) override {
      run_.tellBusy(static_cast<long>(rowOf(row)), mailboxPath);
    }
    void turnStarted(long row) override { current_ = &run_.records_[rowOf(row)]; }
    void messageOpened(std::uint64_t fileLength) override {
      current_->opened = true;
      current_->fileLength = fileLength;
    }
    // Only the last length of a message is told: a huge message would otherwise keep one entry
    // per line.
    void lineRead(std::uint64_t textLength, std::uint64_t fileLength) override {
      current_->read = true;
      current_->readText = textLength;
      current_->fileLength = fileLength;
    }
    void warned(long /*row*/, const Notice& notice) override {
      current_->notesToKeep().warnings.push_back(notice);
    }
    void turnFinished(long row) override { end(row, RowRecord::End::Finished); }
    void turnFailed(long row, const Failure& failure) override {
      current_->notesToKeep().failure = failure;
      end(row, RowRecord::End::Failed);
    }
    void turnSkipped(long row, const Notice& notice) override {
      current_->notesToKeep().skipped = notice;
      end(row, RowRecord::End::Skipped);
    }
    void turnAlreadyThere(long row) override { end(row, RowRecord::End::AlreadyThere); }

   private:
    std::size_t rowOf(long groupRow) const {
      return static_cast<std::size_t>(rows_[static_cast<std::size_t>(groupRow)]);
    }
    void end(long groupRow, RowRecord::End how) {
      current_->end = how;
      run_.markDone(static_cast<long>(rowOf(groupRow)));
    }

    ParallelRun& run_;
    const std::vector<long>& rows_;
    RowRecord* current_ = nullptr;
  };

  // The calling thread is woken once the row it waits for and the row kReplayBatch - 1 after it
  // are done, or a group has ended: a wake-up for every row would cost more than converting a
  // small message.
  static constexpr long kReplayBatch = 64;

  // A stop request made from outside (a signal): every worker sees it as well.
  bool stopRequestedNow() const { return options_.stop != nullptr && options_.stop->stopping(); }

  bool isDone(long row) const { return done_[static_cast<std::size_t>(row)].load(); }

  void markDone(long row) {
    done_[static_cast<std::size_t>(row)] = true;
    const long awaited = awaited_;
    if (awaited < 0) return;
    const long batchEnd = std::min(awaited + kReplayBatch, static_cast<long>(rows_.size())) - 1;
    if (isDone(awaited) && isDone(batchEnd)) wakeReplay();
  }

  // Every row of the group is done, those an exception left unfinished too.
  void groupEnded(const Group& group) {
    for (long row : group.rows) done_[static_cast<std::size_t>(row)] = true;
    const long awaited = awaited_;
    if (awaited >= 0 && isDone(awaited)) wakeReplay();
  }

  void tellBusy(long row, const std::string& mailboxPath) {
    {
      std::lock_guard lock(mutex_);
      busy_.emplace_back(row, mailboxPath);
    }
    rowDone_.notify_one();
  }

  // Passes on the busy mailboxes told since the last call; called with the lock held.
  void passOnBusy(std::unique_lock<std::mutex>& lock) {
    while (!busy_.empty()) {
      auto [row, mailboxPath] = std::move(busy_.front());
      busy_.pop_front();
      lock.unlock();
      observer_.mailboxBusy(row, mailboxPath);
      lock.lock();
    }
  }

  void wakeReplay() {
    // Taking the lock makes sure the calling thread is either before its check or waiting.
    { std::lock_guard lock(mutex_); }
    rowDone_.notify_one();
  }

  // Tells the observer each row's events as soon as that row and all rows before it are done,
  // and counts them up as the serial run does.
  RunSummary replayInRowOrder() {
    RunSummary summary;
    std::vector<bool> mailboxWritten(mailboxes_.size());
    // Each worker stops before its next row, or leaves out the record it is at; rows done by
    // then are still told.
    auto noticeStop = [&] {
      if (!summary.stopped && (observer_.stopRequested() || stopRequestedNow())) {
        summary.stopped = true;
        stop_ = true;
        ahead_->stop();
      }
    };
    for (std::size_t row = 0; row < rows_.size(); ++row) {
      const long turn = static_cast<long>(row);
      noticeStop();
      if (mailboxOfRow_[row] == kNoMailbox) {  // an empty row, passed over as serially
        if (summary.stopped) {
          ++summary.notReached;
        } else {
          observer_.turnStarted(turn);
        }
        continue;
      }
      if (!isDone(turn)) {
        std::unique_lock lock(mutex_);
        awaited_ = turn;
        for (passOnBusy(lock); !isDone(turn); passOnBusy(lock)) rowDone_.wait(lock);
        awaited_ = -1;
      }
      RowRecord& record = records_[row];
      if (record.end == RowRecord::End::None) {
        noticeStop();  // the request may have come while this row was converted
        if (summary.stopped) {
          ++summary.notReached;
          continue;
        }
      }
      observer_.turnStarted(turn);
      const std::unique_ptr<RowNotes> notes = std::move(record.notes);
      if (record.opened) observer_.messageOpened(record.fileLength);
      if (record.read) observer_.lineRead(record.readText, record.fileLength);
      if (notes) {
        for (const Notice& notice : notes->warnings) observer_.warned(turn, notice);
      }
      switch (record.end) {
        case RowRecord::End::Finished:
          ++summary.converted;
          if (notes && !notes->warnings.empty()) ++summary.warnings;
          if (!mailboxWritten[mailboxOfRow_[row]]) {
            mailboxWritten[mailboxOfRow_[row]] = true;
            summary.mailboxes.push_back(mailboxes_[mailboxOfRow_[row]]);
          }
          observer_.turnFinished(turn);
          break;
        case RowRecord::End::Failed:
          ++summary.failed;
          observer_.turnFailed(turn, notes->failure);
          summary.failures.push_back(std::move(notes->failure));
          break;
        case RowRecord::End::Skipped:
          ++summary.skipped;
          observer_.turnSkipped(turn, notes->skipped);
          break;
        case RowRecord::End::AlreadyThere:
          ++summary.alreadyThere;
          observer_.turnAlreadyThere(turn);
          break;
        case RowRecord::End::None:  // its group stopped on an exception, thrown below
          break;
      }
    }
    return summary;
  }

  const std::vector<std::string>& rows_;
  const std::string destination_;
  ConversionObserver& observer_;
  const RunOptions& options_;
  std::vector<std::string> mailboxes_;       // every mailbox path, in the order first met
  std::vector<std::uint32_t> mailboxOfRow_;  // index in mailboxes_, kNoMailbox for empty rows

  std::unique_ptr<std::atomic<bool>[]> done_;  // per row: its events are all kept
  std::mutex mutex_;
  std::condition_variable rowDone_;
  std::atomic<long> awaited_{-1};                  // the row the calling thread waits for
  std::deque<std::pair<long, std::string>> busy_;  // mailboxes told busy, not yet passed on
  std::atomic<bool> stop_{false};                  // the front-end asked to stop
  MessagesAhead* ahead_ = nullptr;                 // shared by the groups' engines
  std::vector<RowRecord> records_;
};

}  // namespace

RunSummary RunConversionInParallel(const std::vector<std::string>& rows,
                                   const std::string& destinationFolder,
                                   ConversionObserver& observer, const RunOptions& options,
                                   unsigned jobs) {
  RunSummary summary;
  if (jobs <= 1) {
    RowsView source(rows);
    summary = RunConversion(source, destinationFolder, observer, options);
  } else {
    summary = ParallelRun(rows, destinationFolder, observer, options).go(jobs);
  }
  // Only once every thread is done: another may still be about to write in a folder made here.
  RemoveFoldersLeftEmpty(summary.foldersMade);
  return summary;
}

}  // namespace drovanta
