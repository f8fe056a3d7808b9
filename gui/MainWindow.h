// Form1, the main window, drawn with Qt over the window-independent Form1Presenter: the controls
// are built from the form's table, their clicks and Timer1's ticks go to the presenter, and the
// presenter draws, asks and reads through this window's FormView. Tests and tools find the
// controls by their object names, which are the names in the table.
#pragma once

#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QWidget>
#include <memory>
#include <string>
#include <vector>

#include "form/Form1Presenter.h"
#include "gui/DialogProvider.h"
#include "gui/RadioGroup.h"
#include "gui/SelectionDialogs.h"
#include "gui/WindowPlacement.h"
#include "port/PortDriver.h"

namespace brevomat::gui {

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

class TForm1 : public QWidget, private FormView {
  Q_OBJECT

 public:
  // Builds the window and runs the presenter's set-up on `driver`. `dialogs` answers everything
  // modal (nullptr: the real dialogs).
  TForm1(std::unique_ptr<PortDriver> driver, DialogProvider* dialogs = nullptr);
  ~TForm1() override;

  Form1Presenter& presenter() { return presenter_; }
  bool SetupCompleted() const { return presenter_.SetupCompleted(); }
  DialogProvider& dialogs() { return *dialogs_; }

 signals:
  // Exit was pressed: the program ends with this status once control returns to its loop.
  void ExitRequested(int status);

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  // --- FormView ---------------------------------------------------------------------------------
  void AppendLog(std::string_view line) override;
  void ClearLog() override { Memo1->ClearLines(); }
  void SetStatusText(std::string_view text) override;
  void SetTimeText(std::string_view text) override;
  void SetProgressPosition(int percent) override { ProgressBar1->setValue(percent); }
  void SetControlEnabled(const ControlEntry& control, bool enabled) override;
  void HideControl(const ControlEntry& control) override;
  int ItemIndex(const ControlEntry& group) const override;
  void SetItemIndex(const ControlEntry& group, int index) override;
  void PlaceWindow(int width, int height) override;
  int OuterWidth() const override;
  int OuterHeight() const override;
  void StartTimer1() override { Timer1->start(); }
  void StopTimer1() override { Timer1->stop(); }
  void ProcessMessages() override;
  bool AskYesNo(std::string_view text, std::string_view caption, bool overWindow) override;
  std::vector<std::string> RunFileDialog(const FileDialogEntry& dialog, bool multiSelect,
                                         const std::string& currentFile) override;
  DialogAnswer RunForm2(int preselectItem) override;
  DialogAnswer RunForm3() override;
  void CloseLater() override;
  void EndProgram(int status) override { emit ExitRequested(status); }
  std::string ProgramFolder() const override;
  std::string WorkingDirectory() const override;

  void BuildLayout();
  QWidget* Control(const ControlEntry& control) const;

  LogMemo* Memo1 = nullptr;
  QLabel* Status = nullptr;
  QLabel* Time = nullptr;
  QProgressBar* ProgressBar1 = nullptr;
  QTimer* Timer1 = nullptr;
  TForm2* Form2 = nullptr;
  TForm3* Form3 = nullptr;
  OuterGeometry* placement_ = nullptr;

  std::unique_ptr<DialogProvider> ownDialogs_;
  DialogProvider* dialogs_;
  Form1Presenter presenter_;
};

}  // namespace brevomat::gui
