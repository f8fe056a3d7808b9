// Everything modal the main window shows: Yes/No questions, the file dialogs, Form2 and Form3,
// and the exception message box. Tests put their own provider in place to answer them.
#pragma once

#include <QDialog>
#include <QFileDialog>
#include <QString>
#include <QStringList>
#include <memory>

#include "form/FormLayout.h"

class QMessageBox;
class QWidget;

namespace brevomat::gui {

// A filter as the system writes it ("IPS File(*.ips)|*.ips|all files(*.*)|*.*") in Qt's form:
// one "name (patterns)" line per entry, the lines separated by ";;", the same names and patterns.
QString QtFilter(const char* filter);

// The file dialog `dialog` opened on `currentFile`, ready to run: its filter in Qt's form, the
// mode its use asks for, and no question before an existing file is chosen to be replaced.
std::unique_ptr<QFileDialog> MakeFileDialog(QWidget* parent, const FileDialogEntry& dialog, bool multiSelect,
                                            const QString& currentFile);

// A Yes/No question ready to run, answered only by its buttons: Esc and the close box leave it
// standing, as the system's own question box does. An empty caption stays empty.
std::unique_ptr<QMessageBox> MakeQuestionBox(QWidget* parent, const QString& text, const QString& caption);

class DialogProvider {
 public:
  virtual ~DialogProvider() = default;

  // Modal message box with Yes and No; true only for Yes.
  virtual bool AskYesNo(QWidget* parent, const QString& text, const QString& caption);
  // Runs a file dialog starting at `currentFile`; the chosen names, empty when cancelled. A save
  // dialog takes the name it is given without asking about a file that is there already.
  virtual QStringList RunFileDialog(QWidget* parent, const FileDialogEntry& dialog, bool multiSelect,
                                    const QString& currentFile);
  // Shows Form2 or Form3 modally and returns when it is closed.
  virtual void ShowModal(QDialog& dialog);
  // The message box for an exception that escaped an event handler or the start-up.
  virtual void ShowException(QWidget* parent, const QString& message);
};

}  // namespace brevomat::gui
