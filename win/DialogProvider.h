// Everything modal the main window shows: Yes/No questions, the four file dialogs, Form2 and
// Form3, and the message box for an exception. Tests put their own provider in place to answer.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace brevomat::winui {

class ModalForm;

// One of the window's four file dialogs. The filter is written the way the common dialog's
// filter is usually given, with "|" where the API wants a NUL.
struct FileDialogKind {
  const char* name;  // "OpenDialog1", "SaveDialog1", "OpenDialog2", "OpenDialog3"
  bool save;         // a save dialog (else open)
  const char* filter;
};

inline constexpr char kGameFilter[] =
    "GBA Files (*.gba;*.bin;*.dat;*.sav)|*.gba;*.bin;*.dat;*.sav|All Files (*.*)|*.*";
inline constexpr char kPreBootFilter[] =
    "GBA Files (*.gba;*.bin;*.dat)|*.gba;*.bin;*.dat|All Files (*.*)|*.*";
inline constexpr char kIpsFilter[] = "IPS File(*.ips)|*.ips|all files(*.*)|*.*";

inline constexpr FileDialogKind kOpenDialog1{"OpenDialog1", false, kGameFilter};
inline constexpr FileDialogKind kSaveDialog1{"SaveDialog1", true, kGameFilter};
inline constexpr FileDialogKind kOpenDialog2{"OpenDialog2", false, kPreBootFilter};
inline constexpr FileDialogKind kOpenDialog3{"OpenDialog3", false, kIpsFilter};

class DialogProvider {
 public:
  virtual ~DialogProvider() = default;

  // Modal message box with Yes and No; true only for Yes.
  virtual bool AskYesNo(HWND owner, const std::string& text, const std::string& caption);
  // Runs a file dialog starting at `currentFile`; the chosen names in the order the dialog lists
  // them, empty when cancelled.
  virtual std::vector<std::string> RunFileDialog(HWND owner, const FileDialogKind& dialog, bool multiSelect,
                                                 const std::string& currentFile);
  // Shows Form2 or Form3 modally and returns when it is closed.
  virtual void ShowModal(ModalForm& form);
  // The message box for an exception that escaped an event handler or the start-up.
  virtual void ShowException(HWND owner, const std::string& message);
};

// "a|b|" -> "a\0b\0\0", the double-NUL-terminated list the common dialogs take.
std::string FilterForApi(const char* filter);
// The common dialog's answer: one full name, or with multiple selection a folder followed by the
// names in it, each NUL-terminated, the list ending in an empty name.
std::vector<std::string> SplitSelection(const char* buffer);

}  // namespace brevomat::winui
