#include "cli/progress_line.h"

#include <algorithm>
#include <string>

#include "shellutil/path_helpers.h"

namespace drovanta {
namespace {

constexpr auto kRedrawInterval = std::chrono::milliseconds(100);

std::string ClockText(double seconds) {
  const auto whole = static_cast<long long>(seconds + 0.5);
  char text[32];
  if (whole >= 3600) {
    std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", whole / 3600, whole / 60 % 60,
                  whole % 60);
  } else {
    std::snprintf(text, sizeof text, "%lld:%02lld", whole / 60, whole % 60);
  }
  return text;
}

}  // namespace

ProgressLine::ProgressLine(long totalMessages, bool shown, std::FILE* stream)
    : total_(totalMessages), shown_(shown), stream_(stream), start_(Clock::now()) {}

std::string ProgressLine::Format(long done, long total, std::uint64_t bytes, double seconds) {
  const double megabytes = static_cast<double>(bytes) / 1e6;
  const double rate = seconds > 0 ? megabytes / seconds : 0.0;
  std::string left = "--:--";
  if (done > 0 && seconds > 0) left = ClockText(seconds * static_cast<double>(total - done) / done);
  char text[160];
  std::snprintf(text, sizeof text, "%ld/%ld messages  %.1f MB  %.1f MB/s  %s left", done, total,
                megabytes, rate, left.c_str());
  return text;
}

void ProgressLine::messageOpened(std::uint64_t fileLength) {
  lengthCurrent_ = fileLength;
  bytesCurrent_ = 0;
}

void ProgressLine::lineRead(std::uint64_t textLength, std::uint64_t /*fileLength*/) {
  bytesCurrent_ = textLength;
  if (shown_) draw(false);
}

void ProgressLine::turnFinished(long /*row*/) {
  bytesDone_ += lengthCurrent_;
  turnDone();
}

void ProgressLine::turnFailed(long /*row*/, const Failure& /*failure*/) {
  turnDone();
}

void ProgressLine::turnSkipped(long /*row*/, const Notice& notice) {
  skipped_.push_back(notice);
  turnDone();
}

void ProgressLine::turnAlreadyThere(long /*row*/) {
  turnDone();
}

void ProgressLine::warned(long /*row*/, const Notice& notice) {
  warnings_.push_back(notice);
}

void ProgressLine::mailboxBusy(long /*row*/, const std::string& mailboxPath) {
  clear();
  std::fprintf(stream_, "waiting: %s: another program is writing to it\n",
               PrintableText(mailboxPath).c_str());
  std::fflush(stream_);
}

void ProgressLine::turnDone() {
  ++done_;
  bytesCurrent_ = 0;
  lengthCurrent_ = 0;
  if (shown_) draw(done_ == total_);
}

void ProgressLine::draw(bool force) {
  const auto now = Clock::now();
  if (!force && now - lastDraw_ < kRedrawInterval) return;
  lastDraw_ = now;
  const double seconds = std::chrono::duration<double>(now - start_).count();
  std::string line = Format(done_, total_, bytesDone_ + bytesCurrent_, seconds);
  const std::size_t width = line.size();
  // Pad over the rest of a longer line drawn before.
  if (width < drawnWidth_) line.append(drawnWidth_ - width, ' ');
  drawnWidth_ = width;
  std::fprintf(stream_, "\r%s", line.c_str());
  std::fflush(stream_);
}

void ProgressLine::clear() {
  if (!shown_ || drawnWidth_ == 0) return;
  std::fprintf(stream_, "\r%s\r", std::string(drawnWidth_, ' ').c_str());
  std::fflush(stream_);
  drawnWidth_ = 0;
}

}  // namespace drovanta
