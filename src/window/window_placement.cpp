#include "window/window_placement.h"

#include <algorithm>

namespace drovanta {
namespace {

// The client length that fits `room` beside the frame, no less than `minimum`.
int fitted(int length, int minimum, int frame, int room) {
  return length + frame <= room ? length : std::max(minimum, room - frame);
}

// The client's start: centred in the room, then moved so that the frame on either side stays
// inside it; where it cannot, the frame's start stays inside.
int centred(int start, int room, int length, int frameBefore, int frameAfter) {
  const int latest = start + room - frameAfter - length;
  const int earliest = start + frameBefore;
  return std::max(earliest, std::min(latest, start + (room - length) / 2));
}

}  // namespace

WindowPlacement PlaceWindow(QSize client, QSize minimum, QMargins frame, QRect available) {
  const QSize size(
      fitted(client.width(), minimum.width(), frame.left() + frame.right(), available.width()),
      fitted(client.height(), minimum.height(), frame.top() + frame.bottom(), available.height()));
  const int left =
      centred(available.left(), available.width(), size.width(), frame.left(), frame.right());
  const int top =
      centred(available.top(), available.height(), size.height(), frame.top(), frame.bottom());
  return {QRect(QPoint(left, top), size), size != client};
}

}  // namespace drovanta
