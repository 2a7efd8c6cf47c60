#include "window/qt_platform.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QLayout>
#include <QMessageBox>
#include <QScreen>
#include <QSettings>
#include <QStyle>
#include <QTextEdit>
#include <QUrl>
#include <QWindow>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <optional>

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

// The free area of the screen a dialog opens on, and the frame the window manager puts around
// it. The owner's frame stands in for the dialog's, which it gets only once shown.
struct ScreenRoom {
  QRect area;
  QMargins frame;
  QSize client() const { return area.size().shrunkBy(frame); }
};

std::optional<ScreenRoom> RoomFor(const QWidget* owner) {
  const QScreen* screen = owner != nullptr ? owner->screen() : QGuiApplication::primaryScreen();
  if (screen == nullptr) return std::nullopt;
  ScreenRoom room{screen->availableGeometry(), {}};
  if (owner != nullptr && owner->window()->windowHandle() != nullptr) {
    room.frame = owner->window()->windowHandle()->frameMargins();
  }
  return room;
}

// Moves the dialog, its frame included, within the area: first centred on its owner when asked,
// else from where it stands.
void PlaceWithin(QWidget& dialog, const QWidget* owner, const ScreenRoom& room, bool centre) {
  const QRect& area = room.area;
  QRect placed(dialog.pos(), dialog.size().grownBy(room.frame));
  if (centre) {
    placed.moveCenter(owner != nullptr ? owner->window()->frameGeometry().center() : area.center());
  }
  placed.moveLeft(
      std::max(area.left(), std::min(placed.left(), area.right() + 1 - placed.width())));
  placed.moveTop(std::max(area.top(), std::min(placed.top(), area.bottom() + 1 - placed.height())));
  dialog.move(placed.topLeft());
}

// A message box within the free area of its screen and as wide as its caption needs. Qt sizes a
// box afresh whenever its content changes, with no limit on its height, so the box is fitted
// after each time: a main text too tall for the screen keeps its first lines and the whole text
// goes under "Show Details...", with room left for the details to be shown.
class FittedMessageBox : public QMessageBox {
 public:
  FittedMessageBox(Icon icon, const QString& caption, const QString& text, StandardButtons buttons,
                   const QString& details, QWidget* owner)
      : QMessageBox(icon, caption, text, buttons, owner),
        owner_(owner),
        text_(text),
        details_(details) {
    setTextFormat(Qt::PlainText);
    if (!details.isEmpty()) setDetailedText(details);
  }

 protected:
  void showEvent(QShowEvent* event) override {
    room_ = RoomFor(owner_);
    if (room_) fitText();
    QMessageBox::showEvent(event);
    if (!room_) return;
    fitWidth();
    PlaceWithin(*this, owner_, *room_, true);
    fitted_ = true;
    for (QAbstractButton* button : buttons()) {
      if (buttonRole(button) != ActionRole || followsDetails_) continue;
      // Runs after the box has shown or hidden its details and sized itself anew.
      connect(button, &QAbstractButton::clicked, this, [this] {
        fitWidth();
        PlaceWithin(*this, owner_, *room_, false);
      });
      followsDetails_ = true;
    }
  }

  bool event(QEvent* event) override {
    // Once fitted the box keeps its size: Qt would size it afresh for the layout requests that
    // follow its showing, and a window manager that sees it change size twice while mapping it
    // may place it at the screen's corner.
    if (event->type() == QEvent::LayoutRequest && fitted_) return QDialog::event(event);
    return QMessageBox::event(event);
  }

 private:
  QWidget* detailsArea() const {
    const auto* edit = findChild<QTextEdit*>();
    return edit != nullptr ? edit->parentWidget() : nullptr;
  }

  // Each setText makes the box size itself for the text (once it is visible).
  void measure(const QString& text) {
    setText(text);
    fitWidth();
  }

  bool fits() const { return height() <= room_->client().height(); }

  void fitText() {
    QWidget* details = detailsArea();
    // Measured with the details shown, so that showing them later keeps the box on the screen.
    if (details != nullptr) details->show();
    measure(text_);
    if (!fits()) {
      setDetailedText(details_.isEmpty() ? text_ : text_ + QStringLiteral("\n\n") + details_);
      details = detailsArea();
      details->show();
      const QStringList lines = text_.split(QLatin1Char('\n'));
      qsizetype kept = 0;
      for (qsizetype tooMany = lines.size(); tooMany - kept > 1;) {
        const qsizetype tried = (kept + tooMany) / 2;
        measure(shortened(lines, tried));
        (fits() ? kept : tooMany) = tried;
      }
      text_ = shortened(lines, kept);
    }
    if (details != nullptr) details->hide();
    measure(text_);
    // The details were shown and hidden here, not by their button, whose label still offers to
    // hide them when the text was cut.
    for (QAbstractButton* button : buttons()) {
      if (buttonRole(button) == ActionRole) button->setText(QMessageBox::tr("Show Details..."));
    }
  }

  static QString shortened(const QStringList& lines, qsizetype kept) {
    return QStringList(lines.begin(), lines.begin() + kept).join(QLatin1Char('\n')) +
           (kept > 0 ? QStringLiteral("\n") : QString()) + QStringLiteral("... and ") +
           QString::number(lines.size() - kept) + QStringLiteral(" more lines under Show Details.");
  }

  // Wide enough for the caption, never wider than the screen; as high as the text then needs.
  void fitWidth() {
    const int width = std::min(std::max(this->width(), CaptionWidth(windowTitle(), *this)),
                               room_->client().width());
    if (width == this->width()) return;
    layout()->activate();
    setFixedSize(width, layout()->hasHeightForWidth() ? layout()->totalHeightForWidth(width)
                                                      : layout()->totalMinimumSize().height());
  }

  QWidget* owner_;
  QString text_;
  QString details_;
  std::optional<ScreenRoom> room_;
  bool followsDetails_ = false;
  bool fitted_ = false;
};

}  // namespace

void KeepWithinScreen(QWidget& dialog, const QWidget* owner) {
  const std::optional<ScreenRoom> room = RoomFor(owner);
  if (!room) return;
  dialog.setMaximumSize(room->client().expandedTo(dialog.minimumSize()));
  dialog.resize(dialog.sizeHint().boundedTo(room->client()));
  PlaceWithin(dialog, owner, *room, true);
}

int CaptionWidth(const QString& caption, const QWidget& window) {
  // Window managers draw the caption in a bold face of about the size of the window's title
  // font, beside the window's icon and buttons, each about as wide as the title bar is high.
  QFont font = QApplication::font("QMdiSubWindowTitleBar");
  font.setBold(true);
  const int titleBar = window.style()->pixelMetric(QStyle::PM_TitleBarHeight, nullptr, &window);
  return QFontMetrics(font).horizontalAdvance(caption) + 4 * titleBar;
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
  const auto lines = [](const std::string& text) {
    return fromUtf8(text).replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  };
  FittedMessageBox box(icon, fromUtf8(request.caption), lines(request.text), buttons,
                       lines(request.details), owner_);
  box.setDefaultButton(toStandard(request.defaultAnswer));
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
