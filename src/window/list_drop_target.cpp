#include "window/list_drop_target.h"

#include <QDir>
#include <QDropEvent>
#include <QMimeData>
#include <QTimer>
#include <QUrl>
#include <QWidget>

#include "shellutil/path_helpers.h"

namespace drovanta {

ListDropTarget::ListDropTarget(QWidget* target, std::function<bool()> refused, Dropped dropped)
    : QObject(target), refused_(std::move(refused)), dropped_(std::move(dropped)) {
  target->setAcceptDrops(true);
  target->installEventFilter(this);
}

std::vector<std::string> DroppedPaths(const QMimeData& data) {
  std::vector<std::string> paths;
  for (const QUrl& url : data.urls()) {
    if (!url.isLocalFile()) continue;
    const QString path = url.toLocalFile();
    if (!QDir::isRelativePath(path)) {
      paths.push_back(QDir::toNativeSeparators(path).toStdString());
    } else if (const Outcome<std::string> absolute = MakeAbsolutePath(path.toStdString())) {
      paths.push_back(*absolute);
    }
  }
  return paths;
}

bool ListDropTarget::eventFilter(QObject* /*watched*/, QEvent* event) {
  switch (event->type()) {
    case QEvent::DragEnter:
    case QEvent::DragMove:
    case QEvent::Drop:
      break;
    case QEvent::DragLeave:
      return true;
    default:
      return false;
  }
  auto* drop = static_cast<QDropEvent*>(event);
  const bool takesIt = !refused_() && drop->mimeData() != nullptr &&
                       !DroppedPaths(*drop->mimeData()).empty() &&
                       (drop->possibleActions() & Qt::CopyAction);
  if (!takesIt) {
    // Left unaccepted, the drag shows the pointer's no-drop shape.
    drop->ignore();
    return true;
  }
  drop->setDropAction(Qt::CopyAction);
  drop->accept();
  if (event->type() == QEvent::Drop) {
    QTimer::singleShot(0, this, [this, paths = DroppedPaths(*drop->mimeData())]() mutable {
      dropped_(std::move(paths));
    });
  }
  return true;
}

}  // namespace drovanta
