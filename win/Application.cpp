#include "win/Application.h"

#include <windows.h>
// after windows.h, whose types it uses
#include <commctrl.h>

#include <exception>

#include "commands/Captions.h"
#include "win/MainWindow.h"

namespace brevomat::winui {

void InitialiseApplication() {
  INITCOMMONCONTROLSEX controls{};
  controls.dwSize = sizeof controls;
  controls.dwICC = ICC_PROGRESS_CLASS | ICC_BAR_CLASSES | ICC_STANDARD_CLASSES;
  InitCommonControlsEx(&controls);
}

void ShowError(const char* message) { MessageBoxA(nullptr, message, kProgramTitle, MB_OK | MB_ICONERROR); }

int RunMainWindow(std::unique_ptr<PortDriver> driver, std::function<void()> beforeMessage,
                  std::function<void()> sessionEnding) {
  DialogProvider dialogs;
  try {
    TForm1 Form1(std::move(driver));
    // The user would not go on without port access.
    if (!Form1.SetupCompleted()) return 0;
    Form1.BeforeMessage = std::move(beforeMessage);
    Form1.SessionEnding = std::move(sessionEnding);
    Form1.Show();
    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
      if (Form1.Handle() != nullptr && IsDialogMessageA(Form1.Handle(), &msg)) continue;
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    }
  } catch (const std::exception& e) {
    dialogs.ShowException(nullptr, e.what());
  }
  return 0;
}

}  // namespace brevomat::winui
