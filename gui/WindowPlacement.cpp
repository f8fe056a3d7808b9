#include "gui/WindowPlacement.h"

#include <QEvent>
#include <QGuiApplication>
#include <QScreen>
#include <QWidget>
#include <QWindow>

namespace brevomat::gui {

OuterGeometry::OuterGeometry(QWidget& window) : QObject(&window), window_(window) {
  window_.installEventFilter(this);
  poll_.setInterval(kPollMs);
  connect(&poll_, &QTimer::timeout, this, [this] {
    if (!pending_ || Fit() || ++polls_ >= kPolls) poll_.stop();
  });
}

QMargins OuterGeometry::Frame() const {
  // The window system's own idea is the fresh one: the widget learns of a new frame only when the
  // window moves. A window that was never framed has no frame; a hidden one keeps its last frame.
  if (const QWindow* handle = window_.windowHandle(); handle != nullptr && handle->isVisible())
    return handle->frameMargins();
  const QRect outer = window_.frameGeometry();
  const QRect inner = window_.geometry();
  return {inner.left() - outer.left(), inner.top() - outer.top(), outer.right() - inner.right(),
          outer.bottom() - inner.bottom()};
}

void OuterGeometry::Place(QSize outer, QRect area, Sizing sizing) {
  fixed_ = sizing == Sizing::Fixed;
  outer_ = area.isValid() && !fixed_ ? outer.boundedTo(area.size()) : outer;
  area_ = area;
  ownSize_ = false;
  SetInside(outer_.shrunkBy(Frame()));
  pending_ = true;
  if (!Fit()) MoveToCentre();
}

void OuterGeometry::CentreOver(QRect area) {
  area_ = area;
  ownSize_ = true;
  outer_ = window_.size().grownBy(Frame());
  pending_ = true;
  if (!Fit()) MoveToCentre();
}

void OuterGeometry::SetInside(QSize inside) {
  if (fixed_)
    window_.setFixedSize(inside);
  else
    window_.resize(inside);
}

QSize OuterGeometry::NormalOuterSize() const {
  // Before the window manager has framed the window, the size asked for.
  if (!window_.isMaximized() && !window_.isMinimized() && !window_.isFullScreen())
    return window_.frameGeometry().size();
  return window_.normalGeometry().size().grownBy(Frame());
}

void OuterGeometry::MoveToCentre() {
  if (!area_.isValid()) return;
  // The position of a window is that of its frame's top-left corner.
  QRect centred(QPoint(0, 0), outer_);
  centred.moveCenter(area_.center());
  window_.move(centred.topLeft());
}

bool OuterGeometry::Fit() {
  if (!window_.isVisible()) return false;
  const QMargins frame = Frame();
  // Without a window manager there is no frame, and the inside is the outer size already.
  if (frame.isNull()) return false;
  pending_ = false;
  if (ownSize_) {
    outer_ = window_.size().grownBy(frame);
  } else if (const QSize inside = outer_.shrunkBy(frame); window_.size() != inside) {
    SetInside(inside);
  }
  MoveToCentre();
  return true;
}

bool OuterGeometry::eventFilter(QObject* watched, QEvent* event) {
  if (pending_ && watched == &window_) {
    const QEvent::Type type = event->type();
    // The window manager frames the window a little after it was shown. Usually that moves the
    // inside, but not always: so look again for a while.
    if (type == QEvent::Show) {
      polls_ = 0;
      poll_.start();
    }
    // A window that sizes itself does so in its own show handler, which runs after this one.
    if ((type == QEvent::Show && !ownSize_) || type == QEvent::Move || type == QEvent::Resize) Fit();
  }
  return QObject::eventFilter(watched, event);
}

QRect DesktopArea() {
  const QScreen* screen = QGuiApplication::primaryScreen();
  return screen != nullptr ? screen->availableGeometry() : QRect();
}

}  // namespace brevomat::gui
