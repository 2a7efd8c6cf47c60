#include "window/conversion_command.h"

#include <QDir>
#include <QLabel>
#include <QPushButton>
#include <algorithm>
#include <array>
#include <cfenv>
#include <cmath>
#include <filesystem>
#include <thread>
#include <utility>
#include <vector>

#include "shellutil/path_helpers.h"
#include "window/background_run.h"
#include "window/destination_folder.h"
#include "window/ending_signals.h"
#include "window/folder_picker.h"
#include "window/selected_files_list.h"
#include "window/step_window.h"
#include "window/window_layout.h"

namespace drovanta {
namespace {

constexpr const char* kCompletionCaption = "EMLX to MBOX Converter";
constexpr const char* kNothingToConvert = "There are no files in the list to convert.";
constexpr std::size_t kFailuresShown = 5;

void showBox(StepWindow& form, const std::string& text, const std::string& caption,
             MessageIcon icon, std::string details = {}) {
  form.platform().messageBox(
      {text, caption, MessageButtons::Ok, icon, MessageAnswer::Ok, std::move(details)});
}

// The folder the destination dialog opens in: the last destination used, else the home folder.
std::string startFolder(WindowPlatform& platform) {
  std::string folder = platform.setting(kLastDestinationSetting);
  std::error_code error;
  if (folder.empty() || !std::filesystem::is_directory(folder, error)) {
    folder = QDir::toNativeSeparators(QDir::homePath()).toStdString();
  }
  return folder;
}

// Asks for the destination until one lies outside the folders being converted; "" on cancel.
std::string askForDestination(StepWindow& form, const std::vector<std::string>& rows) {
  WindowPlatform& platform = form.platform();
  const FoldersBeingConverted sources = FoldersOfRun(form.addedFolders, rows);
  for (;;) {
    const std::string destination =
        BrowseForFolder(platform, "Choose Folder to Save...", startFolder(platform));
    if (destination.empty()) return {};
    const std::string holder = FolderHolding(destination, sources);
    if (holder.empty()) {
      platform.setSetting(kLastDestinationSetting, destination);
      return destination;
    }
    showBox(form,
            "The mailboxes cannot be saved in " + PrintableText(destination) + ":\r\nit lies in " +
                PrintableText(holder) +
                ", which is being converted. Please choose a folder outside it.",
            kApplicationTitle, MessageIcon::Exclamation);
  }
}

// While a run works, the commands that change the list or start a run are disabled; Escape,
// Help and Exit stay. Each control gets its state back afterwards, and the focus too.
class ControlsHeldDuringRun {
 public:
  explicit ControlsHeldDuringRun(StepWindow& form)
      : controls_{form.cmdAdd, form.CmdAddFolder, form.cmdClear1, form.CmdConvert2PDF} {
    for (std::size_t i = 0; i < controls_.size(); ++i) {
      enabled_[i] = controls_[i]->isEnabled();
      if (controls_[i]->hasFocus()) focused_ = controls_[i];
      controls_[i]->setEnabled(false);
    }
  }
  ~ControlsHeldDuringRun() {
    for (std::size_t i = 0; i < controls_.size(); ++i) controls_[i]->setEnabled(enabled_[i]);
    if (focused_ != nullptr && focused_->isEnabled()) focused_->setFocus(Qt::OtherFocusReason);
  }
  ControlsHeldDuringRun(const ControlsHeldDuringRun&) = delete;
  ControlsHeldDuringRun& operator=(const ControlsHeldDuringRun&) = delete;

 private:
  std::array<QPushButton*, 4> controls_;
  std::array<bool, 4> enabled_{};
  QPushButton* focused_ = nullptr;
};

// Puts a run's progress on the window's displays just before the window repaints, and answers
// Escape and the end of the program while the run works.
class RunDisplay {
 public:
  RunDisplay(StepWindow& form, BackgroundRun& run, long rowCount)
      : form_(form),
        run_(run),
        rowCount_(rowCount),
        flushToken_(form.addDisplayFlush([this] { show(run_.progress()); })) {
    form.askToStopConversion = [this] { askToStop(); };
    form.endConversion = [this] {
      run_.requestStop();
      run_.wait();
    };
    EndingSignals::setRunningStop(&run.stopRequest());
  }
  ~RunDisplay() {
    EndingSignals::setRunningStop(nullptr);
    form_.endConversion = nullptr;
    form_.askToStopConversion = nullptr;
    form_.removeDisplayFlush(flushToken_);
  }
  RunDisplay(const RunDisplay&) = delete;
  RunDisplay& operator=(const RunDisplay&) = delete;

