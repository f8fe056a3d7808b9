#include "win/DialogProvider.h"

#include <windows.h>
// after windows.h, whose types it uses
#include <commdlg.h>

#include <cstring>

#include "base/Operation.h"
#include "commands/Captions.h"
#include "win/SelectionDialogs.h"

namespace brevomat::winui {

namespace {
// Room for many names picked at once: the dialog fails rather than cut the list.
constexpr DWORD kSelectionBytes = 64 * 1024;
}  // namespace

bool DialogProvider::AskYesNo(HWND owner, const std::string& text, const std::string& caption) {
  return MessageBoxA(owner, text.c_str(), caption.c_str(), MB_YESNO | MB_ICONQUESTION) == IDYES;
}

std::string FilterForApi(const char* filter) {
  std::string result(filter);
  for (char& c : result)
    if (c == '|') c = '\0';
  result.push_back('\0');
  result.push_back('\0');
  return result;
}

std::vector<std::string> SplitSelection(const char* buffer) {
  std::vector<std::string> parts;
  for (const char* p = buffer; *p != '\0'; p += std::strlen(p) + 1) parts.emplace_back(p);
  if (parts.size() <= 1) return parts;
  std::string folder = parts.front();
  if (folder.back() != '\\') folder += '\\';
  std::vector<std::string> names;
  for (std::size_t i = 1; i < parts.size(); ++i) names.push_back(folder + parts[i]);
  return names;
}

std::vector<std::string> DialogProvider::RunFileDialog(HWND owner, const FileDialogEntry& dialog,
                                                       bool multiSelect, const std::string& currentFile) {
  std::vector<char> buffer(kSelectionBytes, '\0');
  if (currentFile.size() < kFileNameBytes) std::memcpy(buffer.data(), currentFile.data(), currentFile.size());
  const std::string filter = FilterForApi(dialog.filter);
  OPENFILENAMEA ofn{};
  ofn.lStructSize = sizeof ofn;
  ofn.hwndOwner = owner;
  ofn.lpstrFilter = filter.c_str();
  ofn.nFilterIndex = 1;
  ofn.lpstrFile = buffer.data();
  ofn.nMaxFile = multiSelect ? kSelectionBytes : kFileNameBytes;
  ofn.Flags = OFN_EXPLORER | OFN_HIDEREADONLY | OFN_NOCHANGEDIR;
  if (multiSelect) ofn.Flags |= OFN_ALLOWMULTISELECT;
  if (!dialog.save) ofn.Flags |= OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST;
  const BOOL chosen = dialog.save ? GetSaveFileNameA(&ofn) : GetOpenFileNameA(&ofn);
  if (!chosen) return {};
  return multiSelect ? SplitSelection(buffer.data()) : std::vector<std::string>{buffer.data()};
}

void DialogProvider::ShowModal(ModalForm& form) { form.RunModal(); }

void DialogProvider::ShowException(HWND owner, const std::string& message) {
  MessageBoxA(owner, message.c_str(), kProgramTitle, MB_OK | MB_ICONERROR);
}

}  // namespace brevomat::winui
