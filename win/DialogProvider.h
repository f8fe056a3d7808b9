// Everything modal the main window shows: Yes/No questions, the four file dialogs, Form2 and
// Form3, and the message box for an exception. Tests put their own provider in place to answer.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "form/FormLayout.h"

namespace brevomat::winui {

class ModalForm;

class DialogProvider {
 public:
  virtual ~DialogProvider() = default;

  // Modal message box with Yes and No; true only for Yes.
  virtual bool AskYesNo(HWND owner, const std::string& text, const std::string& caption);
  // Runs a file dialog starting at `currentFile`; the chosen names in the order the dialog lists
  // them, empty when cancelled.
  virtual std::vector<std::string> RunFileDialog(HWND owner, const FileDialogEntry& dialog, bool multiSelect,
                                                 const std::string& currentFile);
  // Shows Form2 or Form3 modally and returns when it is closed.
  virtual void ShowModal(ModalForm& form);
  // The message box for an exception that escaped an event handler or the start-up.
  virtual void ShowException(HWND owner, const std::string& message);
};

// A filter as the system writes it, "a|b|", -> "a\0b\0\0", the double-NUL-terminated list the
// common dialogs take: the same names and patterns.
std::string FilterForApi(const char* filter);
// The common dialog's answer: one full name, or with multiple selection a folder followed by the
// names in it, each NUL-terminated, the list ending in an empty name.
std::vector<std::string> SplitSelection(const char* buffer);

}  // namespace brevomat::winui
