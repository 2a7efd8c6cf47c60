#include "window/frm_step1.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QPainter>
#include <QScreen>
#include <QShortcut>
#include <QStyle>
#include <QTimer>
#include <QUrl>
#include <QWindow>
#include <ctime>
#include <exception>
#include <map>
#include <memory>

#include "window/add_files_command.h"
#include "window/add_folder_command.h"
#include "window/artwork.h"
#include "window/colour_contrast.h"
#include "window/conversion_command.h"
#include "window/conversion_options.h"
#include "window/drop_command.h"
#include "window/folder_picker.h"
#include "window/held_controls.h"
#include "window/list_drop_target.h"
#include "window/selected_files_list.h"
#include "window/window_placement.h"

namespace drovanta {
namespace {

// A filled rectangle with a one-pixel border, drawn beneath the other controls.
class ShapeRectangle : public QWidget {
 public:
  ShapeRectangle(QColor fill, QColor border, QWidget* parent)
      : QWidget(parent), fill_(fill), border_(border) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    painter.fillRect(rect(), fill_);
    painter.setPen(border_);
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
  }

 private:
  QColor fill_;
  QColor border_;
};

// Enter presses the focused button, as Space does; no button is the window's default, so
// nothing else answers Enter.
class EnterPressesButton : public QObject {
 public:
  using QObject::QObject;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() != QEvent::KeyPress) return false;
    const auto* key = static_cast<QKeyEvent*>(event);
    const bool enter = key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter;
    if (!enter || key->isAutoRepeat() || (key->modifiers() & ~Qt::KeypadModifier)) return false;
    auto* button = qobject_cast<QPushButton*>(watched);
    if (button == nullptr || !button->isEnabled()) return false;
    button->click();
    return true;
  }
};

// A position or length of the fixed layout moved or grown by a change of its container's size.
int movedBy(int position, int change, Anchor anchor) {
  if (anchor == Anchor::Far) return position + change;
  if (anchor == Anchor::Centre) return position + change / 2;
  return position;
}

int grownBy(int length, int change, Anchor anchor) {
  return anchor == Anchor::Stretch ? length + change : length;
}

QColor toColour(Rgb colour) {
  return QColor((colour >> 16) & 0xff, (colour >> 8) & 0xff, colour & 0xff);
}

QFont fontFor(ControlFont font) {
  // Tahoma (or, for the window's own font, MS Sans Serif) where installed; else the nearest
  // sans-serif faces by width, so the texts fit the fixed layout.
  QFont result;
  const QStringList standIns = {QStringLiteral("Liberation Sans"), QStringLiteral("Arial"),
                                QStringLiteral("DejaVu Sans Condensed")};
  result.setFamilies(QStringList{font == ControlFont::Window ? QStringLiteral("MS Sans Serif")
                                                             : QStringLiteral("Tahoma")} +
                     standIns);
  result.setStyleHint(QFont::SansSerif);
  result.setPointSizeF(font == ControlFont::Title ? 14.25 : 8.25);
  result.setWeight(font == ControlFont::Bold || font == ControlFont::Title ? QFont::Bold
                                                                           : QFont::Normal);
  return result;
}

// The guide installed with the program (share/doc under the program's prefix) as a file
// address; the web address where there is none, as in a build folder.
std::string HelpTarget() {
  const QFileInfo guide(QCoreApplication::applicationDirPath() + "/" DROVANTA_INSTALLED_GUIDE);
  if (!guide.isFile()) return kHelpAddress;
  return QUrl::fromLocalFile(guide.canonicalFilePath()).toString().toStdString();
}

}  // namespace

frmStep1::frmStep1(WindowPlatform& platform, QWidget* parent)
    : QWidget(parent), platform_(platform) {
  setObjectName(QStringLiteral("frmStep1"));
  setWindowTitle(QString::fromUtf8(kApplicationTitle));
  setWindowIcon(ProgramIcon());
  setFont(fontFor(ControlFont::Window));
  // The layout is fixed: the client area keeps its size and no control moves, unless the
  // window does not fit its screen (placeWithin).
  fixedSize_ = QSize(TwipsToPixels(kClientWidth), TwipsToPixels(kClientHeight));
  setFixedSize(fixedSize_);
  createControls();

  // Window load: the list's column width, and the run's choices as the user left them.
  grdFiles1->setColWidth(0, kListColumnWidth);
  KeepConversionOptions(platform_, *chkAppleNames, *chkKeepState, *cboMailProgram);

  connect(cmdAdd, &QPushButton::clicked, this, [this] { cmdAdd_Click(); });
  connect(CmdAddFolder, &QPushButton::clicked, this, [this] { CmdAddFolder_Click(); });
  connect(cmdClear1, &QPushButton::clicked, this, [this] { cmdClear1_Click(); });
  connect(CmdConvert2PDF, &QPushButton::clicked, this, [this] { CmdConvert2PDF_Click(); });
  connect(CmdHelp, &QPushButton::clicked, this, [this] { CmdHelp_Click(); });
  connect(cmdEnd, &QPushButton::clicked, this, [this] { cmdEnd_Click(); });

  // Escape cancels the count before a run, asks a running conversion whether to stop, and at
  // any other time does nothing.
  auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
  connect(escape, &QShortcut::activated, this, [this] {
    if (busyCommand != nullptr) busyCommand->escape();
  });

  // Files and folders dropped onto the list are added, except while a command holds the list
  // (a run, or an add still filling it).
  new ListDropTarget(
      grdFiles1->viewport(), [this] { return controlsHeld(); },
      [this](std::vector<std::string> paths) {
        runCommand([this, &paths] { AddDroppedCommand(addingWindow(), paths); });
      });
}

