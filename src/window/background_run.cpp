#include "window/background_run.h"

#include <algorithm>
#include <deque>
#include <utility>

#include "run/parallel_run.h"
#include "shellutil/path_helpers.h"

namespace drovanta {
namespace {

StopRequest& lastingStopRequest() {
  static std::mutex made;
  // Never destroyed, so that a run that ends inside exit() still finds it; a deque never moves
  // what it holds.
  static auto* requests = new std::deque<StopRequest>;
  std::lock_guard lock(made);
  return requests->emplace_back();
}

}  // namespace

// Keeps what the run tells, on the run's thread, for the window's thread to read.
class BackgroundRun::Keeper : public ConversionObserver {
 public:
  explicit Keeper(BackgroundRun& run) : run_(run) {}

  // A wait for another program's mailbox lock polls, so that a stop ends it.
  bool handlesEvents() const override { return true; }
  bool stopRequested() override { return run_.stop_.stopping(); }

  void mailboxBusy(long /*row*/, const std::string& mailboxPath) override {
    update([&](RunProgress& p) { p.busyMailbox = mailboxPath; });
  }
  void turnStarted(long row) override {
    update([&](RunProgress& p) {
      p.latestRow = row;
      p.busyMailbox.clear();
      p.betweenMessages = false;
    });
  }
  void messageOpened(std::uint64_t fileLength) override {
    update([&](RunProgress& p) {
      p.messageTold = true;
      p.messageLength = fileLength;
      p.bytesRead = 0;
    });
  }
  void lineRead(std::uint64_t textLength, std::uint64_t fileLength) override {
    // The text grows by the line ends and quoting marks it adds: the display counts the
    // message's own bytes.
    update([&](RunProgress& p) {
      p.bytesRead = std::min(textLength, fileLength);
      p.busyMailbox.clear();
    });
  }
  void turnFinished(long /*row*/) override {
    update([](RunProgress& p) {
      ++p.ended;
      ++p.converted;
      p.bytesRead = p.messageLength;
      p.betweenMessages = true;
    });
  }
  void turnFailed(long /*row*/, const Failure& /*failure*/) override {
    update([](RunProgress& p) {
      ++p.ended;
      p.betweenMessages = true;
    });
  }
  void turnSkipped(long row, const Notice& notice) override {
    update([&](RunProgress& p) {
      ++p.ended;
      p.betweenMessages = true;
      run_.skipped_.emplace_back(row, notice);
    });
  }
  void warned(long row, const Notice& notice) override {
    std::lock_guard lock(run_.mutex_);
    run_.warnings_.emplace_back(row, notice);
  }
  void turnAlreadyThere(long /*row*/) override {
    update([](RunProgress& p) {
      ++p.ended;
      p.betweenMessages = true;
    });
  }

 private:
  template <typename Change>
  void update(Change change) {
    std::lock_guard lock(run_.mutex_);
    change(run_.progress_);
    ++run_.progress_.version;
  }

  BackgroundRun& run_;
};

BackgroundRun::BackgroundRun(std::vector<std::string> rows, std::string destinationFolder,
                             unsigned jobs, RunOptions options)
    : rows_(std::move(rows)),
      destination_(std::move(destinationFolder)),
      options_(std::move(options)),
      stop_(lastingStopRequest()),
      thread_([this, jobs] { work(jobs); }) {}

BackgroundRun::~BackgroundRun() {
  requestStop();
  if (thread_.joinable()) thread_.join();
}

void BackgroundRun::work(unsigned jobs) {
  Keeper keeper(*this);
  RunOptions options = options_;
  options.stop = &stop_;
  RunSummary summary;
  std::exception_ptr error;
  try {
    summary = RunConversionInParallel(rows_, destination_, keeper, options, jobs);
  } catch (...) {
    error = std::current_exception();
  }
  {
    std::lock_guard lock(mutex_);
    summary_ = std::move(summary);
    error_ = error;
    ended_ = true;
  }
  endedSignal_.notify_all();
}

bool BackgroundRun::waitFor(std::chrono::microseconds timeout) {
  std::unique_lock lock(mutex_);
  return endedSignal_.wait_for(lock, timeout, [this] { return ended_; });
}

void BackgroundRun::wait() {
  std::unique_lock lock(mutex_);
  endedSignal_.wait(lock, [this] { return ended_; });
}

RunProgress BackgroundRun::progress() const {
  std::lock_guard lock(mutex_);
  return progress_;
}

void BackgroundRun::requestStop() {
  if (!stop_.stopping()) stop_.request(0);
}

RunSummary BackgroundRun::summary() {
  wait();
  if (error_) std::rethrow_exception(error_);
  return summary_;
}

RunNotices BackgroundRun::notices() {
  wait();
  const auto inRowOrder = [](std::vector<std::pair<long, Notice>> told) {
    std::stable_sort(told.begin(), told.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<Notice> notices;
    notices.reserve(told.size());
    for (auto& [row, notice] : told) notices.push_back(std::move(notice));
    return notices;
  };
  std::lock_guard lock(mutex_);
  return {inRowOrder(warnings_), inRowOrder(skipped_), stop_.stopping() && !summary_.stopped};
}

}  // namespace drovanta
