// Form1 without a window system: the start-up and Exit, the settings to the controls and back,
// the four dialogs' remembered file names, the click dispatch (one command at a time, through
// the CommandGuard), Stop, Port_sel, and the idle and running states. It is the Window the
// commands talk to.
//
// A window (the Qt one, the Win32 one) is a FormView: it builds its controls from the tables of
// FormLayout.h, draws and reads them, runs its dialogs and forwards its clicks and timer ticks
// here. Everything a window does the same way as the other is done here, once.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/Window.h"
#include "commands/CommandGuard.h"
#include "commands/Core.h"
#include "commands/Settings.h"
#include "form/FormLayout.h"
#include "form/SelectionForms.h"
#include "port/PortDriver.h"
#include "port/PortRecorder.h"

namespace brevomat {

// What the presenter needs of a window: its display, which the commands draw on directly, its
// controls (found by their rows in the tables), its dialogs and its message loop.
class FormView : public WindowDisplay {
 public:
  // Memo1 emptied (Clear).
  virtual void ClearLog() = 0;

  virtual void SetControlEnabled(const ControlEntry& control, bool enabled) = 0;
  virtual void HideControl(const ControlEntry& control) = 0;
  // After the controls have changed to the running (or idle) state.
  virtual void RunningChanged(bool running) { (void)running; }
  virtual int ItemIndex(const ControlEntry& group) const = 0;
  virtual void SetItemIndex(const ControlEntry& group, int index) = 0;

  // The outer size in design pixels, frame included, as it is when the window is neither
  // minimised nor maximised; PlaceWindow gives it that size in the desktop's centre.
  virtual void PlaceWindow(int width, int height) = 0;
  virtual int OuterWidth() const = 0;
  virtual int OuterHeight() const = 0;

  // Delivers every pending message and returns without waiting.
  virtual void ProcessMessages() = 0;

  // Modal Yes/No box, true only for Yes; over the desktop when `overWindow` is false (the window
  // is not on the screen yet).
  virtual bool AskYesNo(std::string_view text, std::string_view caption, bool overWindow) = 0;
  // A file dialog opened on `currentFile`: the names chosen in the order the dialog lists them
  // (bytes as the file system takes them), none when cancelled.
  virtual std::vector<std::string> RunFileDialog(const FileDialogEntry& dialog, bool multiSelect,
                                                 const std::string& currentFile) = 0;
  // Form2 with `preselectItem` selected, and Form3, shown modally: how each was closed and what
  // its groups showed then.
  virtual DialogAnswer RunForm2(int preselectItem) = 0;
  virtual DialogAnswer RunForm3() = 0;

  // The close box was pressed during a command that has now unwound: close from the event loop.
  virtual void CloseLater() = 0;
  // Exit: the program ends with `status` once control is back in its loop.
  virtual void EndProgram(int status) = 0;

  // The folder of the program's executable (the driver lives there) and the working directory
  // the program was started in (config.sav lives there).
  virtual std::string ProgramFolder() const = 0;
  virtual std::string WorkingDirectory() const = 0;
};

class Form1Presenter final : public Window {
 public:
  Form1Presenter(FormView& view, std::unique_ptr<PortDriver> driver);
  ~Form1Presenter() override;
  Form1Presenter(const Form1Presenter&) = delete;
  Form1Presenter& operator=(const Form1Presenter&) = delete;

  // The set-up, once the view has its controls: opens the driver, asks when it is not active,
  // loads or creates config.sav and ends idle.
  void Setup();
  // False when the user declined to go on without port access: the program then ends.
  bool SetupCompleted() const { return setupCompleted_; }

  Core& core() { return core_; }
  SettingsFile& settings() { return settings_; }
  bool CommandRunning() const { return commands_.Running(); }
  // Between the start and the end of an operation, while the controls are locked.
  bool OperationRunning() const { return core_.frame.Running(); }

  // A line for a user who started the program from a terminal (why the port cannot be reached,
  // why the settings cannot be kept). Default: standard error, "brevomat: " first.
  std::function<void(std::string_view line)> ReportToStandardError;

  // --- the view reports -------------------------------------------------------------------------
  // The control named `control` was clicked (a radio group when one of its items was).
  void Clicked(std::string_view control);
  void Timer1Timer() { core_.frame.Timer1Timer(); }
  // The close box: true when the window may close now; during a command the command is asked to
  // stop and CloseLater follows once it has unwound.
  bool MayCloseNow() { return commands_.MayEndNow(CommandGuard::Ending::Close); }

