#include "win/MainWindow.h"

#include <windows.h>
// after windows.h, whose types it uses
#include <commctrl.h>

#include <exception>
#include <stdexcept>

namespace brevomat::winui {

namespace {

constexpr UINT_PTR kTimer1 = 1;
// Control identifiers: one block per row of the table, a radio group's items after its box.
constexpr int kFirstControlId = 1000;
constexpr int kIdsPerControl = 16;

void RegisterMainClass(WNDPROC procedure) {
  WNDCLASSEXA existing{};
  existing.cbSize = sizeof existing;
  if (GetClassInfoExA(GetModuleHandleA(nullptr), "TForm1", &existing)) return;
  WNDCLASSEXA wc{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = procedure;
  wc.hInstance = GetModuleHandleA(nullptr);
  // The icon at the sizes the system draws it in: the task switcher's and the title bar's.
  wc.hIcon = static_cast<HICON>(LoadImageA(GetModuleHandleA(nullptr), "MAINICON", IMAGE_ICON,
                                           GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CYICON), 0));
  wc.hIconSm =
      static_cast<HICON>(LoadImageA(GetModuleHandleA(nullptr), "MAINICON", IMAGE_ICON,
                                    GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON), 0));
  wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  wc.lpszClassName = "TForm1";
  RegisterClassExA(&wc);
}

std::string CurrentDirectory() {
  char directory[MAX_PATH + 1] = {};
  const DWORD length = GetCurrentDirectoryA(sizeof directory, directory);
  return length > 0 && length < sizeof directory ? std::string(directory, length) : std::string();
}

// Names the reason a logoff or shutdown waits, where Windows shows one (Vista on). Looked up at
// run time: Windows XP has no such function, and there answering WM_QUERYENDSESSION with FALSE is
// all it takes.
void SetShutdownBlockReason(HWND window, bool blocked) {
  using Create = BOOL(WINAPI*)(HWND, LPCWSTR);
  using Destroy = BOOL(WINAPI*)(HWND);
  const HMODULE user32 = GetModuleHandleA("user32.dll");
  if (user32 == nullptr) return;
  if (blocked) {
    if (const auto create = reinterpret_cast<Create>(
            reinterpret_cast<void*>(GetProcAddress(user32, "ShutdownBlockReasonCreate"))))
      create(window, L"A command is running on the cartridge.");
  } else if (const auto destroy = reinterpret_cast<Destroy>(
                 reinterpret_cast<void*>(GetProcAddress(user32, "ShutdownBlockReasonDestroy")))) {
    destroy(window);
  }
}

std::string ExecutablePath() {
  char path[MAX_PATH + 1] = {};
  const DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
  return length > 0 && length < sizeof path ? std::string(path, length) : std::string();
}

}  // namespace

std::string ProgramFolder(std::string_view executable) {
  const std::size_t slash = executable.find_last_of("\\/");
  if (slash == std::string_view::npos) return {};
  // "C:\brevomat.exe": the folder is the drive's root, which keeps its backslash.
  if (slash == 2 && executable[1] == ':') return std::string(executable.substr(0, 3));
  return std::string(executable.substr(0, slash));
}

TForm1::TForm1(std::unique_ptr<PortDriver> driver, DialogProvider* dialogs)
    : scale_(Scale::OfScreen()),
      ownDialogs_(dialogs == nullptr ? std::make_unique<DialogProvider>() : nullptr),
      dialogs_(dialogs == nullptr ? ownDialogs_.get() : dialogs),
      presenter_(*this, std::move(driver)) {
  BuildLayout();
  presenter_.Setup();
  form2_ = std::make_unique<TForm2>(window_, scale_, font_);
  form3_ = std::make_unique<TForm3>(window_, scale_, font_);
}

TForm1::~TForm1() {
  Quit = nullptr;
  BeforeMessage = nullptr;
  form2_.reset();
  form3_.reset();
  if (window_ != nullptr) DestroyWindow(window_);
  if (font_ != nullptr) DeleteObject(font_);
}

void TForm1::Show() {
  ShowWindow(window_, SW_SHOW);
  UpdateWindow(window_);
}

