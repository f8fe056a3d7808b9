// brevomat.exe: the main window on this PC's printer port, through the DriverLINX driver that
// lies beside the program (or, on 64-bit Windows, the 64-bit port library).
#include <windows.h>

#include <memory>

#include "win/Application.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  brevomat::winui::InitialiseApplication();
  return brevomat::winui::RunMainWindow(std::make_unique<brevomat::DirectPortDriver>());
}
