// brevomat-virtual: the main window on the virtual adapter and the virtual cart kept in
// virtual-cart/ of the working directory, so the program can be tried without any hardware
// (sim/VirtualProgram.h). The cart keeps real time: its clock is brought up to the wall clock
// whenever the program handles an event, and with "pace = realtime" in cart.conf every command
// takes as long as it would on the hardware.
#include <QEvent>
#include <QMessageBox>
#include <QObject>
#include <cstdio>
#include <memory>
#include <string>

#include "commands/Captions.h"
#include "gui/Application.h"
#include "sim/VirtualProgram.h"

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
  using namespace brevomat;
  gui::BrevomatApplication app(argc, argv);
  return sim::RunOnVirtualCart(
      [&app](sim::WallClockPort& port, sim::VirtualCart&) {
        CartClockKeeper keeper(port);
        app.installEventFilter(&keeper);
        const int status = gui::RunMainWindow(app, std::make_unique<FixedPortDriver>(port));
        app.removeEventFilter(&keeper);
        return status;
      },
      [](const std::string& why, bool saving) {
        if (saving) {
          std::fprintf(stderr, "brevomat-virtual: the virtual cart was not saved: %s\n", why.c_str());
          return;
        }
        std::fprintf(stderr, "brevomat-virtual: %s\n", why.c_str());
        QMessageBox::critical(nullptr, QString::fromLatin1(kProgramTitle),
                              QString::fromLocal8Bit(why.c_str()));
      });
}