void TForm1::AddHint(HWND control, const char* hint) {
  if (*hint == '\0') return;
  // TTTOOLINFOA_V2_SIZE: understood by the common controls of every Windows version.
  TOOLINFOA tool{};
  tool.cbSize = TTTOOLINFOA_V2_SIZE;
  tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
  tool.hwnd = window_;
  tool.uId = reinterpret_cast<UINT_PTR>(control);
  tool.lpszText = const_cast<char*>(hint);
  SendMessageA(tips_, TTM_ADDTOOLA, 0, reinterpret_cast<LPARAM>(&tool));
  hints_.emplace_back(control, hint);
}

void TForm1::BuildLayout() {
  RegisterMainClass(&TForm1::Procedure);
  font_ = CreateDesignFont(scale_);
  const SIZE outer{scale_(kForm1.width), scale_(kForm1.height)};
  const RECT place = CentredOver(DesktopWorkArea(), outer);
  window_ = CreateWindowExA(0, "TForm1", kForm1.caption, WS_OVERLAPPEDWINDOW, place.left, place.top, outer.cx,
                            outer.cy, nullptr, nullptr, GetModuleHandleA(nullptr), this);
  if (window_ == nullptr) throw std::runtime_error("the main window could not be created");
  tips_ = CreateWindowExA(WS_EX_TOPMOST, TOOLTIPS_CLASSA, nullptr, WS_POPUP | TTS_ALWAYSTIP, CW_USEDEFAULT,
                          CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, window_, nullptr,
                          GetModuleHandleA(nullptr), nullptr);

  RadioGroup* groups[] = {&Port_sel, &RadioSpeed, &RadioIps};
  std::size_t nextGroup = 0;
  int id = kFirstControlId;
  for (const ControlEntry& c : kForm1.controls) {
    const DesignRect& d = c.design;
    const RECT design{d.left, d.top, d.left + d.width, d.top + d.height};
    Built row{&c, id, nullptr, nullptr};
    switch (c.kind) {
      case ControlKind::Button:
        row.window = CreateButton(window_, id, c.caption, d.left, d.top, d.width, d.height, scale_, font_);
        AddHint(row.window, c.hint);
        break;
      case ControlKind::RadioGroup:
        row.group = groups[nextGroup++];
        row.group->Create(window_, id, id + 1, c.caption, c.items, design, scale_, font_);
        row.group->SetItemIndex(c.initialItem);
        row.window = row.group->Box();
        for (int i = 0; i < row.group->ItemCount(); ++i)
          names_.emplace_back(c.name + ("_" + std::to_string(i)), row.group->Item(i));
        break;
      case ControlKind::Memo:
        Memo1 = row.window = CreateControl(window_, "EDIT", "",
                                           ES_MULTILINE | ES_READONLY | ES_AUTOHSCROLL | ES_AUTOVSCROLL |
                                               WS_HSCROLL | WS_VSCROLL | WS_TABSTOP | WS_GROUP,
                                           WS_EX_CLIENTEDGE, id, design, scale_, font_);
        // A multi-line edit holds 32 KB of text unless told otherwise; the log of a long session is more.
        SendMessageA(Memo1, EM_SETLIMITTEXT, 0, 0);
        break;
      case ControlKind::Label:
        // A label is as large as its text, whatever text it is given.
        row.window = CreateControl(window_, "STATIC", "", SS_LEFT | SS_NOPREFIX, 0, id,
                                   RECT{d.left, d.top, d.left + 1, d.top + 1}, scale_, font_);
        SetLabelText(row.window, c.caption);
        (std::string_view(c.name) == "Time" ? Time : Status) = row.window;
        break;
      case ControlKind::ProgressBar:
        ProgressBar1 = row.window =
            CreateControl(window_, PROGRESS_CLASSA, "", 0, 0, id, design, scale_, font_);
        SendMessageA(ProgressBar1, PBM_SETRANGE32, 0, 100);
        SendMessageA(ProgressBar1, PBM_SETPOS, 0, 0);
        break;
    }
    names_.emplace_back(c.name, row.window);
    built_.push_back(row);
    id += kIdsPerControl;
  }

  // Timer1 runs from the start; the end of the set-up stops it.
  SetTimer(window_, kTimer1, 1000, nullptr);
}

const TForm1::Built& TForm1::Find(const ControlEntry& control) const {
  for (const Built& row : built_)
    if (row.entry == &control) return row;
  throw std::logic_error(std::string("Form1 has no ") + control.name);
}

