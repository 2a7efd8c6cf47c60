#include "window/qt_platform.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QMessageBox>
#include <QScreen>
#include <QSettings>
#include <QUrl>
#include <QWindow>
#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "window/picked_files.h"

namespace drovanta {
namespace {

QString fromUtf8(const std::string& text) {
  return QString::fromStdString(text);
}

std::string toNative(const QString& path) {
  return QDir::toNativeSeparators(path).toStdString();
}

QMessageBox::StandardButton toStandard(MessageAnswer answer) {
  switch (answer) {
    case MessageAnswer::Yes:
      return QMessageBox::Yes;
    case MessageAnswer::No:
      return QMessageBox::No;
    case MessageAnswer::Cancel:
      return QMessageBox::Cancel;
    case MessageAnswer::Ok:
      break;
  }
  return QMessageBox::Ok;
}

}  // namespace

void KeepWithinScreen(QWidget& dialog, const QWidget* owner) {
  const QScreen* screen = owner != nullptr ? owner->screen() : QGuiApplication::primaryScreen();
  if (screen == nullptr) return;
  // The owner's frame stands in for the dialog's, which the window manager adds only once shown.
  QMargins frame;
  if (owner != nullptr && owner->window()->windowHandle() != nullptr) {
    frame = owner->window()->windowHandle()->frameMargins();
  }
  const QRect area = screen->availableGeometry();
  const QSize room = area.size().shrunkBy(frame);
  dialog.setMaximumSize(room.expandedTo(dialog.minimumSize()));
  const QSize size = dialog.sizeHint().boundedTo(room);
  dialog.resize(size);
  // Centred on the owner, its frame moved inside the area where it would stand outside.
  QRect placed(QPoint(), size.grownBy(frame));
  placed.moveCenter(owner != nullptr ? owner->window()->frameGeometry().center() : area.center());
  placed.moveLeft(
      std::max(area.left(), std::min(placed.left(), area.right() + 1 - placed.width())));
  placed.moveTop(std::max(area.top(), std::min(placed.top(), area.bottom() + 1 - placed.height())));
  dialog.move(placed.topLeft());
}

QString QtNameFilter(const std::string& filter) {
  const QStringList parts = fromUtf8(filter).split(QLatin1Char('|'));
  QStringList filters;
  for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
    const QString& description = parts[i];
    const QString patterns = QString(parts[i + 1]).replace(QLatin1Char(';'), QLatin1Char(' '));
    // Qt reads the patterns from the parentheses; a description that shows them already is kept.
    filters << (description.contains(QLatin1Char('(') + patterns + QLatin1Char(')'))
                    ? description
                    : description + QStringLiteral(" (") + patterns + QLatin1Char(')'));
  }
  return filters.join(QStringLiteral(";;"));
}

std::string QtPlatform::browseForFolder(const std::string& title, const std::string& startFolder) {
  QFileDialog dialog(owner_, fromUtf8(title), fromUtf8(startFolder));
  dialog.setFileMode(QFileDialog::Directory);
  dialog.setOption(QFileDialog::ShowDirsOnly);
  KeepWithinScreen(dialog, owner_);
  if (dialog.exec() != QDialog::Accepted) return {};
  const QString folder = dialog.selectedFiles().value(0);
  return folder.isEmpty() ? std::string() : toNative(folder);
}

OpenFileResult QtPlatform::showOpen(const OpenFileRequest& request) {
  QFileDialog dialog(owner_, QString(), QString(), QtNameFilter(request.filter));
  dialog.setFileMode(QFileDialog::ExistingFiles);
  if (!request.fileName.empty()) dialog.selectFile(fromUtf8(request.fileName));
  KeepWithinScreen(dialog, owner_);
  const QStringList picked =
      dialog.exec() == QDialog::Accepted ? dialog.selectedFiles() : QStringList();
  std::vector<std::string> paths;
  paths.reserve(static_cast<std::size_t>(picked.size()));
  for (const auto& path : picked) paths.push_back(toNative(path));
  return PickedFilesResult(paths);
}

MessageAnswer QtPlatform::messageBox(const MessageBoxRequest& request) {
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  switch (request.icon) {
    case MessageIcon::Information:
      icon = QMessageBox::Information;
      break;
    case MessageIcon::Question:
      icon = QMessageBox::Question;
      break;
    case MessageIcon::Exclamation:
      icon = QMessageBox::Warning;
      break;
    case MessageIcon::None:
      break;
  }
  QMessageBox::StandardButtons buttons = QMessageBox::Ok;
  if (request.buttons == MessageButtons::YesNo) buttons = QMessageBox::Yes | QMessageBox::No;
  if (request.buttons == MessageButtons::YesNoCancel) {
    buttons = QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
  }
  QString text = fromUtf8(request.text);
  text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  QMessageBox box(icon, fromUtf8(request.caption), text, buttons, owner_);
  box.setDefaultButton(toStandard(request.defaultAnswer));
  if (!request.details.empty()) {
    box.setDetailedText(
        fromUtf8(request.details).replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
  }
  // The pointer shows the arrow over the box even while a command shows the hourglass.
  if (hourglass_) QApplication::setOverrideCursor(Qt::ArrowCursor);
  const int answer = box.exec();
  if (hourglass_) QApplication::restoreOverrideCursor();
  switch (answer) {
    case QMessageBox::Yes:
      return MessageAnswer::Yes;
    case QMessageBox::No:
      return MessageAnswer::No;
    default:
      // A Yes/No box closed by its title bar counts as No, a Yes/No/Cancel box as Cancel; an OK
      // box can only be acknowledged.
      if (request.buttons == MessageButtons::YesNoCancel) return MessageAnswer::Cancel;
      return request.buttons == MessageButtons::YesNo ? MessageAnswer::No : MessageAnswer::Ok;
  }
}

void QtPlatform::doEvents() {
  QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void QtPlatform::setMousePointer(MousePointer pointer) {
  const bool hourglass = pointer == MousePointer::Hourglass;
  if (hourglass == hourglass_) return;
  hourglass_ = hourglass;
  if (hourglass) {
    QApplication::setOverrideCursor(Qt::WaitCursor);
  } else {
    QApplication::restoreOverrideCursor();
  }
}

bool QtPlatform::shellOpen(const std::string& target) {
  return QDesktopServices::openUrl(QUrl(fromUtf8(target)));
}

void QtPlatform::endProgram() {
  // The window has let any running conversion end before it calls this: no command code may
  // run after this point.
  std::fflush(nullptr);
  std::_Exit(0);
}

namespace {
QSettings userSettings() {
  return QSettings(QStringLiteral("Drovanta"), QStringLiteral("EMLX to MBOX Converter"));
}
}  // namespace

std::string QtPlatform::setting(const std::string& key) {
  return userSettings().value(fromUtf8(key)).toString().toStdString();
}

void QtPlatform::setSetting(const std::string& key, const std::string& value) {
  QSettings settings = userSettings();
  settings.setValue(fromUtf8(key), fromUtf8(value));
}

}  // namespace drovanta
