// The start-up both window programs share.
#pragma once

#include <functional>
#include <memory>

#include "port/PortDriver.h"

namespace brevomat::winui {

// Readies the common controls (progress bar, tool tips) once per process.
void InitialiseApplication();

// Creates the main window on `driver` (which runs its set-up; the two dialogs come with it), runs
// the message loop until Exit or the close box, and returns the exit status: 0 in every case, as
// also after an exception at start-up, which is shown first. `beforeMessage` runs before the
// window handles each message; `sessionEnding` when Windows ends the session, and with it the
// program, while the window is open.
int RunMainWindow(std::unique_ptr<PortDriver> driver, std::function<void()> beforeMessage = {},
                  std::function<void()> sessionEnding = {});

// A message box over the desktop with the program's title, for what happens before the window.
void ShowError(const char* message);

}  // namespace brevomat::winui
