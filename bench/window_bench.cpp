// Drives the window's own add-folder and Convert commands offscreen and compares them with
// baselines measured in the same run: the Convert command against the command line with its
// default jobs on the same trees (the realistic tree of bench/run-bench.sh and 50,000 messages
// of 5 KB made here), and adding 100,000 found files against the folder walk alone.
//
//   window_bench [REALISTIC_TREE [EMLX2MBOX [WORK]]]
#include <unistd.h>

#include <QApplication>
#include <QCheckBox>
#include <QProcess>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "selection/path_logger.h"
#include "window/frm_step1.h"
#include "window/scripted_platform.h"

namespace fs = std::filesystem;
using drovanta::frmStep1;
using drovanta::ScriptedPlatform;

namespace {

constexpr int kRounds = 5;
constexpr double kConvertTarget = 1.15;
constexpr double kAddTarget = 1.0;

double secondsOf(const std::function<void()>& work) {
  const auto start = std::chrono::steady_clock::now();
  work();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

// Best of kRounds after a warm-up round that fills the page cache.
double bestOf(const std::function<void()>& work) {
  double best = 1e300;
  for (int round = 0; round < kRounds + 1; ++round) {
    const double seconds = secondsOf(work);
    if (round > 0) best = std::min(best, seconds);
  }
  return best;
}

// Made once and kept, with a mark that it is complete.
void makeOnce(const fs::path& root, const std::function<void()>& make) {
  const fs::path done = root / ".complete";
  if (fs::exists(done)) return;
  fs::remove_all(root);
  make();
  std::ofstream{done};
}

// 100,000 empty message files in 100 folders.
void makeManyFiles(const fs::path& root) {
  makeOnce(root, [&] {
    for (int folder = 0; folder < 100; ++folder) {
      const fs::path dir = root / ("Box" + std::to_string(folder)) / "Messages";
      fs::create_directories(dir);
      for (int file = 0; file < 1000; ++file) {
        std::ofstream(dir / (std::to_string(folder * 1000 + file) + ".emlx"));
      }
    }
  });
}

// 50,000 .emlx files of 5 KB (count line, message with LF line ends, property list) in 50
// mailboxes of 1,000.
void makeSmallMessages(const fs::path& root) {
  makeOnce(root, [&] {
    const std::string line = "The quarterly figures are attached as discussed on Monday.\n";
    for (int folder = 0; folder < 50; ++folder) {
      const fs::path dir = root / ("Box" + std::to_string(folder) + ".mbox") / "Messages";
      fs::create_directories(dir);
      for (int file = 0; file < 1000; ++file) {
        const int number = folder * 1000 + file;
        std::string message = "From: Ann Example <ann" + std::to_string(number % 97) +
                              "@example.org>\nTo: bob@example.com\nSubject: Report " +
                              std::to_string(number) +
                              "\nDate: Mon, 7 Dec 2026 10:15:00 +0100\nMessage-ID: <" +
                              std::to_string(number) + "@example.org>\n\n";
        while (message.size() + line.size() < 5000) message += line;
        std::ofstream out(dir / (std::to_string(number) + ".emlx"), std::ios::binary);
        out << message.size() << "\n"
            << message
            << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n<dict>\n"
               "\t<key>flags</key>\n\t<integer>8590195713</integer>\n</dict>\n</plist>\n";
      }
    }
  });
}

std::uintmax_t bytesBelow(const fs::path& root) {
  std::uintmax_t total = 0;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    if (entry.is_regular_file()) total += entry.file_size();
  }
  return total;
}

struct ConvertFigures {
  long rows = 0;
  double window = 0;   // median seconds
  double command = 0;  // median seconds
  double windowBest = 0;
  double commandBest = 0;
  bool sameBytes = false;
};

// The window's Convert on the tree's list, against `emlx2mbox -o DEST TREE` with its default
// jobs and the options the window's check boxes stand for, alternating round by round so that a
// change in the machine's load meets both.
ConvertFigures compareConvert(const fs::path& tree, const QString& cli, const fs::path& work) {
  ScriptedPlatform platform;
  frmStep1 form(platform);
  form.show();
  platform.queueFolder(tree.string());
  form.CmdAddFolder_Click();
  ConvertFigures figures;
  figures.rows = form.grdFiles1->Rows();
  // The command line converts as the window's two check boxes say, so both write the same.
  QStringList options{"-q"};
  if (form.chkAppleNames->isChecked())
    options << "--layout"
            << "apple";
  if (form.chkKeepState->isChecked()) options << "--flags";

  const fs::path windowOut = work / "window-mbox";
  const fs::path cliOut = work / "cli-mbox";
  std::vector<double> window, command;
  for (int round = 0; round < kRounds + 1; ++round) {
    // Each run starts with the previous run's output written back, so that neither pays for
    // the other's.
    fs::remove_all(windowOut);
    ::sync();
    platform.queueFolder(windowOut.string());
    const double windowSeconds = secondsOf([&] { form.CmdConvert2PDF_Click(); });
    fs::remove_all(cliOut);
    ::sync();
    const double commandSeconds = secondsOf([&] {
      QProcess run;
      run.setStandardErrorFile(QProcess::nullDevice());  // its summary line
      run.start(cli, QStringList(options) << "-o" << QString::fromStdString(cliOut.string())
                                          << QString::fromStdString(tree.string()));
      run.waitForFinished(-1);
    });
    if (round == 0) continue;  // warm-up: fills the page cache
    window.push_back(windowSeconds);
    command.push_back(commandSeconds);
  }
  figures.window = median(window);
  figures.command = median(command);
  figures.windowBest = *std::min_element(window.begin(), window.end());
  figures.commandBest = *std::min_element(command.begin(), command.end());
  figures.sameBytes = bytesBelow(windowOut) == bytesBelow(cliOut);
  fs::remove_all(windowOut);
  fs::remove_all(cliOut);
  return figures;
}

bool report(const char* name, const ConvertFigures& figures) {
  const double ratio = figures.window / figures.command;
  std::printf(
      "%s, %ld messages: window Convert %.3f s, emlx2mbox %.3f s (medians of %d alternating "
      "rounds; best %.3f and %.3f s); mailboxes %s\n",
      name, figures.rows, figures.window, figures.command, kRounds, figures.windowBest,
      figures.commandBest, figures.sameBytes ? "of the same size" : "DIFFER");
  std::printf("  ratio window/command line: %.3f (best/best %.3f; target <= %.2f: %s)\n", ratio,
              figures.windowBest / figures.commandBest, kConvertTarget,
              ratio <= kConvertTarget ? "met" : "MISSED");
  return ratio <= kConvertTarget && figures.sameBytes;
}

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  const fs::path tree = argc > 1 ? fs::path(argv[1]) : fs::path(DROVANTA_BENCH_TREE);
  const QString cli = QString::fromLocal8Bit(argc > 2 ? argv[2] : DROVANTA_EMLX2MBOX);
  const fs::path work = argc > 3 ? fs::path(argv[3]) : tree.parent_path();
  if (!fs::is_directory(tree)) {
    std::fprintf(stderr, "window_bench: %s: no tree there (bench/run-bench.sh makes it)\n",
                 tree.c_str());
    return 2;
  }