HWND TForm1::Control(std::string_view name) const {
  for (const auto& [n, control] : names_)
    if (n == name) return control;
  return nullptr;
}

std::string TForm1::Hint(HWND control) const {
  // What the tool tip control holds for the button.
  char text[80] = {};
  TOOLINFOA tool{};
  tool.cbSize = TTTOOLINFOA_V2_SIZE;
  tool.hwnd = window_;
  tool.uId = reinterpret_cast<UINT_PTR>(control);
  tool.lpszText = text;
  if (!SendMessageA(tips_, TTM_GETTOOLINFOA, 0, reinterpret_cast<LPARAM>(&tool))) return {};
  SendMessageA(tips_, TTM_GETTEXTA, sizeof text, reinterpret_cast<LPARAM>(&tool));
  return text;
}

std::vector<std::string> TForm1::Lines() const {
  std::vector<std::string> lines;
  if (lineCount_ == 0) return lines;
  const std::string text = WindowText(Memo1);
  std::size_t start = 0;
  for (std::size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2)
    lines.push_back(text.substr(start, end - start));
  lines.push_back(text.substr(start));
  return lines;
}

// --- FormView -----------------------------------------------------------------------------------

void TForm1::AppendLog(std::string_view line) {
  const int end = GetWindowTextLengthA(Memo1);
  SendMessageA(Memo1, EM_SETSEL, end, end);
  std::string text = lineCount_ == 0 ? std::string(line) : "\r\n" + std::string(line);
  SendMessageA(Memo1, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(text.c_str()));
  // The newest line in view, and every line shown from its start, also after a long one.
  SendMessageA(Memo1, EM_SCROLLCARET, 0, 0);
  SendMessageA(Memo1, WM_HSCROLL, SB_LEFT, 0);
  ++lineCount_;
}

void TForm1::ClearLog() {
  SetWindowTextA(Memo1, "");
  lineCount_ = 0;
}

void TForm1::SetStatusText(std::string_view text) { SetLabelText(Status, std::string(text).c_str()); }
void TForm1::SetTimeText(std::string_view text) { SetLabelText(Time, std::string(text).c_str()); }
void TForm1::SetProgressPosition(int percent) { SendMessageA(ProgressBar1, PBM_SETPOS, percent, 0); }

void TForm1::SetControlEnabled(const ControlEntry& control, bool enabled) {
  const Built& row = Find(control);
  if (row.group != nullptr)
    row.group->SetEnabled(enabled);
  else
    EnableWindow(row.window, enabled);
}

void TForm1::HideControl(const ControlEntry& control) { ShowWindow(Find(control).window, SW_HIDE); }

void TForm1::RunningChanged(bool running) {
  // While a command works on the cart, a logoff or shutdown asks the user first, with the reason.
  SetShutdownBlockReason(window_, running);
}

int TForm1::ItemIndex(const ControlEntry& group) const { return Find(group).group->ItemIndex(); }
void TForm1::SetItemIndex(const ControlEntry& group, int index) { Find(group).group->SetItemIndex(index); }

void TForm1::PlaceWindow(int width, int height) {
  // The stored size is the outer one in design pixels; the window opens in the desktop's centre.
  const SIZE outer{scale_(width), scale_(height)};
  const RECT place = CentredOver(DesktopWorkArea(), outer);
  SetWindowPos(window_, nullptr, place.left, place.top, outer.cx, outer.cy, SWP_NOZORDER | SWP_NOACTIVATE);
}

namespace {
// The outer rectangle as it is when the window is neither minimised nor maximised.
RECT NormalPosition(HWND window) {
  WINDOWPLACEMENT placement{};
  placement.length = sizeof placement;
  GetWindowPlacement(window, &placement);
  return placement.rcNormalPosition;
}
}  // namespace

int TForm1::OuterWidth() const {
  const RECT r = NormalPosition(window_);
  return scale_.Design(r.right - r.left);
}

int TForm1::OuterHeight() const {
  const RECT r = NormalPosition(window_);
  return scale_.Design(r.bottom - r.top);
}

void TForm1::StartTimer1() { SetTimer(window_, kTimer1, 1000, nullptr); }
void TForm1::StopTimer1() { KillTimer(window_, kTimer1); }