void frmStep1::createControls() {
  std::map<std::string, QWidget*> containers;
  for (const ControlEntry& entry : MainWindowControls()) {
    QWidget* parent = entry.container ? containers.at(entry.container) : this;
    const QString text = QString::fromUtf8(entry.text);
    QWidget* control = nullptr;
    switch (entry.kind) {
      case ControlKind::Rectangle:
        control =
            new ShapeRectangle(toColour(entry.backColour), toColour(entry.borderColour), parent);
        break;
      case ControlKind::Label: {
        auto* label = new QLabel(text, parent);
        label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        label->setTextFormat(Qt::PlainText);
        QPalette palette = label->palette();
        if (entry.foreColour != kNoColour)
          palette.setColor(QPalette::WindowText, toColour(entry.foreColour));
        if (entry.backColour != kNoColour)
          palette.setColor(QPalette::Window, toColour(entry.backColour));
        label->setPalette(palette);
        label->setAutoFillBackground(!entry.transparent);
        control = label;
        break;
      }
      case ControlKind::Button: {
        auto* button = new QPushButton(text, parent);
        button->setAutoDefault(false);
        button->setDefault(false);
        control = button;
        break;
      }
      case ControlKind::Grid: {
        auto* grid = new FlexGrid(parent);
        grid->model().setColours(toColour(kGridCell), palette().color(QPalette::WindowText),
                                 palette().color(QPalette::Button),
                                 palette().color(QPalette::ButtonText));
        QPalette gridPalette = grid->palette();
        gridPalette.setColor(QPalette::Base, toColour(kGridOutside));
        // The current cell keeps its grey; its text takes a colour that can be read on it.
        gridPalette.setColor(QPalette::Highlight, toColour(kGridSelectedCell));
        gridPalette.setColor(
            QPalette::HighlightedText,
            ReadableTextOn(toColour(kGridSelectedCell), palette().color(QPalette::WindowText)));
        grid->setPalette(gridPalette);
        grid->setStyleSheet(QStringLiteral("QTableView { gridline-color: rgb(192, 192, 192); }"));
        control = grid;
        break;
      }
      case ControlKind::Picture: {
        auto* picture = new QLabel(parent);
        picture->setPixmap(QPixmap::fromImage(DrawProgramPicture(TwipsToPixels(entry.width))));
        control = picture;
        break;
      }
      case ControlKind::ProgressBar:
        control = new PreciseProgressBar(parent);
        break;
      case ControlKind::CheckBox:
        control = new QCheckBox(text, parent);
        break;
      case ControlKind::ComboBox: {
        auto* combo = new QComboBox(parent);
        combo->addItems(text.split(QLatin1Char('|')));
        control = combo;
        break;
      }
      case ControlKind::Panel: {
        control = new QWidget(parent);
        QPalette palette = control->palette();
        palette.setColor(QPalette::Window, toColour(entry.backColour));
        control->setPalette(palette);
        control->setAutoFillBackground(true);
        break;
      }
    }
    control->setObjectName(QString::fromUtf8(entry.name));
    const QRect geometry(TwipsToPixels(entry.left), TwipsToPixels(entry.top),
                         TwipsToPixels(entry.width), TwipsToPixels(entry.height));
    control->setGeometry(geometry);
    placedControls_.push_back({control, geometry, AnchorsOf(entry.name), InTitleBand(entry.name)});
    if (entry.font != ControlFont::None) control->setFont(fontFor(entry.font));
    control->setEnabled(entry.enabled);
    if (entry.kind != ControlKind::Button && entry.kind != ControlKind::Grid &&
        entry.kind != ControlKind::CheckBox && entry.kind != ControlKind::ComboBox) {
      control->setFocusPolicy(Qt::NoFocus);
    }
    containers[entry.name] = control;
  }

  auto find = [&](const char* name) { return containers.at(name); };
  grdFiles1 = static_cast<FlexGrid*>(find("grdFiles1"));
  lblCount1 = static_cast<QLabel*>(find("lblCount1"));
  cmdAdd = static_cast<QPushButton*>(find("cmdAdd"));
  CmdAddFolder = static_cast<QPushButton*>(find("CmdAddFolder"));
  cmdClear1 = static_cast<QPushButton*>(find("cmdClear1"));
  CmdConvert2PDF = static_cast<QPushButton*>(find("CmdConvert2PDF"));
  CmdHelp = static_cast<QPushButton*>(find("CmdHelp"));
  cmdEnd = static_cast<QPushButton*>(find("cmdEnd"));
  EmlProgress = static_cast<PreciseProgressBar*>(find("EmlProgress"));
  ProgressBar1 = static_cast<PreciseProgressBar*>(find("ProgressBar1"));
  LblByteRead = static_cast<QLabel*>(find("LblByteRead"));
  LblProgessCurrent = static_cast<QLabel*>(find("LblProgessCurrent"));
  chkAppleNames = static_cast<QCheckBox*>(find("chkAppleNames"));
  chkKeepState = static_cast<QCheckBox*>(find("chkKeepState"));
  cboMailProgram = static_cast<QComboBox*>(find("cboMailProgram"));

  auto* enterPresses = new EnterPressesButton(this);
  for (QPushButton* button : findChildren<QPushButton*>()) button->installEventFilter(enterPresses);

  const auto order = MainWindowFocusOrder();
  for (std::size_t i = 0; i + 1 < order.size(); ++i) {
    setTabOrder(find(order[i]), find(order[i + 1]));
  }
}

