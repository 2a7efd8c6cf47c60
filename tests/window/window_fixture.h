#pragma once

#include <QApplication>
#include <QProcess>
#include <QPushButton>
#include <QTest>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "window/frm_step1.h"
#include "window/scripted_platform.h"

namespace drovanta::testing {

// A real main window, shown offscreen, over a scripted platform. Every DoEvents yields, so a
// scripted action runs at the first yield after its condition holds.
struct WindowFixture {
  ScriptedPlatform platform;
  std::unique_ptr<frmStep1> form;

  WindowFixture() {
    form = std::make_unique<frmStep1>(platform);
    form->setYieldInterval(std::chrono::microseconds(0));
    form->showCentred();
    QApplication::processEvents();
  }

  // A mouse click on the button, as the user gives it.
  static void click(QPushButton* button) { QTest::mouseClick(button, Qt::LeftButton); }

  std::vector<std::string> listEntries() const {
    std::vector<std::string> entries;
    for (long row = 0; row < form->grdFiles1->Rows(); ++row) {
      entries.push_back(form->grdFiles1->model().text(row, 0));
    }
    return entries;
  }

  std::string countText() const { return form->lblCount1->text().toStdString(); }
};

// The messages of a mailbox file as Python's mailbox module reads them: for each, its separator
// line and its Subject, one "from|subject" line each. Empty when the file cannot be read.
inline std::vector<std::string> readMailbox(const std::filesystem::path& file) {
  QProcess python;
  python.start(QStringLiteral(DROVANTA_PYTHON),
               {QStringLiteral("-c"),
                QStringLiteral("import mailbox,sys\n"
                               "for m in mailbox.mbox(sys.argv[1], create=False):\n"
                               "    print(m.get_from() + '|' + str(m['Subject']))\n"),
                QString::fromStdString(file.string())});
  python.waitForFinished(30000);
  std::vector<std::string> lines;
  if (python.exitCode() != 0) return lines;
  for (const QByteArray& line : python.readAllStandardOutput().split('\n')) {
    if (!line.isEmpty()) lines.push_back(line.toStdString());
  }
  return lines;
}

}  // namespace drovanta::testing
