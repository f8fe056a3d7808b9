// Form1, the main window in plain Win32: command buttons, the three radio groups, the log, the
// Status and Time labels, the progress bar, Timer1, the four file dialogs and the two selection
// dialogs.
//
// The window only shows and asks; every command runs in the window-independent handlers of
// commands/ and reaches the window through the brevomat::Window interface. A command runs inside
// its button's click handler and keeps the window alive by pumping messages. Tests and tools find
// the controls by name (Control) or by their control identifiers, as an automation tool would.
#pragma once

#include <windows.h>

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "base/Window.h"
#include "commands/CommandGuard.h"
#include "commands/Core.h"
#include "commands/Settings.h"
#include "port/PortDriver.h"
#include "win/Controls.h"
#include "win/DialogProvider.h"
#include "win/SelectionDialogs.h"

namespace brevomat::winui {

inline constexpr char kApplicationTitle[] = "Tarvex Brevomat 1.2nt";

// The folder that holds `executable` (a full path), without a trailing "\" except for a drive
// root: "C:\Brevomat\brevomat.exe" -> "C:\Brevomat", "C:\brevomat.exe" -> "C:\".
std::string ProgramFolder(std::string_view executable);

class TForm1 final : public Window {
 public:
  // Control identifiers.
  enum : int {
    kPort_sel = 100,
    kPort_selItems = 101,  // 101..103
    kRadioSpeed = 110,
    kRadioSpeedItems = 111,  // 111..114
    kRadioIps = 120,
    kRadioIpsItems = 121,  // 121..122
    kWrite = 200,
    kWriteMulti,
    kSetPreBoot,
    kSWrite,
    kSRead,
    kRead,
    kStop,
    kExit,
    kMemoClear,
    kEraseFlash,
    kWT,
    kVT,
    kVerify,
    kSVerify,
    kMemo1 = 300,
    kStatus,
    kTime,
    kProgressBar1,
  };

  // Runs the whole set-up: opens `driver`, asks when it is not active, loads or creates
  // config.sav in the current working directory and ends idle. `dialogs` answers everything
  // modal (nullptr: the real dialogs). The window is created hidden; Show puts it on the screen.
  TForm1(std::unique_ptr<PortDriver> driver, DialogProvider* dialogs = nullptr);
  ~TForm1() override;
  TForm1(const TForm1&) = delete;
  TForm1& operator=(const TForm1&) = delete;

  void Show();
  HWND Handle() const { return window_; }
  // A control by its name in the layout ("Write", "Memo1", "Port_sel" for the group box,
  // "Port_sel_1" for its second item, ...); nullptr for an unknown name.
  HWND Control(std::string_view name) const;
  // The hint shown as the control's tool tip; empty when it has none.
  std::string Hint(HWND control) const;
  // The lines of Memo1 in order; an empty log has none (and one empty line is one line).
  std::vector<std::string> Lines() const;

  // False when the user declined to go on without port access: the program then ends.
  bool SetupCompleted() const { return setupCompleted_; }
  Core& core() { return core_; }
  SettingsFile& settings() { return settings_; }
  PortDriver& driver() { return *driver_; }
  TForm2& Form2() { return *form2_; }
  TForm3& Form3() { return *form3_; }
  bool CommandRunning() const { return commands_.Running(); }

  // Exit was pressed (after the settings were saved and the link released), or the window was
  // destroyed: the program ends with this status. Default: PostQuitMessage.
  std::function<void(int status)> Quit = [](int status) { PostQuitMessage(status); };
  // Runs before the window handles any message (the virtual cart's clock catches up here).
  std::function<void()> BeforeMessage;
  // Windows is ending the session (logoff, shutdown) and ends the program as soon as the window
  // has answered: what the program does on its way out must be done here (the demo saves its cart).
  std::function<void()> SessionEnding;

  // --- Window -----------------------------------------------------------------------------------
  void AppendLog(std::string_view line) override;
  void SetStatusText(std::string_view text) override;
  void SetTimeText(std::string_view text) override;
  void SetProgressPosition(int percent) override;
  void SetRunning(bool running) override;
  void StartTimer1() override;
  void StopTimer1() override;
  void ProcessMessages() override;
  bool AskYesNo(std::string_view text, std::string_view caption) override;
  bool ExecuteOpenDialog1(bool multiSelect, std::vector<std::string>& files) override;
  bool ExecuteOpenDialog2(std::string& file) override;
  bool ExecuteOpenDialog3(std::string& file) override;
  bool ExecuteSaveDialog1(std::string& file) override;
  std::string SaveDialog1FileName() override;
  void ShowForm2(int preselectItem, std::int32_t& CartSizeChunks) override;
  void ShowForm3(std::uint8_t& SelectedSaveBank, std::uint8_t& SelectedSaveSize) override;
  int PortSelIndex() override;
  int RadioSpeedIndex() override;
  int RadioIpsIndex() override;

  // The window's state as the settings file stores it (sizes in 96-DPI design pixels).
  WindowSettings CaptureSettings() const;
  // The current file names of the four file dialogs.
  const std::string& OpenDialog1FileName() const { return openDialog1Name_; }
  const std::string& SaveDialog1Name() const { return saveDialog1Name_; }
  const std::string& OpenDialog2FileName() const { return openDialog2Name_; }
  const std::string& OpenDialog3FileName() const { return openDialog3Name_; }

 private:
  static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT Handle(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  // Windows ends the session (WM_ENDSESSION with TRUE): the last work before the process goes.
  void EndSession();
  void Clicked(int id);

  void BuildLayout();
  void Setup();
  void ApplySettings(const WindowSettings& shown);
  HWND AddButton(int id, const char* name, const char* caption, const char* hint, int left, int top,
                 int width, int height);
  void AddRadioGroup(RadioGroup& group, int boxId, const char* name, const char* caption,
                     std::initializer_list<const char*> items, RECT design);
  // Runs one command handler; a close box pressed meanwhile closes the window once it returns.
  template <typename Handler>
  void RunCommand(Handler&& handler);
  bool RunFileDialog(const FileDialogKind& dialog, bool multiSelect, std::string& current,
                     std::vector<std::string>& chosen);

  // --- click handlers ---------------------------------------------------------------------------
  void StopClick();
  void ExitClick();
  void MemoClearClick();
  void Port_selClick();

  Scale scale_;
  HFONT font_ = nullptr;
  HWND window_ = nullptr;
  HWND tips_ = nullptr;
  RadioGroup Port_sel, RadioSpeed, RadioIps;
  HWND Memo1 = nullptr, Status = nullptr, Time = nullptr, ProgressBar1 = nullptr, Stop = nullptr;
  std::vector<std::pair<std::string, HWND>> names_;
  std::vector<std::pair<HWND, std::string>> hints_;
  std::vector<HWND> lockedButtons_;
  std::unique_ptr<TForm2> form2_;
  std::unique_ptr<TForm3> form3_;
  int lineCount_ = 0;

  std::unique_ptr<PortDriver> driver_;
  std::unique_ptr<DialogProvider> ownDialogs_;
  DialogProvider* dialogs_;
  Core core_;
  SettingsFile settings_;
  std::string openDialog1Name_, saveDialog1Name_, openDialog2Name_, openDialog3Name_;
  bool setupCompleted_ = false;
  CommandGuard commands_{core_.frame};
  bool operationRunning_ = false;  // between SetRunning(true) and SetRunning(false)
};

}  // namespace brevomat::winui
