// brevomat-virtual.exe: the main window on the virtual adapter and the virtual cart kept in
// virtual-cart\ of the working directory, so the program can be tried without any hardware
// (sim/VirtualProgram.h). The cart keeps real time: its clock is brought up to the wall clock
// whenever the window handles a message, and with "pace = realtime" in cart.conf every command
// takes as long as it would on the hardware.
#include <windows.h>

#include <memory>
#include <string>

#include "sim/VirtualProgram.h"
#include "win/Application.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  using namespace brevomat;
  winui::InitialiseApplication();
  return sim::RunOnVirtualCart(
      [](sim::WallClockPort& port, sim::VirtualCart& cart) {
        // A logoff or shutdown ends the program without returning here: the cart is saved before.
        return winui::RunMainWindow(
            std::make_unique<FixedPortDriver>(port), [&port] { port.CatchUp(); },
            [&cart] {
              std::string why;
              cart.Close(why);
            });
      },
      [](const std::string& why, bool saving) {
        winui::ShowError(((saving ? "The virtual cart was not saved: " : "") + why).c_str());
      });
}
