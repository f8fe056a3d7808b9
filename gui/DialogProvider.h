// Everything modal the main window shows: Yes/No questions, the file dialogs, Form2 and Form3,
// and the exception message box. Tests put their own provider in place to answer them.
#pragma once

#include <QDialog>
#include <QString>
#include <QStringList>

class QWidget;

namespace brevomat::gui {

// One of the window's four file dialogs.
struct FileDialogSpec {
  const char* name;  // "OpenDialog1", "SaveDialog1", "OpenDialog2", "OpenDialog3"
  bool save;         // a save dialog (else open)
  const char* filter;
};

// Filters in Qt's syntax. Upper-case patterns are listed too because names on Linux are
// case-sensitive while the cart images come from systems where they are not.
inline constexpr const char* kGameFilter =
    "GBA Files (*.gba *.bin *.dat *.sav *.GBA *.BIN *.DAT *.SAV);;All Files (*)";
inline constexpr const char* kPreBootFilter =
    "GBA Files (*.gba *.bin *.dat *.GBA *.BIN *.DAT);;All Files (*)";
inline constexpr const char* kIpsFilter = "IPS File (*.ips *.IPS);;all files (*)";

inline constexpr FileDialogSpec kOpenDialog1{"OpenDialog1", false, kGameFilter};
inline constexpr FileDialogSpec kSaveDialog1{"SaveDialog1", true, kGameFilter};
inline constexpr FileDialogSpec kOpenDialog2{"OpenDialog2", false, kPreBootFilter};
inline constexpr FileDialogSpec kOpenDialog3{"OpenDialog3", false, kIpsFilter};

class DialogProvider {
 public:
  virtual ~DialogProvider() = default;

  // Modal message box with Yes and No; true only for Yes.
  virtual bool AskYesNo(QWidget* parent, const QString& text, const QString& caption);
  // Runs a file dialog starting at `currentFile`; the chosen names, empty when cancelled.
  virtual QStringList RunFileDialog(QWidget* parent, const FileDialogSpec& dialog, bool multiSelect,
                                    const QString& currentFile);
  // Shows Form2 or Form3 modally and returns when it is closed.
  virtual void ShowModal(QDialog& dialog);
  // The message box for an exception that escaped an event handler or the start-up.
  virtual void ShowException(QWidget* parent, const QString& message);
};

}  // namespace brevomat::gui