  // --- click handlers ---------------------------------------------------------------------------
  void WriteClick();
  void WriteMultiClick();
  void SetPreBootClick();
  void SWriteClick();
  void SReadClick();
  void ReadClick();
  void EraseFlashClick();
  void StopClick() { core_.frame.StopClick(); }
  // Saves the settings, releases the link and ends the program; during a command it first stops
  // the command, as Stop does, and does all that once the command has unwound.
  void ExitClick();
  // The session ends (logoff, shutdown) and the program with it, without unwinding: the running
  // command is told to stop, an unfinished output's temporary file goes, `lastWork` (what the
  // program would have done at its end) runs, and the port driver is closed, so that a driver
  // service this program installed or started is stopped and removed again rather than left
  // behind as if it had been there before. The settings are not saved, as with the close box.
  void EndSession(const std::function<void()>& lastWork);
  void MemoClearClick() { view_.ClearLog(); }
  void Port_selClick() {
    core_.SelectPortAddresses();
    if (recorder_) recorder_->SetBase(static_cast<std::uint16_t>(core_.link.DataPort));
  }
  void VerifyClick() {}
  void SVerifyClick();
  void WTClick() {}
  void VTClick() {}

  // The current file names of the four file dialogs.
  const std::string& OpenDialog1FileName() const { return openDialog1Name_; }
  const std::string& OpenDialog2FileName() const { return openDialog2Name_; }
  const std::string& OpenDialog3FileName() const { return openDialog3Name_; }

  // --- Window -----------------------------------------------------------------------------------
  WindowDisplay& Display() override { return view_; }
  void SetRunning(bool running) override;
  void ProcessMessages() override;
  bool AskYesNo(std::string_view text, std::string_view caption) override {
    return view_.AskYesNo(text, caption, true);
  }
  bool ExecuteOpenDialog1(bool multiSelect, std::vector<std::string>& files) override;
  bool ExecuteOpenDialog2(std::string& file) override;
  bool ExecuteOpenDialog3(std::string& file) override;
  bool ExecuteSaveDialog1(std::string& file) override;
  std::string SaveDialog1FileName() override { return saveDialog1Name_; }
  std::optional<std::int32_t> ShowForm2(int preselectItem) override;
  std::optional<SaveChoice> ShowForm3(std::optional<SaveChoice> before) override;
  int PortSelIndex() override { return view_.ItemIndex(ControlOf(kForm1, "Port_sel")); }
  int RadioSpeedIndex() override { return view_.ItemIndex(ControlOf(kForm1, "RadioSpeed")); }
  int RadioIpsIndex() override { return view_.ItemIndex(ControlOf(kForm1, "RadioIps")); }

 private:
  // Runs one command handler; a close box or Exit pressed meanwhile is carried out once it
  // returns.
  // A record of the port accesses (BREVOMAT_TRACE) marks where the command starts and ends.
  template <typename Handler>
  void RunCommand(const char* name, Handler&& handler) {
    auto marked = [this, name, &handler] {
      TraceMark(record::Mark::Begin, name);
      handler();
      TraceEnd(name);
    };
    commands_.Run(marked, [this](CommandGuard::Ending ending) {
      if (ending == CommandGuard::Ending::Exit)
        ExitClick();
      else
        view_.CloseLater();
    });
  }
  // The window's state as the settings file stores it, and the other way round.
  WindowSettings CaptureSettings() const;
  void ApplySettings(const WindowSettings& shown);
  // BREVOMAT_TRACE=FILE in the environment: every port access of the window's commands is
  // recorded in FILE, as brevomat-cli --trace does.
  void StartTrace(const std::string& path);
  void TraceMark(record::Mark kind, const std::string& text) {
    if (recorder_) recorder_->Mark(kind, text);
  }
  void TraceEnd(const char* name);
  // A file dialog that remembers its current name: the first name chosen becomes it.
  bool RunFileDialog(const FileDialogEntry& dialog, bool multiSelect, std::string& current,
                     std::vector<std::string>& chosen);

  FormView& view_;
  std::unique_ptr<PortDriver> driver_;
  std::unique_ptr<PortRecorder> recorder_;  // records the driver's back end; gone before it
  Core core_;
  SettingsFile settings_;
  std::string openDialog1Name_, saveDialog1Name_, openDialog2Name_, openDialog3Name_;
  bool setupCompleted_ = false;
  CommandGuard commands_{core_.frame};
};

}  // namespace brevomat
