#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "run/conversion_observer.h"

namespace drovanta {

// Follows a run for the command line: keeps the notices (warnings, skipped files) for the
// report, and when shown, redraws one line on the stream ("\r", at most ten times a second)
// with messages done/total, megabytes, rate and time left.
class ProgressLine : public ConversionObserver {
 public:
  ProgressLine(long totalMessages, bool shown, std::FILE* stream);

  void messageOpened(std::uint64_t fileLength) override;
  void lineRead(std::uint64_t textLength, std::uint64_t fileLength) override;
  void turnFinished(long row) override;
  void turnFailed(long row, const Failure& failure) override;
  void turnSkipped(long row, const Notice& notice) override;
  void turnAlreadyThere(long row) override;
  void warned(long row, const Notice& notice) override;
  // Said at once, even when the line is not shown: the run seems to stand still.
  void mailboxBusy(long row, const std::string& mailboxPath) override;

  // Wipes the line so that the report starts on a clean line.
  void clear();

  const std::vector<Notice>& warnings() const { return warnings_; }
  const std::vector<Notice>& skipped() const { return skipped_; }

  // The line as drawn, for a given state (kept apart so the texts can be checked).
  static std::string Format(long done, long total, std::uint64_t bytes, double seconds);

 private:
  void turnDone();
  void draw(bool force);

  using Clock = std::chrono::steady_clock;
  long total_;
  bool shown_;
  std::FILE* stream_;
  Clock::time_point start_;
  Clock::time_point lastDraw_;
  long done_ = 0;
  std::uint64_t bytesDone_ = 0;     // bytes of the finished turns
  std::uint64_t bytesCurrent_ = 0;  // bytes read of the turn under way
  std::uint64_t lengthCurrent_ = 0;
  std::size_t drawnWidth_ = 0;
  std::vector<Notice> warnings_;
  std::vector<Notice> skipped_;
};

}  // namespace drovanta
