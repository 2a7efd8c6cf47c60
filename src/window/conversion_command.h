#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "run/conversion_run.h"

namespace drovanta {

class StepWindow;

// The list's rows as the run reads them: the row count and each row's text straight from the
// grid, at the moment the run asks.
class GridRowSource : public RowSource {
 public:
  explicit GridRowSource(StepWindow& form) : form_(form) {}
  long rowCount() override;
  std::string rowText(long row) override;

 private:
  StepWindow& form_;
};

// How much of a message file has been read, in whole percent rounded half to even. The text can
// grow longer than its file (line ends added), so the result can pass 100; the bar clamps it.
double MessageReadPercent(std::uint64_t textLength, std::uint64_t fileLength);

// The closing box of a run: its text, caption and whether it reports failures.
struct CompletionMessage {
  std::string text;
  std::string caption;
  bool failures = false;
};
CompletionMessage CompletionMessageFor(const RunSummary& summary);

// The Convert command: asks for a destination folder and converts every listed message into
// the mailbox files under it, showing its progress, then reports the end.
void ConvertCommand(StepWindow& form);

}  // namespace drovanta
