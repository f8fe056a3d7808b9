// Saves a picture of brevomat-virtual's window as a user sees it, frame and title bar included:
// the window on a fresh virtual cart in a temporary directory, after Write Flash has written a
// 64 KB game. Run it on an X display with a window manager (the Xvfb smoke test does); the
// picture is the screen under the window's frame. Fails unless the write ended "Write Cart ok".
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QPixmap>
#include <QScreen>
#include <QTemporaryDir>
#include <cstdio>

#include "gui/MainWindow.h"
#include "sim/CartDirectory.h"
#include "support/TestImages.h"

namespace {

// The user picks the game in the file dialog and answers Yes.
class PickGame final : public brevomat::gui::DialogProvider {
 public:
  explicit PickGame(QString game) : game_(std::move(game)) {}
  bool AskYesNo(QWidget*, const QString&, const QString&) override { return true; }
  QStringList RunFileDialog(QWidget*, const brevomat::FileDialogEntry&, bool, const QString&) override {
    return {game_};
  }

 private:
  QString game_;
};

// Lets the window system catch up: events for `ms` milliseconds.
void Settle(int ms) {
  QElapsedTimer clock;
  clock.start();
  while (clock.elapsed() < ms) QApplication::processEvents(QEventLoop::AllEvents, 20);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: gui_screenshot OUTPUT.png\n");
    return 2;
  }
  const QString output = QDir::current().absoluteFilePath(QString::fromLocal8Bit(argv[1]));
  QApplication app(argc, argv);
  QTemporaryDir dir(QDir::tempPath() + QStringLiteral("/brevomat-demo-XXXXXX"));
  QDir::setCurrent(dir.path());
  std::string error;
  auto cart =
      brevomat::sim::VirtualCart::Open(dir.filePath(QStringLiteral("virtual-cart")).toStdString(), error);
  if (!cart) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }
  const QString game = dir.filePath(QStringLiteral("game.gba"));
  brevomat::testing::WriteBytes(game.toStdString(), brevomat::testing::MakeImage(0x10000));

  PickGame dialogs(game);
  brevomat::gui::TForm1 form(std::make_unique<brevomat::FixedPortDriver>(cart->Port()), &dialogs);
  form.show();
  Settle(1000);  // shown, framed by the window manager, fitted to its outer size
  form.presenter().WriteClick();
  Settle(500);

  const QString status = form.findChild<QLabel*>(QStringLiteral("Status"))->text();
  const QRect frame = form.frameGeometry();
  std::printf("window frame %dx%d+%d+%d, status \"%s\"\n", frame.width(), frame.height(), frame.x(),
              frame.y(), status.toLocal8Bit().constData());
  const QPixmap picture = form.screen()->grabWindow(0, frame.x(), frame.y(), frame.width(), frame.height());
  const bool saved = picture.save(output, "PNG");
  form.close();
  cart->Close(error);
  if (!saved) std::fprintf(stderr, "could not save %s\n", argv[1]);
  return saved && status == QStringLiteral("Write Cart ok") ? 0 : 1;
}
