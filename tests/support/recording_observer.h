#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "run/conversion_observer.h"
#include "shellutil/failure.h"

namespace drovanta::testing {

// Writes down every observer call in one line each; yields only count, as "y".
class RecordingObserver : public ConversionObserver {
 public:
  void yieldPoint() override { calls.push_back("y"); }
  void turnStarted(long row) override { calls.push_back("start " + std::to_string(row)); }
  void messageOpened(std::uint64_t fileLength) override {
    calls.push_back("opened " + std::to_string(fileLength));
  }
  void lineRead(std::uint64_t textLength, std::uint64_t fileLength) override {
    calls.push_back("line " + std::to_string(textLength) + "/" + std::to_string(fileLength));
  }
  void turnFinished(long row) override { calls.push_back("finished " + std::to_string(row)); }
  void turnFailed(long row, const Failure& failure) override {
    calls.push_back("failed " + std::to_string(row) + " " + toString(failure.code));
  }
  void turnSkipped(long row, const Notice& notice) override {
    calls.push_back("skipped " + std::to_string(row) + " " + notice.text);
  }
  void warned(long row, const Notice& notice) override {
    calls.push_back("warned " + std::to_string(row));
    warnings.push_back(notice);
  }

  // The calls without the yields: what the front-end is told, turn by turn.
  std::vector<std::string> reports() const {
    std::vector<std::string> result;
    for (const auto& call : calls) {
      if (call != "y") result.push_back(call);
    }
    return result;
  }

  // Only how each turn began and ended.
  std::vector<std::string> turns() const {
    std::vector<std::string> result;
    for (const auto& call : reports()) {
      if (!call.starts_with("opened") && !call.starts_with("line")) result.push_back(call);
    }
    return result;
  }

  std::vector<std::string> calls;
  std::vector<Notice> warnings;
};

}  // namespace drovanta::testing
