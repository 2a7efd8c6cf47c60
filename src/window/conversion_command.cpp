#include "window/conversion_command.h"

#include <QLabel>
#include <QPushButton>
#include <algorithm>
#include <cfenv>
#include <cmath>
#include <utility>

#include "shellutil/path_helpers.h"
#include "window/folder_picker.h"
#include "window/step_window.h"
#include "window/window_layout.h"

namespace drovanta {
namespace {

constexpr const char* kCompletionCaption = "EMLX to MBOX Converter";
constexpr std::size_t kFailuresShown = 5;

// The run's displays. Their values are kept here and put on screen just before the window
// repaints, so a run costs one display update per repaint rather than one per line or message.
// While it lives, Escape on the window asks whether to stop; a Yes stops the run before its
// next row, so the record being written is finished first.
class WindowObserver : public ConversionObserver {
 public:
  WindowObserver(StepWindow& form, long rowCount)
      : form_(form),
        rowCount_(rowCount),
        flushToken_(form.addDisplayFlush([this] {
          showLineValues();
          showRowValues();
        })),
        outerStop_(std::exchange(form.askToStopConversion, [this] { askToStop(); })) {}
  ~WindowObserver() override {
    form_.askToStopConversion = std::move(outerStop_);
    form_.removeDisplayFlush(flushToken_);
  }
  WindowObserver(const WindowObserver&) = delete;
  WindowObserver& operator=(const WindowObserver&) = delete;

  void yieldPoint() override { form_.DoEvents(); }
  bool handlesEvents() const override { return true; }
  bool stopRequested() override { return stopRequested_; }

  // The run waits for another program's lock on the mailbox: said where the bytes read show.
  void mailboxBusy(long /*row*/, const std::string& mailboxPath) override {
    form_.LblByteRead->setText(QStringLiteral("Waiting for another program to finish writing ") +
                               QString::fromStdString(PrintableText(GetFileName(mailboxPath))) +
                               QStringLiteral("..."));
    form_.DoEvents();
  }

  void turnStarted(long row) override {
    FlexGrid& grid = *form_.grdFiles1;
    if (row < grid.Rows()) {
      grid.setRow(row);
      grid.setCol(0);
    }
    form_.DoEventsAtBoundary();
  }

  void messageOpened(std::uint64_t /*fileLength*/) override {
    form_.DoEvents();
    form_.EmlProgress->setMin(0);
    form_.EmlProgress->setMax(100);
  }

  void lineRead(std::uint64_t textLength, std::uint64_t fileLength) override {
    form_.DoEvents();
    textLength_ = textLength;
    fileLength_ = fileLength;
    lineValuesPending_ = true;
  }

  void turnFinished(long row) override {
    ++converted_;
    messageDone(row);
  }
  void turnFailed(long row, const Failure& /*failure*/) override { messageDone(row); }
  void turnSkipped(long row, const Notice& /*notice*/) override { messageDone(row); }

  void showLineValues() {
    if (!lineValuesPending_) return;
    lineValuesPending_ = false;
    form_.LblByteRead->setText(QString::number(textLength_) + QStringLiteral(" Bytes out of ") +
                               QString::number(fileLength_) + QStringLiteral(" Total Bytes."));
    // A text grown longer than its file keeps the bar full instead of leaving its range.
    form_.EmlProgress->setValue(std::clamp(MessageReadPercent(textLength_, fileLength_),
                                           form_.EmlProgress->Min(), form_.EmlProgress->Max()));
  }

 private:
  void askToStop() {
    if (asking_ || stopRequested_) return;
    asking_ = true;
    const MessageAnswer answer = form_.platform().messageBox(
        {"Stop converting? " + std::to_string(converted_) + " of " + std::to_string(rowCount_) +
             " messages are converted.",
         kApplicationTitle, MessageButtons::YesNo, MessageIcon::Question, MessageAnswer::No});
    asking_ = false;
    if (answer == MessageAnswer::Yes) stopRequested_ = true;
  }

  void messageDone(long row) {
    // The row count is read again: the list may have changed under the run.
    doneRow_ = row;
    doneRows_ = form_.grdFiles1->Rows();
    rowValuesPending_ = true;
    form_.DoEventsAtBoundary();
  }

