#include "window/conversion_command.h"

#include <QCheckBox>
#include <QDir>
#include <QLabel>
#include <QPushButton>
#include <algorithm>
#include <cfenv>
#include <cmath>
#include <filesystem>
#include <future>
#include <thread>
#include <utility>
#include <vector>

#include "mbox/apple_mailbox_naming.h"
#include "run/already_there.h"
#include "run/destination_check.h"
#include "shellutil/path_helpers.h"
#include "window/background_run.h"
#include "window/completion_message.h"
#include "window/conversion_options.h"
#include "window/ending_signals.h"
#include "window/folder_picker.h"
#include "window/held_controls.h"
#include "window/selected_files_list.h"
#include "window/step_window.h"
#include "window/window_layout.h"

namespace drovanta {
namespace {

void showBox(WindowPlatform& platform, const std::string& text, const std::string& caption,
             MessageIcon icon, std::string details = {}) {
  platform.messageBox(
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

// Asks for the destination until the run would write nothing into the folders being
// converted (`sources`, its mailboxes named with Apple Mail names or not, for `program`) and
// can write into it; "" on cancel.
std::string askForDestination(WindowPlatform& platform, const FoldersBeingConverted& sources,
                              bool appleNames, MailProgram program) {
  // Only the naming matters here; one message of each folder tells where its mailbox goes.
  RunOptions naming;
  if (appleNames || program != MailProgram::Any) {
    naming.placer = PlanAppleLayout(sources.oneMessageEach, program).placer;
  }
  for (;;) {
    const std::string destination =
        BrowseForFolder(platform, "Choose Folder to Save...", startFolder(platform));
    if (destination.empty()) return {};
    const auto written = FindSourceWrittenInto(destination, sources, naming);
    if (!written) {
      // A folder the run cannot write into is refused now, not by every message of the run.
      if (const MaybeFailure failure = TryWritingInto(destination)) {
        showBox(platform,
                "The mailboxes cannot be saved in " + PrintableText(destination) + ":\r\n" +
                    PrintableText(failure->reason) + ". Please choose another folder.",
                kApplicationTitle, MessageIcon::Exclamation);
        continue;
      }
      platform.setSetting(kLastDestinationSetting, destination);
      return destination;
    }
    const std::string why = written->messagesOf.empty()
                                ? "it lies in " + PrintableText(written->source) +
                                      ", which is being converted. Please choose a folder "
                                      "outside it."
                                : "the mailboxes of " + PrintableText(written->messagesOf) +
                                      " would be saved in " + PrintableText(written->source) +
                                      ", which is being converted. Please choose another folder.";
    showBox(platform,
            "The mailboxes cannot be saved in " + PrintableText(destination) + ":\r\n" + why,
            kApplicationTitle, MessageIcon::Exclamation);
  }
}

// The controls a run's progress is shown on, and the platform its questions are asked through.
struct RunDisplays {
  PreciseProgressBar& overall;  // the run's progress
  PreciseProgressBar& message;  // the latest message's
  QLabel& current;              // "Message N (of M)"
  QLabel& bytes;                // the bytes of the latest message, or a wait for a mailbox
  FlexGrid& list;               // its current row follows the run
  WindowPlatform& platform;
};

RunDisplays displaysOf(StepWindow& form) {
  return {*form.ProgressBar1, *form.EmlProgress, *form.LblProgessCurrent,
          *form.LblByteRead,  *form.grdFiles1,   form.platform()};
}

// Puts a run's progress on the window's displays just before the window repaints, and answers
// Escape, the exit question and the end of the program while the run works.
class RunDisplay : public BusyCommand {
 public:
  RunDisplay(RunDisplays displays, BackgroundRun& run, const WindowRunPlan& plan,
             const std::string& destination)
      : shown_(displays),
        run_(run),
        plan_(plan),
        destination_(destination),
        rowCount_(static_cast<long>(plan.rows.size())) {
    EndingSignals::setRunningStop(&run.stopRequest());
  }
  ~RunDisplay() override { EndingSignals::setRunningStop(nullptr); }
  RunDisplay(const RunDisplay&) = delete;
  RunDisplay& operator=(const RunDisplay&) = delete;

  void escape() override { askToStop(); }
  void holdForQuestion(bool held) override {
    if (held) {
      // The displays under the question show where the run stands still.
      run_.stopRequest().hold();
      show(settledProgress());
      shown_.list.syncView();
    } else {
      run_.stopRequest().release();
    }
  }
  void end() override {
    run_.requestStop();
    run_.wait();
  }
  void showProgress() override { show(run_.progress()); }

  void show(const RunProgress& progress) {
    if (progress.version == shownVersion_) return;
    shownVersion_ = progress.version;
    shown_.overall.setValue(static_cast<double>(progress.ended) / static_cast<double>(rowCount_) *
                            100);
    QString current = QStringLiteral("Message ") + QString::number(progress.ended) +
                      QStringLiteral(" (of ") + QString::number(rowCount_) + QLatin1Char(')');
    // With Apple Mail names, the mailbox as its owner knows it.
    if (plan_.options.placer && progress.latestRow >= 0) {
      const std::string& row = plan_.rows[static_cast<std::size_t>(progress.latestRow)];
      const std::string mailbox =
          PlaceForMessage(plan_.options, destination_, MessagePathOfRow(row)).mailboxPath;
      current += QStringLiteral(": ") +
                 QString::fromStdString(PrintableText(MailboxNameAsSeen(plan_, mailbox)));
    }
    shown_.current.setText(current);
    if (!progress.busyMailbox.empty()) {
      shown_.bytes.setText(
          QStringLiteral("Waiting for another program to finish writing ") +
          QString::fromStdString(PrintableText(MailboxNameAsSeen(plan_, progress.busyMailbox))) +
          QStringLiteral("..."));
    } else if (progress.messageTold) {
      shown_.bytes.setText(QString::number(progress.bytesRead) + QStringLiteral(" Bytes out of ") +
                           QString::number(progress.messageLength) +
                           QStringLiteral(" Total Bytes."));
      shown_.message.setValue(
          std::clamp(MessageReadPercent(progress.bytesRead, progress.messageLength),
                     shown_.message.Min(), shown_.message.Max()));
    }
    FlexGrid& grid = shown_.list;
    const long listRow =
        progress.latestRow >= 0 ? plan_.listRows[static_cast<std::size_t>(progress.latestRow)] : -1;
    if (listRow >= 0 && listRow < grid.Rows()) {
      grid.setRow(listRow);
      grid.setCol(0);
    }
  }

 private:
  // The run takes no new message while the question is open, so the question, the displays
  // under it and the mailboxes tell the same moment; No lets it go on, Yes stops it.
  void askToStop() {
    if (asking_ || run_.stopRequest().stopping()) return;
    asking_ = true;
    run_.stopRequest().hold();
    const RunProgress now = settledProgress();
    show(now);
    shown_.list.syncView();
    const MessageAnswer answer = shown_.platform.messageBox(
        {"Stop converting? " + std::to_string(now.converted) + " of " + std::to_string(rowCount_) +
             " messages are converted.",
         kApplicationTitle, MessageButtons::YesNo, MessageIcon::Question, MessageAnswer::No});
    asking_ = false;
    if (answer == MessageAnswer::Yes) run_.requestStop();
    run_.stopRequest().release();
  }

  // The progress once the records being written are complete and told: between messages and
  // unchanged for a moment, or the run has ended. A record of a large message may take longer
  // than the few seconds waited for; it is told later.
  RunProgress settledProgress() {
    constexpr auto kStill = std::chrono::milliseconds(30);
    RunProgress now = run_.progress();
    for (int look = 0; look < 100; ++look) {
      if (run_.waitFor(kStill)) return run_.progress();
      RunProgress later = run_.progress();
      if (later.version == now.version && later.betweenMessages) return later;
      now = std::move(later);
    }
    return now;
  }

  RunDisplays shown_;
  BackgroundRun& run_;
  const WindowRunPlan& plan_;
  const std::string& destination_;
  const long rowCount_;
  std::uint64_t shownVersion_ = ~std::uint64_t{0};  // none shown yet
  bool asking_ = false;
};

// While the destination is counted, Escape cancels the count, and closing the window asks as
// during a run: to the user the count is the start of the run (controls held, hourglass), though
// nothing is written yet. A cancel, or unwinding, ends the count at its next row.
class DestinationCount : public BusyCommand {
 public:
  DestinationCount(StopRequest& cancel, std::future<AlreadyThereCount>& counting)
      : cancel_(cancel), counting_(counting) {}
  ~DestinationCount() override { cancel_.request(0); }
  DestinationCount(const DestinationCount&) = delete;
  DestinationCount& operator=(const DestinationCount&) = delete;

  void escape() override { cancel_.request(0); }
  void end() override {
    cancel_.request(0);
    if (counting_.valid()) counting_.wait();
  }

 private:
  StopRequest& cancel_;
  std::future<AlreadyThereCount>& counting_;
};

// When the destination already holds some of the messages (a run stopped half-way, or an
// older copy of the library), asks whether to add only the new ones: Yes sets the plan's
// newOnly, No adds them all again, Cancel or Escape during the count (false) ends the command.
bool askWhetherNewOnly(StepWindow& form, WindowRunPlan& plan, const std::string& destination) {
  WindowPlatform& platform = form.platform();
  AlreadyThereCount there;
  {
    // Existing mailboxes may be large: they are read on a thread of their own while the window
    // repaints, its commands held as during a run.
    platform.setMousePointer(MousePointer::Hourglass);
    StopRequest cancel;
    RunOptions options = plan.options;
    options.stop = &cancel;
    auto counting = std::async(std::launch::async, [&plan, &destination, &options] {
      return CountAlreadyThere(plan.rows, destination, options);
    });
    DestinationCount count(cancel, counting);
    HeldControls held(form, Busy::Counting, &count);
    while (counting.wait_for(form.yieldInterval()) != std::future_status::ready) form.DoEvents();
    there = counting.get();
    platform.setMousePointer(MousePointer::Default);
  }
  if (there.stopped) return false;
  if (there.messages == 0) return true;
  const MessageAnswer answer = platform.messageBox(
      {"The destination already holds " + std::to_string(there.messages) +
           " of these messages. Add only the new ones?",
       kApplicationTitle, MessageButtons::YesNoCancel, MessageIcon::Question, MessageAnswer::Yes});
  if (answer == MessageAnswer::Cancel) return false;
  plan.options.newOnly = answer == MessageAnswer::Yes;
  return true;
}

RunSummary convert(StepWindow& form, const WindowRunPlan& plan, const std::string& destination,
                   RunNotices& notices) {
  const unsigned jobs = std::max(1u, std::thread::hardware_concurrency());
  BackgroundRun run(plan.rows, destination, jobs, plan.options);
  RunDisplay display(displaysOf(form), run, plan, destination);
  HeldControls held(form, Busy::Converting, &display);
  // This thread only shows the progress: at most one repaint per interval, and at once when
  // the run ends.
  while (!run.waitFor(form.yieldInterval())) form.DoEventsNow();
  RunSummary summary = run.summary();
  notices = run.notices();
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

void ConvertCommand(StepWindow& form) {
  std::vector<std::string> rows = ListedPaths(*form.grdFiles1);
  if (rows.empty()) {
    return showBox(form.platform(), kNothingToConvert, kApplicationTitle, MessageIcon::Information);
  }
  const std::string chosen =
      askForDestination(form.platform(), FoldersOfRun(form.addedFolders, rows),
                        form.chkAppleNames->isChecked(), ChosenMailProgram(*form.cboMailProgram));
  if (chosen.empty()) return;
  const std::string destination = AddSeparator(chosen);
  WindowRunPlan plan = PlanWindowRun(*form.chkAppleNames, *form.chkKeepState, *form.cboMailProgram,
                                     std::move(rows), destination);
  if (!askWhetherNewOnly(form, plan, destination)) return;
  form.DoEventsNow();
  form.ProgressBar1->setMin(0);
  form.ProgressBar1->setMax(100);
  form.EmlProgress->setMin(0);
  form.EmlProgress->setMax(100);

  RunNotices notices;
  RunSummary summary = convert(form, plan, destination, notices);
  if (plan.finish) {
    for (Failure& failure : plan.finish(destination, summary.mailboxes)) {
      summary.failures.push_back(std::move(failure));
      ++summary.failed;
    }
  }
  notices.warnings.insert(notices.warnings.begin(), plan.warnings.begin(), plan.warnings.end());
  CompletionMessage message = CompletionMessageFor(
      summary, notices, [&](const std::string& path) { return MailboxNameAsSeen(plan, path); });
  if (const std::string next = NextStepFor(plan.program, destination); !next.empty()) {
    message.text += "\r\n\r\n" + next;
  }
  showBox(form.platform(), message.text, message.caption,
          message.failures ? MessageIcon::Exclamation : MessageIcon::Information, message.details);
}

}  // namespace drovanta
