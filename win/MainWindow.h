// Form1, the main window in plain Win32, drawn over the window-independent Form1Presenter: the
// controls are built from the form's table, their clicks and Timer1's ticks go to the presenter,
// and the presenter draws, asks and reads through this window's FormView. Tests and tools find
// the controls by name (Control), the names of the table, as an automation tool would.
#pragma once

#include <windows.h>

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "form/Form1Presenter.h"
#include "port/PortDriver.h"
#include "win/Controls.h"
#include "win/DialogProvider.h"
#include "win/SelectionDialogs.h"

namespace brevomat::winui {

// The folder that holds `executable` (a full path), without a trailing "\" except for a drive
// root: "C:\Brevomat\brevomat.exe" -> "C:\Brevomat", "C:\brevomat.exe" -> "C:\".
std::string ProgramFolder(std::string_view executable);

class TForm1 final : private FormView {
 public:
  // Builds the window hidden and runs the presenter's set-up on `driver`. `dialogs` answers
  // everything modal (nullptr: the real dialogs). Show puts the window on the screen.
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

  Form1Presenter& presenter() { return presenter_; }
  bool SetupCompleted() const { return presenter_.SetupCompleted(); }
  TForm2& Form2() { return *form2_; }
  TForm3& Form3() { return *form3_; }

  // Exit was pressed (after the settings were saved and the link released), or the window was
  // destroyed: the program ends with this status. Default: PostQuitMessage.
  std::function<void(int status)> Quit = [](int status) { PostQuitMessage(status); };
  // Runs before the window handles any message (the virtual cart's clock catches up here).
  std::function<void()> BeforeMessage;
  // Windows is ending the session (logoff, shutdown) and ends the program as soon as the window
  // has answered: what the program does on its way out must be done here (the demo saves its cart).
  std::function<void()> SessionEnding;

 private:
  // --- FormView ---------------------------------------------------------------------------------
  void AppendLog(std::string_view line) override;
  void ClearLog() override;
  void SetStatusText(std::string_view text) override;
  void SetTimeText(std::string_view text) override;
  void SetProgressPosition(int percent) override;
  void SetControlEnabled(const ControlEntry& control, bool enabled) override;
  void HideControl(const ControlEntry& control) override;
  void RunningChanged(bool running) override;
  int ItemIndex(const ControlEntry& group) const override;
  void SetItemIndex(const ControlEntry& group, int index) override;
  void PlaceWindow(int width, int height) override;
  int OuterWidth() const override;
  int OuterHeight() const override;
  void StartTimer1() override;
  void StopTimer1() override;
  void ProcessMessages() override;
  bool AskYesNo(std::string_view text, std::string_view caption, bool overWindow) override;
  std::vector<std::string> RunFileDialog(const FileDialogEntry& dialog, bool multiSelect,
                                         const std::string& currentFile) override;
  DialogAnswer RunForm2(int preselectItem) override;
  DialogAnswer RunForm3() override;
  void CloseLater() override;
  void EndProgram(int status) override;
  std::string ProgramFolder() const override;
  std::string WorkingDirectory() const override;

  static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT Handle(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  void Clicked(int id);

  void BuildLayout();
  // A control's row of the table: its identifier (a radio group's items follow it) and windows.
  struct Built {
    const ControlEntry* entry;
    int id;
    HWND window;
    RadioGroup* group;  // a radio group's items, else nullptr
  };
  const Built& Find(const ControlEntry& control) const;
  void AddHint(HWND control, const char* hint);

  Scale scale_;
  HFONT font_ = nullptr;
  HWND window_ = nullptr;
  HWND tips_ = nullptr;
  RadioGroup Port_sel, RadioSpeed, RadioIps;
  HWND Memo1 = nullptr, Status = nullptr, Time = nullptr, ProgressBar1 = nullptr;
  std::vector<Built> built_;
  std::vector<std::pair<std::string, HWND>> names_;
  std::vector<std::pair<HWND, std::string>> hints_;
  std::unique_ptr<TForm2> form2_;
  std::unique_ptr<TForm3> form3_;
  int lineCount_ = 0;

  std::unique_ptr<DialogProvider> ownDialogs_;
  DialogProvider* dialogs_;
  Form1Presenter presenter_;
};

}  // namespace brevomat::winui
