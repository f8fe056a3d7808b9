#include "win/MainWindow.h"

#include <windows.h>
// after windows.h, whose types it uses
#include <commctrl.h>

#include <exception>
#include <stdexcept>

#include "base/FileAccess.h"
#include "commands/Commands.h"

namespace brevomat::winui {

namespace {

constexpr UINT_PTR kTimer1 = 1;
constexpr int kDesignOuter = 418;

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
      driver_(std::move(driver)),
      ownDialogs_(dialogs == nullptr ? std::make_unique<DialogProvider>() : nullptr),
      dialogs_(dialogs == nullptr ? ownDialogs_.get() : dialogs),
      core_(*this),
      settings_(core_.settings) {
  BuildLayout();
  Setup();
  form2_ = std::make_unique<TForm2>(window_, scale_, font_);
  form3_ = std::make_unique<TForm3>(window_, scale_, font_);
}

TForm1::~TForm1() {
  // The port operations must not outlive the driver that backs them.
  core_.port.Detach();
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

HWND TForm1::AddButton(int id, const char* name, const char* caption, const char* hint, int left, int top,
                       int width, int height) {
  HWND button = CreateButton(window_, id, caption, left, top, width, height, scale_, font_);
  names_.emplace_back(name, button);
  if (hint != nullptr) {
    // TTTOOLINFOA_V2_SIZE: understood by the common controls of every Windows version.
    TOOLINFOA tool{};
    tool.cbSize = TTTOOLINFOA_V2_SIZE;
    tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    tool.hwnd = window_;
    tool.uId = reinterpret_cast<UINT_PTR>(button);
    tool.lpszText = const_cast<char*>(hint);
    SendMessageA(tips_, TTM_ADDTOOLA, 0, reinterpret_cast<LPARAM>(&tool));
    hints_.emplace_back(button, hint);
  }
  return button;
}

void TForm1::AddRadioGroup(RadioGroup& group, int boxId, const char* name, const char* caption,
                           std::initializer_list<const char*> items, RECT design) {
  design.right += design.left;
  design.bottom += design.top;
  group.Create(window_, boxId, boxId + 1, caption, items, design, scale_, font_);
  group.SetItemIndex(0);
  names_.emplace_back(name, group.Box());
  for (int i = 0; i < group.ItemCount(); ++i)
    names_.emplace_back(name + ("_" + std::to_string(i)), group.Item(i));
}

void TForm1::BuildLayout() {
  RegisterMainClass(&TForm1::Procedure);
  font_ = CreateDesignFont(scale_);
  const SIZE outer{scale_(kDesignOuter), scale_(kDesignOuter)};
  const RECT place = CentredOver(DesktopWorkArea(), outer);
  window_ = CreateWindowExA(0, "TForm1", kApplicationTitle, WS_OVERLAPPEDWINDOW, place.left, place.top,
                            outer.cx, outer.cy, nullptr, nullptr, GetModuleHandleA(nullptr), this);
  if (window_ == nullptr) throw std::runtime_error("the main window could not be created");
  tips_ = CreateWindowExA(WS_EX_TOPMOST, TOOLTIPS_CLASSA, nullptr, WS_POPUP | TTS_ALWAYSTIP, CW_USEDEFAULT,
                          CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, window_, nullptr,
                          GetModuleHandleA(nullptr), nullptr);

  AddRadioGroup(Port_sel, kPort_sel, "Port_sel", "Printer Port No.",
                {"LPT1(0x378)", "LPT2(0x278)", "LPT3(0x3bc)"}, RECT{10, 7, 91, 106});
  AddRadioGroup(RadioSpeed, kRadioSpeed, "RadioSpeed", "Speed", {"4", "3", "2", "1"}, RECT{107, 7, 47, 106});
  HWND Write = AddButton(kWrite, "Write", "Write Flash", "Write To Cart", 163, 8, 74, 26);
  HWND WriteMulti =
      AddButton(kWriteMulti, "WriteMulti", "Write Multi", "Write Multi-files to Cart", 244, 8, 75, 26);
  HWND SetPreBoot =
      AddButton(kSetPreBoot, "SetPreBoot", "Set Pre Boot", "Set Multi-Boot File", 325, 8, 75, 26);
  HWND SWrite = AddButton(kSWrite, "SWrite", "Write Saver", "Write Saver Data to Cart", 163, 41, 75, 26);
  HWND SRead = AddButton(kSRead, "SRead", "Backup Saver", "Read Saver Data to File", 244, 41, 75, 26);
  HWND Read = AddButton(kRead, "Read", "Backup Game", "Read Cart to File", 325, 41, 75, 26);
  AddRadioGroup(RadioIps, kRadioIps, "RadioIps", "IPS Apply", {"OFF", "ON"}, RECT{168, 72, 65, 53});
  Stop = AddButton(kStop, "Stop", "Stop", nullptr, 244, 89, 75, 26);
  HWND Exit = AddButton(kExit, "Exit", "Exit", nullptr, 325, 89, 75, 26);
  HWND MemoClear = AddButton(kMemoClear, "MemoClear", "Clear", nullptr, 20, 115, 60, 13);
  Memo1 = CreateControl(window_, "EDIT", "",
                        ES_MULTILINE | ES_READONLY | ES_AUTOHSCROLL | ES_AUTOVSCROLL | WS_HSCROLL |
                            WS_VSCROLL | WS_TABSTOP | WS_GROUP,
                        WS_EX_CLIENTEDGE, kMemo1, RECT{16, 128, 16 + 377, 128 + 185}, scale_, font_);
  // A multi-line edit holds 32 KB of text unless told otherwise; the log of a long session is more.
  SendMessageA(Memo1, EM_SETLIMITTEXT, 0, 0);
  names_.emplace_back("Memo1", Memo1);
  HWND EraseFlash = AddButton(kEraseFlash, "EraseFlash", "EraseFlash", nullptr, 16, 321, 59, 26);
  HWND WT = AddButton(kWT, "WT", "&WT", "Write Test", 172, 321, 39, 26);
  HWND VT = AddButton(kVT, "VT", "&VT", "Verify Test", 213, 321, 39, 26);
  HWND Verify = AddButton(kVerify, "Verify", "Verify Game", "Verify Cart with File", 260, 321, 69, 26);
  HWND SVerify =
      AddButton(kSVerify, "SVerify", "Verify Saver", "Verify Saver Data with File", 333, 321, 68, 26);
  // Labels size themselves to their text; these hold the longest texts they are given.
  Status = CreateControl(window_, "STATIC", "Status", SS_LEFT | SS_NOPREFIX, 0, kStatus,
                         RECT{16, 352, 16 + 330, 352 + 14}, scale_, font_);
  names_.emplace_back("Status", Status);
  Time = CreateControl(window_, "STATIC", "Time", SS_LEFT | SS_NOPREFIX, 0, kTime,
                       RECT{360, 352, 360 + 40, 352 + 14}, scale_, font_);
  names_.emplace_back("Time", Time);
  ProgressBar1 = CreateControl(window_, PROGRESS_CLASSA, "", 0, 0, kProgressBar1,
                               RECT{16, 368, 16 + 337, 368 + 18}, scale_, font_);
  SendMessageA(ProgressBar1, PBM_SETRANGE32, 0, 100);
  SendMessageA(ProgressBar1, PBM_SETPOS, 0, 0);
  names_.emplace_back("ProgressBar1", ProgressBar1);

  // Timer1 runs from the start; the end of the set-up stops it.
  SetTimer(window_, kTimer1, 1000, nullptr);

  lockedButtons_ = {EraseFlash, MemoClear, WriteMulti, SetPreBoot, Write, Verify, Read,
                    SWrite,     SVerify,   SRead,      Exit,       Memo1, VT,     WT};
}

void TForm1::Setup() {
  // The driver lives beside the program.
  driver_->SetDriverPath(ProgramFolder(ExecutablePath()));
  driver_->OpenDriver();
  // The window is not on the screen yet: the question stands on its own, over the desktop.
  if (!driver_->ActiveHW() && !dialogs_->AskYesNo(nullptr, "Could not open the DriverLINX driver.", ""))
    return;
  // Without access the driver's back end answers as a closed port, so the commands find no
  // adapter instead of touching the hardware.
  core_.port.Attach(&driver_->Backend());

  core_.frame.LogLine("Use DLPortIO");
  // Which back end carries the port: DLPortIO itself or the 64-bit port library.
  if (const std::string inUse = driver_->BackEndInUse(); !inUse.empty())
    core_.frame.LogLine("Port access: " + inUse);
  for (const char* name : {"WT", "VT", "Verify", "SVerify"}) ShowWindow(Control(name), SW_HIDE);
  core_.FirstCommand = true;
  settings_.SetDefaults();
  SetStatusText("");
  SetTimeText("");
  core_.frame.ElapsedSeconds = 0;

  settings_.StartUp(CurrentDirectory(), CaptureSettings(), core_.frame);
  ApplySettings(settings_.Apply());

  core_.SelectPortAddresses();
  core_.frame.EndOperation();
  setupCompleted_ = true;
  ProcessMessages();
}

void TForm1::ApplySettings(const WindowSettings& shown) {
  Port_sel.SetItemIndex(shown.PortIndex);
  // The stored size is the outer one in design pixels; the window opens in the desktop's centre.
  const SIZE outer{scale_(shown.WindowWidth), scale_(shown.WindowHeight)};
  const RECT place = CentredOver(DesktopWorkArea(), outer);
  SetWindowPos(window_, nullptr, place.left, place.top, outer.cx, outer.cy, SWP_NOZORDER | SWP_NOACTIVATE);
  RadioSpeed.SetItemIndex(shown.SpeedIndex);
  openDialog1Name_ = shown.OpenFileName;
  openDialog3Name_ = shown.OpenFileName;
  saveDialog1Name_ = shown.SaveFileName;
  openDialog2Name_ = shown.BootFileName;
  RadioIps.SetItemIndex(shown.IpsIndex);
}

WindowSettings TForm1::CaptureSettings() const {
  WindowSettings state;
  state.PortIndex = Port_sel.ItemIndex();
  state.OpenFileName = openDialog1Name_;
  state.SaveFileName = saveDialog1Name_;
  state.BootFileName = openDialog2Name_;
  // The outer size, frame included, as it is when the window is neither minimised nor maximised.
  WINDOWPLACEMENT placement{};
  placement.length = sizeof placement;
  GetWindowPlacement(window_, &placement);
  state.WindowHeight = scale_.Design(placement.rcNormalPosition.bottom - placement.rcNormalPosition.top);
  state.WindowWidth = scale_.Design(placement.rcNormalPosition.right - placement.rcNormalPosition.left);
  state.SpeedIndex = RadioSpeed.ItemIndex();
  state.IpsIndex = RadioIps.ItemIndex();
  return state;
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

// --- Window -------------------------------------------------------------------------------------

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

void TForm1::SetStatusText(std::string_view text) { SetWindowTextA(Status, std::string(text).c_str()); }
void TForm1::SetTimeText(std::string_view text) { SetWindowTextA(Time, std::string(text).c_str()); }
void TForm1::SetProgressPosition(int percent) { SendMessageA(ProgressBar1, PBM_SETPOS, percent, 0); }

void TForm1::SetRunning(bool running) {
  for (HWND control : lockedButtons_) EnableWindow(control, !running);
  Port_sel.SetEnabled(!running);
  RadioSpeed.SetEnabled(!running);
  RadioIps.SetEnabled(!running);
  EnableWindow(Stop, running);
  // While a command works on the cart, a logoff or shutdown asks the user first, with the reason.
  if (running != operationRunning_) SetShutdownBlockReason(window_, running);
  operationRunning_ = running;
}

void TForm1::StartTimer1() { SetTimer(window_, kTimer1, 1000, nullptr); }
void TForm1::StopTimer1() { KillTimer(window_, kTimer1); }

void TForm1::ProcessMessages() {
  MSG msg;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) {
      // The program is ending: leave the request for the loop that runs it.
      PostQuitMessage(static_cast<int>(msg.wParam));
      break;
    }
    if (window_ != nullptr && IsDialogMessageA(window_, &msg)) continue;
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
  commands_.KeepStopping();
}

bool TForm1::AskYesNo(std::string_view text, std::string_view caption) {
  return dialogs_->AskYesNo(window_, std::string(text), std::string(caption));
}

bool TForm1::RunFileDialog(const FileDialogKind& dialog, bool multiSelect, std::string& current,
                           std::vector<std::string>& chosen) {
  chosen = dialogs_->RunFileDialog(window_, dialog, multiSelect, current);
  if (chosen.empty()) return false;
  current = chosen.front();
  return true;
}

bool TForm1::ExecuteOpenDialog1(bool multiSelect, std::vector<std::string>& files) {
  std::vector<std::string> chosen;
  if (!RunFileDialog(kOpenDialog1, multiSelect, openDialog1Name_, chosen)) return false;
  files = std::move(chosen);
  return true;
}

bool TForm1::ExecuteOpenDialog2(std::string& file) {
  std::vector<std::string> chosen;
  if (!RunFileDialog(kOpenDialog2, false, openDialog2Name_, chosen)) return false;
  file = openDialog2Name_;
  return true;
}

bool TForm1::ExecuteOpenDialog3(std::string& file) {
  std::vector<std::string> chosen;
  if (!RunFileDialog(kOpenDialog3, false, openDialog3Name_, chosen)) return false;
  file = openDialog3Name_;
  return true;
}

bool TForm1::ExecuteSaveDialog1(std::string& file) {
  std::vector<std::string> chosen;
  if (!RunFileDialog(kSaveDialog1, false, saveDialog1Name_, chosen)) return false;
  file = saveDialog1Name_;
  return true;
}

std::string TForm1::SaveDialog1FileName() { return saveDialog1Name_; }

void TForm1::ShowForm2(int preselectItem, std::int32_t& CartSizeChunks) {
  form2_->Execute(preselectItem, CartSizeChunks, [this](ModalForm& form) { dialogs_->ShowModal(form); });
}

void TForm1::ShowForm3(std::uint8_t& SelectedSaveBank, std::uint8_t& SelectedSaveSize) {
  form3_->Execute(SelectedSaveBank, SelectedSaveSize, [this](ModalForm& form) { dialogs_->ShowModal(form); });
}

int TForm1::PortSelIndex() { return Port_sel.ItemIndex(); }
int TForm1::RadioSpeedIndex() { return RadioSpeed.ItemIndex(); }
int TForm1::RadioIpsIndex() { return RadioIps.ItemIndex(); }

// --- handlers -----------------------------------------------------------------------------------

template <typename Handler>
void TForm1::RunCommand(Handler&& handler) {
  // Close from the message loop, after the handler and everything it opened have unwound.
  commands_.Run(std::forward<Handler>(handler), [this] { PostMessageA(window_, WM_CLOSE, 0, 0); });
}

void TForm1::Clicked(int id) {
  switch (id) {
    case kWrite:
      return RunCommand([this] { WriteClick(core_); });
    case kWriteMulti:
      return RunCommand([this] { WriteMultiClick(core_); });
    case kSetPreBoot:
      return RunCommand([this] { SetPreBootClick(core_); });
    case kSWrite:
      return RunCommand([this] { SWriteClick(core_); });
    case kSRead:
      return RunCommand([this] { SReadClick(core_); });
    case kRead:
      return RunCommand([this] { ReadClick(core_); });
    case kEraseFlash:
      return RunCommand([this] { EraseFlashClick(core_); });
    case kSVerify:
      SVerifyClick(core_);
      return;
    case kStop:
      return StopClick();
    case kExit:
      return ExitClick();
    case kMemoClear:
      return MemoClearClick();
    // Verify, WT and VT do nothing.
    default:
      if (Port_sel.Holds(id)) Port_selClick();
      return;
  }
}

void TForm1::StopClick() { core_.frame.StopClick(); }

void TForm1::ExitClick() {
  settings_.SaveSettings(CaptureSettings());
  core_.link.ReleaseLink();
  if (Quit) Quit(0);
}

void TForm1::MemoClearClick() {
  SetWindowTextA(Memo1, "");
  lineCount_ = 0;
}

void TForm1::Port_selClick() { core_.SelectPortAddresses(); }

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

void TForm1::EndSession() {
  // The session ends all the same (the user forced it, or nothing held it up): the program is
  // ended once the window has answered, without unwinding. The running command is told to stop,
  // an unfinished backup's temporary file goes, the program does what it would have done at its
  // end, and the port driver is closed, so that a driver service this program installed or
  // started is stopped and removed again rather than left behind as if it had been there before.
  core_.frame.StopFlag = true;
  RemoveTemporaryOutputsNow();
  if (SessionEnding) SessionEnding();
  core_.port.Detach();
  driver_->CloseDriver();
}

LRESULT TForm1::Handle(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_COMMAND:
      if (HIWORD(wParam) == BN_CLICKED) Clicked(LOWORD(wParam));
      return 0;
    case WM_TIMER:
      if (wParam == kTimer1) core_.frame.Timer1Timer();
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
      return operationRunning_ ? FALSE : TRUE;
    case WM_ENDSESSION:
      if (wParam != FALSE) EndSession();
      return 0;
    case WM_CLOSE:
      // A command on the stack below us is asked to stop; the window closes once it has unwound.
      if (commands_.MayCloseNow()) DestroyWindow(window);
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