  void show(const RunProgress& progress) {
    if (progress.version == shownVersion_) return;
    shownVersion_ = progress.version;
    form_.ProgressBar1->setValue(static_cast<double>(progress.ended) /
                                 static_cast<double>(rowCount_) * 100);
    form_.LblProgessCurrent->setText(QStringLiteral("Message ") + QString::number(progress.ended) +
                                     QStringLiteral(" (of ") + QString::number(rowCount_) +
                                     QLatin1Char(')'));
    if (!progress.busyMailbox.empty()) {
      form_.LblByteRead->setText(QStringLiteral("Waiting for another program to finish writing ") +
                                 QString::fromStdString(PrintableText(progress.busyMailbox)) +
                                 QStringLiteral("..."));
    } else if (progress.messageTold) {
      form_.LblByteRead->setText(
          QString::number(progress.bytesRead) + QStringLiteral(" Bytes out of ") +
          QString::number(progress.messageLength) + QStringLiteral(" Total Bytes."));
      form_.EmlProgress->setValue(
          std::clamp(MessageReadPercent(progress.bytesRead, progress.messageLength),
                     form_.EmlProgress->Min(), form_.EmlProgress->Max()));
    }
    FlexGrid& grid = *form_.grdFiles1;
    if (progress.latestRow >= 0 && progress.latestRow < grid.Rows()) {
      grid.setRow(progress.latestRow);
      grid.setCol(0);
    }
  }

 private:
  // The question and the displays under it tell the same moment of the run; it goes on
  // meanwhile, and a Yes stops it once the records being written are complete.
  void askToStop() {
    if (asking_ || run_.stopRequest().stopping()) return;
    asking_ = true;
    const RunProgress now = run_.progress();
    show(now);
    form_.grdFiles1->syncView();
    const MessageAnswer answer = form_.platform().messageBox(
        {"Stop converting? " + std::to_string(now.converted) + " of " + std::to_string(rowCount_) +
             " messages are converted.",
         kApplicationTitle, MessageButtons::YesNo, MessageIcon::Question, MessageAnswer::No});
    asking_ = false;
    if (answer == MessageAnswer::Yes) run_.requestStop();
  }

  StepWindow& form_;
  BackgroundRun& run_;
  const long rowCount_;
  int flushToken_;
  std::uint64_t shownVersion_ = ~std::uint64_t{0};  // none shown yet
  bool asking_ = false;
};

RunSummary convert(StepWindow& form, std::vector<std::string> rows,
                   const std::string& destination) {
  const long rowCount = static_cast<long>(rows.size());
  ControlsHeldDuringRun held(form);
  const unsigned jobs = std::max(1u, std::thread::hardware_concurrency());
  BackgroundRun run(std::move(rows), destination, jobs);
  RunDisplay display(form, run, rowCount);
  // This thread only shows the progress: at most one repaint per interval, and at once when
  // the run ends.
  while (!run.waitFor(form.yieldInterval())) form.DoEventsNow();
  RunSummary summary = run.summary();
  display.show(run.progress());
  form.refreshDisplays();
  return summary;
}

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
      return {kNothingToConvert, kApplicationTitle, false, {}};
    }
    return {
        "Export Completed Successfully !\r\nYour data has been successfully exported to .mbox "
        "format (Compatible for Entourage, Thunderbird, Eudora, Mac Mail)." +
            lineEndNote(summary),
        kCompletionCaption,
        false,
        {}};
  }
  std::string text =
      summary.stopped ? "Converting was stopped.\r\n" : "Export finished with errors.\r\n";
  text += std::to_string(summary.converted) + " message(s) converted, " +
          std::to_string(summary.failed) + " message(s) failed";
  if (summary.stopped) {
    text += ", " + std::to_string(summary.notReached) + " message(s) not converted";
  }
  text += failures ? ":" : ".";
  std::string details;
  for (std::size_t i = 0; i < summary.failures.size(); ++i) {
    const std::string line = PrintableText(describe(summary.failures[i]));
    if (i < kFailuresShown) text += "\r\n" + line;
    details += (i == 0 ? "" : "\r\n") + line;
  }
  if (summary.failures.size() > kFailuresShown) {
    text += "\r\n... and " + std::to_string(summary.failures.size() - kFailuresShown) + " more.";
  }
  text += lineEndNote(summary);
  return {text, kCompletionCaption, failures, details};
}

void ConvertCommand(StepWindow& form) {
  std::vector<std::string> rows = ListedPaths(form);
  if (rows.empty()) {
    return showBox(form, kNothingToConvert, kApplicationTitle, MessageIcon::Information);
  }
  const std::string destination = askForDestination(form, rows);
  if (destination.empty()) return;
  form.DoEventsNow();
  form.ProgressBar1->setMin(0);
  form.ProgressBar1->setMax(100);
  form.EmlProgress->setMin(0);
  form.EmlProgress->setMax(100);

  const RunSummary summary = convert(form, std::move(rows), AddSeparator(destination));
  const CompletionMessage message = CompletionMessageFor(summary);
  showBox(form, message.text, message.caption,
          message.failures ? MessageIcon::Exclamation : MessageIcon::Information, message.details);
}

}  // namespace drovanta