  void showRowValues() {
    if (!rowValuesPending_) return;
    rowValuesPending_ = false;
    form_.ProgressBar1->setValue(static_cast<double>(doneRow_ + 1) /
                                 static_cast<double>(doneRows_) * 100);
    form_.LblProgessCurrent->setText(QStringLiteral("Message ") + QString::number(doneRow_ + 1) +
                                     QStringLiteral(" (of ") + QString::number(doneRows_) +
                                     QLatin1Char(')'));
  }

  StepWindow& form_;
  const long rowCount_;
  int flushToken_;
  std::function<void()> outerStop_;  // a run this one was started inside of
  long converted_ = 0;
  bool asking_ = false;
  bool stopRequested_ = false;
  std::uint64_t textLength_ = 0;
  std::uint64_t fileLength_ = 0;
  bool lineValuesPending_ = false;
  long doneRow_ = 0;
  long doneRows_ = 1;
  bool rowValuesPending_ = false;
};

}  // namespace

double MessageReadPercent(std::uint64_t textLength, std::uint64_t fileLength) {
  if (fileLength == 0) return 100;
  const double percent = static_cast<double>(textLength) / static_cast<double>(fileLength) * 100;
  const int previous = std::fegetround();
  std::fesetround(FE_TONEAREST);
  const double rounded = std::nearbyint(percent);
  std::fesetround(previous);
  return rounded;
}

long GridRowSource::rowCount() {
  return form_.grdFiles1->Rows();
}

std::string GridRowSource::rowText(long row) {
  // A row that is gone (the list was cleared during the run) reads as empty and is passed over.
  return form_.grdFiles1->model().text(row, 0);
}

namespace {

// Messages kept with CR LF line ends read well in most mail programs but not in all; the window
// has no other line ends to offer, the command line has.
std::string lineEndNote(const RunSummary& summary) {
  if (summary.crLfMessages == 0) return {};
  return "\r\n" + std::to_string(summary.crLfMessages) +
         " message(s) kept CR LF line ends, which GNU mailutils cannot read (emlx2mbox --eol lf "
         "writes them with LF).";
}

}  // namespace

CompletionMessage CompletionMessageFor(const RunSummary& summary) {
  const bool failures = summary.failed > 0;
  if (!summary.stopped && !failures) {
    if (summary.converted == 0) {
      // Nothing was written, so nothing may be reported as exported.
      return {"There are no files in the list to convert.", kApplicationTitle, false};
    }
    return {
        "Export Completed Successfully !\r\nYour data has been successfully exported to .mbox "
        "format (Compatible for Entourage, Thunderbird, Eudora, Mac Mail)." +
            lineEndNote(summary),
        kCompletionCaption, false};
  }
  std::string text =
      summary.stopped ? "Converting was stopped.\r\n" : "Export finished with errors.\r\n";
  text += std::to_string(summary.converted) + " message(s) converted, " +
          std::to_string(summary.failed) + " message(s) failed";
  if (summary.stopped) {
    text += ", " + std::to_string(summary.notReached) + " message(s) not converted";
  }
  text += failures ? ":" : ".";
  const std::size_t shown = std::min(kFailuresShown, summary.failures.size());
  for (std::size_t i = 0; i < shown; ++i)
    text += "\r\n" + PrintableText(describe(summary.failures[i]));
  if (summary.failures.size() > shown) {
    text += "\r\n... and " + std::to_string(summary.failures.size() - shown) + " more.";
  }
  text += lineEndNote(summary);
  return {text, kCompletionCaption, failures};
}

void ConvertCommand(StepWindow& form) {
  WindowPlatform& platform = form.platform();
  std::string destination = BrowseForFolder(platform, "Choose Folder to Save...");
  if (destination.empty()) return;
  destination = AddSeparator(destination);
  form.DoEventsNow();
  form.ProgressBar1->setMin(0);
  form.ProgressBar1->setMax(100);
  form.EmlProgress->setMin(0);
  form.EmlProgress->setMax(100);

  GridRowSource rows(form);
  RunSummary summary;
  {
    WindowObserver observer(form, rows.rowCount());
    summary = RunConversion(rows, destination, observer);
    // The displays end on the run's final values, whenever the last repaint was.
    form.refreshDisplays();
  }
  const CompletionMessage message = CompletionMessageFor(summary);
  platform.messageBox({message.text, message.caption, MessageButtons::Ok,
                       message.failures ? MessageIcon::Exclamation : MessageIcon::Information,
                       MessageAnswer::Ok});
}

}  // namespace drovanta
