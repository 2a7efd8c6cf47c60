// The window program: one window, no arguments, no settings.
#include <QApplication>

#include "window/frm_step1.h"
#include "window/qt_platform.h"

#ifdef _WIN32
#include <commctrl.h>
#include <windows.h>
#endif

int main(int argc, char** argv) {
#ifdef _WIN32
  // With the manifest this lets the controls draw in the system's visual style.
  InitCommonControls();
#endif
  QApplication app(argc, argv);
  drovanta::QtPlatform platform;
  drovanta::frmStep1 window(platform);
  platform.setOwner(&window);
  window.showCentred();
  return app.exec();
}
