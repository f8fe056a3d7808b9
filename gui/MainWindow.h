// Form1, the main window: command buttons, the three radio groups, the log, the Status and Time
// labels, the progress bar, Timer1, the four file dialogs and the two selection dialogs.
//
// The window only shows and asks; every command runs in the window-independent handlers of
// commands/ and reaches the window through the brevomat::Window interface. A command runs inside
// its button's click handler and keeps the window alive by pumping messages. The controls are the
// window's own; tests and tools find them by their object names.
#pragma once

#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QWidget>
#include <memory>
#include <vector>

#include "base/Window.h"
#include "commands/CommandGuard.h"
#include "commands/Core.h"
#include "commands/Settings.h"
#include "gui/DialogProvider.h"
#include "gui/RadioGroup.h"
#include "gui/SelectionDialogs.h"
#include "gui/WindowPlacement.h"
#include "port/PortDriver.h"

namespace brevomat::gui {

inline constexpr const char* kApplicationTitle = "Tarvex Brevomat 1.2nt";

// Memo1: a read-only log, one line per message.
class LogMemo : public QPlainTextEdit {
  Q_OBJECT

 public:
  explicit LogMemo(QWidget* parent);
  void AppendLine(const QString& line);
  void ClearLines();
  // The lines in order; an empty log has none (and one empty line is one line).
  QStringList Lines() const;

 private:
  int lineCount_ = 0;
};

class TForm1 : public QWidget, public Window {
  Q_OBJECT

 public:
  // Runs the whole set-up: opens `driver`, asks when it is not active, loads or creates
  // config.sav in the current working directory and ends idle. `dialogs` answers everything
  // modal (nullptr: the real dialogs).
  TForm1(std::unique_ptr<PortDriver> driver, DialogProvider* dialogs = nullptr);
  ~TForm1() override;

  // False when the user declined to go on without port access: the program then ends.
  bool SetupCompleted() const { return setupCompleted_; }
  Core& core() { return core_; }
  SettingsFile& settings() { return settings_; }
  PortDriver& driver() { return *driver_; }
  DialogProvider& dialogs() { return *dialogs_; }
  // True while a command handler runs.
  bool CommandRunning() const { return commands_.Running(); }

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

  // --- click handlers ---------------------------------------------------------------------------
  void WriteClick();
  void WriteMultiClick();
  void SetPreBootClick();
  void SWriteClick();
  void SReadClick();
  void ReadClick();
  void EraseFlashClick();
  void StopClick();
  void ExitClick();
  void MemoClearClick();
  void Port_selClick();
  void VerifyClick() {}
  void SVerifyClick();
  void WTClick() {}
  void VTClick() {}

  // The window's state as the settings file stores it.
  WindowSettings CaptureSettings() const;
  // The current file names of the four file dialogs.
  QString OpenDialog1FileName() const { return openDialog1Name_; }
  QString SaveDialog1Name() const { return saveDialog1Name_; }
  QString OpenDialog2FileName() const { return openDialog2Name_; }
  QString OpenDialog3FileName() const { return openDialog3Name_; }

 signals:
  // Exit was pressed: the program ends with this status once control returns to its loop.
  void ExitRequested(int status);

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  // --- controls ---------------------------------------------------------------------------------
  RadioGroup* Port_sel;
  RadioGroup* RadioSpeed;
  QPushButton* Write;
  QPushButton* WriteMulti;
  QPushButton* SetPreBoot;
  QPushButton* SWrite;
  QPushButton* SRead;
  QPushButton* Read;
  RadioGroup* RadioIps;
  QPushButton* Stop;
  QPushButton* Exit;
  QPushButton* MemoClear;
  LogMemo* Memo1;
  QPushButton* EraseFlash;
  QPushButton* WT;
  QPushButton* VT;
  QPushButton* Verify;
  QPushButton* SVerify;
  QLabel* Status;
  QLabel* Time;
  QProgressBar* ProgressBar1;
  QTimer* Timer1;
  TForm2* Form2 = nullptr;
  TForm3* Form3 = nullptr;
  OuterGeometry* placement_ = nullptr;

  void BuildLayout();
  void Setup();
  void ApplySettings(const WindowSettings& shown);
  // Runs one command handler; a close box pressed meanwhile closes the window once it returns.
  template <typename Handler>
  void RunCommand(Handler&& handler);

  std::unique_ptr<PortDriver> driver_;
  std::unique_ptr<DialogProvider> ownDialogs_;
  DialogProvider* dialogs_;
  Core core_;
  SettingsFile settings_;
  std::vector<QWidget*> lockedSet_;
  QString openDialog1Name_, saveDialog1Name_, openDialog2Name_, openDialog3Name_;
  bool setupCompleted_ = false;
  CommandGuard commands_{core_.frame};
};

}  // namespace brevomat::gui