  bool met = report("realistic tree", compareConvert(tree, cli, work));
  const fs::path small = work / "small-5k";
  makeSmallMessages(small);
  met = report("5 KB messages", compareConvert(small, cli, work)) && met;

  // Adding 100,000 found files, against the walk that finds them.
  const fs::path many = work / "many-files";
  makeManyFiles(many);
  const double walkSeconds = bestOf([&] {
    drovanta::pathLogger scanner;
    scanner.PathLogInit();
    scanner.fullFileNamesOnly(true);
    scanner.LogPath(many.string() + "/");
    scanner.Terminate();
  });
  long added = 0;
  const double addSeconds = bestOf([&] {
    ScriptedPlatform addPlatform;
    frmStep1 addForm(addPlatform);
    addForm.show();
    addPlatform.queueFolder(many.string());
    addForm.CmdAddFolder_Click();
    added = addForm.grdFiles1->Rows();
  });
  std::printf(
      "add-folder of %ld files: %.3f s, best of %d (target < %.0f s: %s); the walk alone %.3f s, "
      "ratio %.2f\n",
      added, addSeconds, kRounds, kAddTarget, addSeconds < kAddTarget ? "met" : "MISSED",
      walkSeconds, addSeconds / walkSeconds);
  return met && addSeconds < kAddTarget ? 0 : 1;
}