void frmStep1::showCentred() {
  const QScreen* screen = QGuiApplication::primaryScreen();
  if (screen) placeWithin(screen->availableGeometry());
  show();
  activateWindow();
  cmdAdd->setFocus(Qt::OtherFocusReason);
  // Enter works on the focused button from the start, so its focus frame shows from the start
  // too: styles draw it only once the keyboard has moved the focus.
  setAttribute(Qt::WA_KeyboardFocusChange);
  if (!screen) return;
  // A window manager adds its frame only once the window is shown, and tells it a little later:
  // a window placed with a frame guessed larger or smaller (a title bar not scaled with the
  // window) is placed once more with the real one, looked for during the first second.
  auto* frameWatch = new QTimer(this);
  connect(frameWatch, &QTimer::timeout, this, [this, frameWatch, looks = 0]() mutable {
    frameWatch->setInterval(50);  // the first look comes at once
    const QWindow* window = windowHandle();
    const bool framed = window != nullptr && !window->frameMargins().isNull();
    if (!framed && ++looks < 20) return;
    frameWatch->deleteLater();
    if (framed && window->frameMargins() != placedFrame_) placeWithin(placedArea_);
  });
  frameWatch->start();
}

QMargins frmStep1::expectedFrame() const {
  if (const QWindow* window = windowHandle(); window && !window->frameMargins().isNull()) {
    return window->frameMargins();
  }
  // Not shown yet: a title bar and a thin border, as most window managers draw them.
  const int border = style()->pixelMetric(QStyle::PM_MdiSubWindowFrameWidth, nullptr, this);
  return QMargins(border, style()->pixelMetric(QStyle::PM_TitleBarHeight, nullptr, this) + border,
                  border, border);
}

void frmStep1::placeWithin(const QRect& available) {
  const QSize minimum(TwipsToPixels(kMinimumClientWidth), TwipsToPixels(kCompactClientHeight));
  placedArea_ = available;
  placedFrame_ = expectedFrame();
  const WindowPlacement place = PlaceWindow(fixedSize_, minimum, placedFrame_, available);
  if (place.resizable) {
    setMinimumSize(minimum);
    setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
  } else {
    setFixedSize(fixedSize_);
  }
  setGeometry(place.client);
}

void frmStep1::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  followWindowSize();
}

void frmStep1::followWindowSize() {
  // Each control follows the change of its container's size; containers come first. Below the
  // smallest layout's height the title band is left out and the controls under it move up, the
  // list keeping its lower edge.
  const int band =
      height() < TwipsToPixels(kMinimumClientHeight) ? TwipsToPixels(kTitleBandHeight) : 0;
  std::map<const QWidget*, QSize> changes{{this, size() - fixedSize_}};
  for (const PlacedControl& placed : placedControls_) {
    const QSize change = changes.at(placed.control->parentWidget());
    QRect fixed = placed.fixedGeometry;
    if (placed.control->parentWidget() == this) {
      placed.control->setVisible(!(band > 0 && placed.inTitleBand));
      if (placed.anchors.vertical == Anchor::Near) fixed.translate(0, -band);
      if (placed.anchors.vertical == Anchor::Stretch) fixed.setTop(fixed.top() - band);
    }
    const QRect geometry(movedBy(fixed.x(), change.width(), placed.anchors.horizontal),
                         movedBy(fixed.y(), change.height(), placed.anchors.vertical),
                         grownBy(fixed.width(), change.width(), placed.anchors.horizontal),
                         grownBy(fixed.height(), change.height(), placed.anchors.vertical));
    placed.control->setGeometry(geometry);
    changes[placed.control] = geometry.size() - placed.fixedGeometry.size();
  }
}

