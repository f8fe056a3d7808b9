// brevomat-virtual.exe: the main window on the virtual adapter and the virtual cart kept in
// virtual-cart\ of the working directory, so the program can be tried without any hardware.
// The cart is created on the first start and its contents are written back when the program ends
// (by Exit or by the close box). The cart keeps real time: its clock is brought up to the wall
// clock whenever the window handles a message, and with "pace = realtime" in cart.conf every
// command takes as long as it would on the hardware.
#include <windows.h>

#include <filesystem>
#include <memory>
#include <string>

#include "base/FileAccess.h"
#include "sim/CartDirectory.h"
#include "sim/WallClockPort.h"
#include "win/Application.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  brevomat::winui::InitialiseApplication();
  std::string error;
  std::unique_ptr<brevomat::sim::VirtualCart> cart =
      brevomat::sim::VirtualCart::OpenInWorkingDirectory(error);
  if (!cart) {
    brevomat::winui::ShowError(error.c_str());
    return 1;
  }
  // A backup into one of the cart's own files would destroy the cart it reads.
  for (const char* name : brevomat::sim::kCartFiles)
    brevomat::ProtectFromOutput((cart->Directory() / name).string(),
                                std::string("the virtual cart's own ") + name);

  brevomat::sim::WallClockPort port(cart->Adapter(), cart->Config().pace);
  // A logoff or shutdown ends the program without returning here: the cart is saved before.
  const int status = brevomat::winui::RunMainWindow(
      std::make_unique<brevomat::FixedPortDriver>(port), [&port] { port.CatchUp(); },
      [&cart] {
        std::string why;
        cart->Close(why);
      });
  if (!cart->Close(error)) {
    brevomat::winui::ShowError(("The virtual cart was not saved: " + error).c_str());
    return 1;
  }
  return status;
}