void TForm1::ProcessMessages() {
  MSG msg;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) {
      // The program is asked to end. A command below us is stopped first and the window closes
      // once it has unwound; otherwise the request is left for the loop that runs the program.
      if (presenter_.MayCloseNow()) PostQuitMessage(static_cast<int>(msg.wParam));
      break;
    }
    if (window_ != nullptr && IsDialogMessageA(window_, &msg)) continue;
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
}

bool TForm1::AskYesNo(std::string_view text, std::string_view caption, bool overWindow) {
  return dialogs_->AskYesNo(overWindow ? window_ : nullptr, std::string(text), std::string(caption));
}

std::vector<std::string> TForm1::RunFileDialog(const FileDialogEntry& dialog, bool multiSelect,
                                               const std::string& currentFile) {
  return dialogs_->RunFileDialog(window_, dialog, multiSelect, currentFile);
}

DialogAnswer TForm1::RunForm2(int preselectItem) {
  return form2_->Execute(preselectItem, [this](ModalForm& form) { dialogs_->ShowModal(form); });
}

DialogAnswer TForm1::RunForm3() {
  return form3_->Execute([this](ModalForm& form) { dialogs_->ShowModal(form); });
}

// From the message loop, after the handler and everything it opened have unwound.
void TForm1::CloseLater() { PostMessageA(window_, WM_CLOSE, 0, 0); }

void TForm1::EndProgram(int status) {
  if (Quit) Quit(status);
}

std::string TForm1::ProgramFolder() const { return winui::ProgramFolder(ExecutablePath()); }
std::string TForm1::WorkingDirectory() const { return CurrentDirectory(); }

// --- handlers -----------------------------------------------------------------------------------

void TForm1::Clicked(int id) {
  // A button's identifier is its row's; a radio group's items follow the group box's.
  for (const Built& row : built_)
    if (id == row.id || (row.group != nullptr && row.group->Holds(id)))
      return presenter_.Clicked(row.entry->name);
}

LRESULT CALLBACK TForm1::Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    auto* create = reinterpret_cast<CREATESTRUCTA*>(lParam);
    SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  auto* form = reinterpret_cast<TForm1*>(GetWindowLongPtrA(window, GWLP_USERDATA));
  if (form == nullptr) return DefWindowProcA(window, message, wParam, lParam);
  // An exception must not cross the system's code that called us: it is shown, and the program
  // goes on running.
  try {
    if (form->BeforeMessage) form->BeforeMessage();
    return form->Handle(window, message, wParam, lParam);
  } catch (const std::exception& e) {
    form->dialogs_->ShowException(window, e.what());
  } catch (...) {
    form->dialogs_->ShowException(window, "Unknown exception");
  }
  return 0;
}

LRESULT TForm1::Handle(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_COMMAND:
      if (HIWORD(wParam) == BN_CLICKED) Clicked(LOWORD(wParam));
      return 0;
    case WM_TIMER:
      if (wParam == kTimer1) presenter_.Timer1Timer();
      return 0;
    case WM_CTLCOLORSTATIC:
      // The read-only log keeps the white of a text field.
      if (reinterpret_cast<HWND>(lParam) == Memo1) {
        SetBkColor(reinterpret_cast<HDC>(wParam), GetSysColor(COLOR_WINDOW));
        SetTextColor(reinterpret_cast<HDC>(wParam), GetSysColor(COLOR_WINDOWTEXT));
        return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_WINDOW));
      }
      break;
    case WM_QUERYENDSESSION:
      // A logoff or shutdown waits while a command works on the cart: a write cut off half-way
      // leaves a cart that does not start.
      return presenter_.OperationRunning() ? FALSE : TRUE;
    case WM_ENDSESSION:
      // The session ends all the same (the user forced it, or nothing held it up): the program is
      // ended once the window has answered.
      if (wParam != FALSE) presenter_.EndSession(SessionEnding);
      return 0;
    case WM_CLOSE:
      // A command on the stack below us is asked to stop; the window closes once it has unwound.
      if (presenter_.MayCloseNow()) DestroyWindow(window);
      return 0;
    case WM_DESTROY:
      KillTimer(window, kTimer1);
      if (Quit) Quit(0);
      return 0;
    case WM_NCDESTROY:
      window_ = nullptr;
      break;
    default:
      break;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

}  // namespace brevomat::winui