void frmStep1::ResetFileList() {
  drovanta::ResetFileList(fileList());
}

void frmStep1::AddFileToList(std::string path) {
  drovanta::AddFileToList(fileList(), std::move(path));
}

AddingWindow frmStep1::addingWindow() {
  return {platform_, fileList(), *CmdConvert2PDF, [this] { refreshDisplays(); },
          [this] { return std::make_unique<HeldControls>(*this, Busy::Adding); }};
}

std::chrono::nanoseconds frmStep1::now() {
#ifdef CLOCK_MONOTONIC_COARSE
  // A few milliseconds of resolution are plenty against 1/60 s, at a fraction of the cost.
  timespec time{};
  clock_gettime(CLOCK_MONOTONIC_COARSE, &time);
  return std::chrono::seconds(time.tv_sec) + std::chrono::nanoseconds(time.tv_nsec);
#else
  return std::chrono::steady_clock::now().time_since_epoch();
#endif
}

void frmStep1::DoEvents() {
  if (now() - lastYield_ < yieldInterval_) return;
  yieldNow();
}

void frmStep1::DoEventsNow() {
  yieldNow();
}

void frmStep1::refreshDisplays() {
  if (busyCommand != nullptr) busyCommand->showProgress();
  grdFiles1->syncView();
}

void frmStep1::yieldNow() {
  refreshDisplays();
  platform_.doEvents();
  lastYield_ = now();
  if (platform_.programEnded()) throw ProgramEnded{};
}

void frmStep1::runCommand(const std::function<void()>& command) {
  if (platform_.programEnded()) return;
  try {
    command();
  } catch (const ProgramEnded&) {
    // The program ended inside a yield of this command: nothing of it may run any more.
  } catch (const std::exception& failure) {
    if (platform_.programEnded()) return;
    platform_.messageBox({std::string("The command could not be completed: ") + failure.what(),
                          kApplicationTitle, MessageButtons::Ok, MessageIcon::Exclamation,
                          MessageAnswer::Ok});
  }
}

void frmStep1::cmdAdd_Click() {
  runCommand([this] { AddFilesCommand(addingWindow()); });
}

void frmStep1::CmdAddFolder_Click() {
  runCommand([this] { AddFolderCommand(addingWindow()); });
}

void frmStep1::cmdClear1_Click() {
  runCommand([this] { ClearCommand(platform_, fileList()); });
}

void frmStep1::CmdConvert2PDF_Click() {
  runCommand([this] { ConvertCommand(*this); });
}

void frmStep1::CmdHelp_Click() {
  runCommand([this] {
    const std::string target = HelpTarget();
    if (ShellOpen(platform_, target)) return;
    // Without a browser the user still learns where the page is.
    platform_.messageBox(
        {std::string("The help page could not be opened. Its address is:\r\n") + target,
         kApplicationTitle, MessageButtons::Ok, MessageIcon::Information, MessageAnswer::Ok});
  });
}

bool frmStep1::exitConfirmed() {
  // A run takes no new message while the question is open; a No lets it go on.
  BusyCommand* const command = busyCommand;
  if (command != nullptr) command->holdForQuestion(true);
  const bool yes = platform_.messageBox({"Are you sure you want to exit now?", kApplicationTitle,
                                         MessageButtons::YesNo, MessageIcon::Question,
                                         MessageAnswer::Yes}) == MessageAnswer::Yes;
  if (command != nullptr && !yes) command->holdForQuestion(false);
  return yes;
}

void frmStep1::cmdEnd_Click() {
  runCommand([this] {
    if (!exitConfirmed()) return;
    exitConfirmed_ = true;
    close();
  });
}

void frmStep1::closeEvent(QCloseEvent* event) {
  // The close button during a run, or the count before it, asks first, as Exit does. Otherwise
  // closing by any route, the end of the session included, ends the program at once: there is
  // nothing to save.
  bool sessionEnding = false;
#if QT_CONFIG(sessionmanager)
  sessionEnding = qApp->isSavingSession();
#endif
  if (convertBusy() && !exitConfirmed_ && !sessionEnding && !platform_.programEnded() &&
      !exitConfirmed()) {
    event->ignore();
    return;
  }
  event->accept();
  letConversionEnd();
  platform_.endProgram();
}

void frmStep1::letConversionEnd() {
  hide();
  if (busyCommand != nullptr) busyCommand->end();
}

}  // namespace drovanta
