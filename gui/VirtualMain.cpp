// brevomat-virtual: the main window on the virtual adapter and the virtual cart kept in
// virtual-cart/ of the working directory, so the program can be tried without any hardware.
// The cart is created on the first start and its contents are written back when the program ends
// (by Exit or by the close box). The cart keeps real time: its clock is brought up to the wall
// clock whenever the program handles an event, and with "pace = realtime" in cart.conf every
// command takes as long as it would on the hardware.
#include <QEvent>
#include <QMessageBox>
#include <QObject>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>

#include "base/FileAccess.h"
#include "gui/Application.h"
#include "gui/MainWindow.h"
#include "sim/CartDirectory.h"
#include "sim/WallClockPort.h"

namespace {

// Sees every event of the program first, and lets the cart's clock catch up before it is handled:
// the click that starts a command finds the cart as the time since the last one has left it.
class CartClockKeeper final : public QObject {
 public:
  explicit CartClockKeeper(brevomat::sim::WallClockPort& port) : port_(port) {}
  bool eventFilter(QObject*, QEvent*) override {
    port_.CatchUp();
    return false;
  }

 private:
  brevomat::sim::WallClockPort& port_;
};

}  // namespace

int main(int argc, char** argv) {
  using brevomat::gui::kApplicationTitle;
  brevomat::gui::BrevomatApplication app(argc, argv);

  std::string error;
  std::unique_ptr<brevomat::sim::VirtualCart> cart =
      brevomat::sim::VirtualCart::OpenInWorkingDirectory(error);
  if (!cart) {
    std::fprintf(stderr, "brevomat-virtual: %s\n", error.c_str());
    QMessageBox::critical(nullptr, QString::fromLatin1(kApplicationTitle),
                          QString::fromLocal8Bit(error.c_str()));
    return 1;
  }

  // A backup into one of the cart's own files would destroy the cart it reads.
  for (const char* name : brevomat::sim::kCartFiles)
    brevomat::ProtectFromOutput((cart->Directory() / name).string(),
                                std::string("the virtual cart's own ") + name);

  brevomat::sim::WallClockPort port(cart->Adapter(), cart->Config().pace);
  CartClockKeeper keeper(port);
  app.installEventFilter(&keeper);
  const int status = brevomat::gui::RunMainWindow(app, std::make_unique<brevomat::FixedPortDriver>(port));
  app.removeEventFilter(&keeper);

  if (!cart->Close(error)) {
    std::fprintf(stderr, "brevomat-virtual: the virtual cart was not saved: %s\n", error.c_str());
    return 1;
  }
  return status;
}
