// Outer size and place of the top-level windows.
//
// The windows' sizes are outer sizes: the window manager's frame and title bar are included, and a
// window is centred as a whole. Qt sizes the inside of a window, and how thick the frame is becomes
// known only once the window manager has framed the window on the screen, a little after it was
// shown. So a window first gets its outer size as its inside, with the top-left corner of its
// frame where the centred frame will begin; when the frame appears the inside is made smaller by
// the frame's thickness and the frame is centred again.
#pragma once

#include <QMargins>
#include <QObject>
#include <QRect>
#include <QSize>
#include <QTimer>

class QWidget;

namespace brevomat::gui {

class OuterGeometry final : public QObject {
  Q_OBJECT

 public:
  // A window the user sizes fits into the room it is centred over; a dialog keeps its own size,
  // whatever the size of the window it stands over, and cannot be resized.
  enum class Sizing { FitsArea, Fixed };

  explicit OuterGeometry(QWidget& window);

  // Gives the window the outer size `outer` (with FitsArea at most the size of `area`) and
  // centres it over `area` (screen coordinates).
  void Place(QSize outer, QRect area, Sizing sizing = Sizing::FitsArea);
  // Keeps the window's own size and centres it, frame included, over `area`: for a window that
  // sizes itself when it is shown, such as a message box.
  void CentreOver(QRect area);
  // The outer size the window has when it is neither minimised nor maximised.
  QSize NormalOuterSize() const;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // Fits the inside to the outer size once the frame is known; true when that is done.
  bool Fit();
  void MoveToCentre();
  QMargins Frame() const;
  void SetInside(QSize inside);

  QWidget& window_;
  QSize outer_;
  QRect area_;
  bool pending_ = false;  // placed, and the frame not yet seen
  bool ownSize_ = false;  // centred at the size it gives itself
  bool fixed_ = false;    // Sizing::Fixed
  // After a showing, the frame is looked for every kPollMs for up to kPolls times.
  static constexpr int kPollMs = 20;
  static constexpr int kPolls = 100;
  QTimer poll_;
  int polls_ = 0;
};

// The room the desktop gives to windows: the available area of the primary screen.
QRect DesktopArea();

}  // namespace brevomat::gui
