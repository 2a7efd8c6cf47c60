// The window program: one window, no arguments, no settings.
#include <QApplication>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "drovanta_version.h"
#include "window/ending_signals.h"
#include "window/frm_step1.h"
#include "window/qt_platform.h"

#ifdef _WIN32
#include <commctrl.h>
#include <windows.h>
#endif

namespace {

// The command-line tool beside this program, named to a user who has no desktop session.
std::string commandLineTool;

// The window while the event loop runs.
drovanta::frmStep1* runningWindow = nullptr;

// One line that says what is missing and what works without it, instead of Qt's advice to
// reinstall; then the status for a start that could not be made.
[[noreturn]] void endForWantOfADisplay() {
  std::fprintf(stderr,
               "drovanta-emlx2mbox: no display could be opened; the window needs a desktop "
               "session. The command line works without one: %s --help\n",
               commandLineTool.c_str());
  // Called from inside Qt's start-up too, where nothing may be unwound or destroyed.
  std::fflush(stderr);
  std::_Exit(2);
}

#if !defined(_WIN32) && !defined(__APPLE__)
bool isSet(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0';
}
#endif

// While Qt starts: a fatal message is a platform plugin that could not start, so a display that
// could not be opened; the platform plugins' warnings that come before it are dropped with it.
// Anything else Qt says while starting is kept.
void startUpMessages(QtMsgType type, const QMessageLogContext& context, const QString& message) {
  if (type == QtFatalMsg) endForWantOfADisplay();
  if (context.category != nullptr && QByteArray(context.category).startsWith("qt.qpa")) return;
  std::fprintf(stderr, "%s\n", qPrintable(message));
}

}  // namespace

int main(int argc, char** argv) {
  // First of all: a signal in the first milliseconds ends the program as a later one does.
  drovanta::EndingSignals::installFirst();
  const std::string program = argc > 0 ? argv[0] : "";
  const auto folderEnd = program.rfind('/');
  commandLineTool =
      folderEnd == std::string::npos ? "emlx2mbox" : program.substr(0, folderEnd + 1) + "emlx2mbox";
#ifdef _WIN32
  // With the manifest this lets the controls draw in the system's visual style.
  InitCommonControls();
#elif !defined(__APPLE__)
  // Without X11 or Wayland and with no platform asked for, Qt has nothing to open.
  if (!isSet("DISPLAY") && !isSet("WAYLAND_DISPLAY") && !isSet("QT_QPA_PLATFORM")) {
    endForWantOfADisplay();
  }
#endif
  const QtMessageHandler qtMessages = qInstallMessageHandler(startUpMessages);
  QApplication app(argc, argv);
  QApplication::setApplicationVersion(QStringLiteral(DROVANTA_VERSION));
  qInstallMessageHandler(qtMessages);
  drovanta::QtPlatform platform;
  drovanta::frmStep1 window(platform);
  platform.setOwner(&window);
  // A signal lets a running conversion complete the records being written before the process
  // ends as the signal ends it.
  drovanta::EndingSignals endingSignals([&window](int signal) {
    window.letConversionEnd();
    drovanta::EndingSignals::endAsSignalled(signal);
  });
  // Qt ends the process with exit() when the display connection breaks: a running conversion
  // completes its records first.
  runningWindow = &window;
  std::atexit([] {
    if (runningWindow == nullptr) return;
    if (drovanta::BusyCommand* command = runningWindow->busyCommand) command->end();
  });
  window.showCentred();
  const int status = app.exec();
  runningWindow = nullptr;
  return status;
}
