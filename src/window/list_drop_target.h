#pragma once

#include <QObject>
#include <functional>
#include <string>
#include <vector>

class QMimeData;
class QWidget;

namespace drovanta {

// Lets files and folders be dropped onto a widget. A drag that carries local files is taken as
// a copy, unless `refused` answers true: then the drop is turned down and the pointer shows that
// nothing can be dropped. A drop hands the paths, in their order, to `dropped` once the drop has
// ended, so the program that started the drag is not kept waiting by what they start.
class ListDropTarget : public QObject {
 public:
  using Dropped = std::function<void(std::vector<std::string>)>;
  ListDropTarget(QWidget* target, std::function<bool()> refused, Dropped dropped);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  std::function<bool()> refused_;
  Dropped dropped_;
};

// The local files and folders a drag carries, in native form; other addresses are left out. A
// relative one (a hand-made "file:" address) is made absolute against the working folder, and
// left out too when it cannot be (the working folder is gone): a relative path would otherwise
// be mirrored outside the destination ("../x").
std::vector<std::string> DroppedPaths(const QMimeData& data);

}  // namespace drovanta
