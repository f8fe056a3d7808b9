// The Win32 window, created for real and driven as a user drives it: BM_CLICK on its buttons and
// radio items, WM_GETTEXT on Memo1 and the labels, WM_CLOSE for the close box. The file dialogs,
// message boxes and the two modal forms are answered through the dialog seam. Runs under Wine.
#include <gtest/gtest.h>
#include <windows.h>
// after windows.h, whose types it uses
#include <commctrl.h>

#include <cstring>
#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "port/FakeWindows.h"
#include "port/PortDriver.h"
#include "sim/CartDirectory.h"
#include "support/TestImages.h"
#include "win/DialogProvider.h"
#include "win/MainWindow.h"

namespace brevomat::testing {
namespace {

using winui::TForm1;

class ScriptedDialogs final : public winui::DialogProvider {
 public:
  struct FileDialogUse {
    std::string name, filter, currentFile;
    bool multiSelect;
  };
  std::deque<bool> answers;                                    // Yes/No; No when empty
  std::deque<std::vector<std::string>> fileAnswers;            // empty = cancel; cancel when none is left
  std::vector<std::pair<std::string, std::string>> questions;  // text, caption
  std::vector<FileDialogUse> fileDialogs;
  std::function<void()> onFileDialog;              // runs while a file dialog is "open"
  std::function<void(winui::ModalForm&)> onModal;  // runs in place of the modal loop

  bool AskYesNo(HWND, const std::string& text, const std::string& caption) override {
    questions.emplace_back(text, caption);
    if (answers.empty()) return false;
    const bool answer = answers.front();
    answers.pop_front();
    return answer;
  }
  std::vector<std::string> RunFileDialog(HWND, const FileDialogEntry& dialog, bool multiSelect,
                                         const std::string& currentFile) override {
    fileDialogs.push_back({dialog.name, dialog.filter, currentFile, multiSelect});
    if (onFileDialog) onFileDialog();
    if (fileAnswers.empty()) return {};
    auto answer = fileAnswers.front();
    fileAnswers.pop_front();
    return answer;
  }
  void ShowModal(winui::ModalForm& form) override { onModal ? onModal(form) : form.RunModal(); }
  void ShowException(HWND, const std::string& message) override { ADD_FAILURE() << "exception: " << message; }
};

// Each test runs in its own empty working directory, with a virtual cart in virtual-cart\ there.
class WindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    static int serial = 0;
    dir_ = std::filesystem::temp_directory_path() /
           ("brevomat-win-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(serial++));
    std::filesystem::create_directories(dir_);
    previous_ = std::filesystem::current_path();
    std::filesystem::current_path(dir_);
    std::string error;
    cart_ = sim::VirtualCart::Open(dir_ / "virtual-cart", error);
    ASSERT_NE(cart_, nullptr) << error;
  }
  void TearDown() override {
    form_.reset();
    cart_.reset();
    std::filesystem::current_path(previous_);
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }

  TForm1& Start() {
    form_.reset();
    form_ = std::make_unique<TForm1>(std::make_unique<FixedPortDriver>(cart_->Port()), &dialogs);
    form_->Quit = [this](int status) { quits.push_back(status); };
    form_->Show();
    return *form_;
  }
  HWND Ctl(const char* name) {
    HWND control = form_->Control(name);
    EXPECT_NE(control, nullptr) << name;
    return control;
  }
  void Click(const char* name) { SendMessageA(Ctl(name), BM_CLICK, 0, 0); }
  std::string Text(const char* name) { return winui::WindowText(Ctl(name)); }
  bool Enabled(const char* name) { return IsWindowEnabled(Ctl(name)) != FALSE; }
  void ExpectRunning(bool running);
  std::string File(const std::string& name, const std::vector<std::uint8_t>& bytes) {
    WriteBytes(dir_ / name, bytes);
    return (dir_ / name).string();
  }
  // A window's rectangle in its parent's client coordinates (the screen's for a top-level one).
  static RECT Placement(HWND window) {
    RECT r;
    GetWindowRect(window, &r);
    if (HWND parent = GetParent(window); parent != nullptr && (GetWindowLongA(window, GWL_STYLE) & WS_CHILD))
      MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&r), 2);
    return r;
  }

  std::filesystem::path dir_, previous_;
  std::unique_ptr<sim::VirtualCart> cart_;
  ScriptedDialogs dialogs;
  std::unique_ptr<TForm1> form_;
  std::vector<int> quits;
};

const char* const kLockedSet[] = {"EraseFlash", "RadioIps",   "RadioIps_1", "MemoClear",  "Port_sel",
                                  "Port_sel_2", "RadioSpeed", "WriteMulti", "SetPreBoot", "Write",
                                  "Verify",     "Read",       "SWrite",     "SVerify",    "SRead",
                                  "Exit",       "Memo1",      "VT",         "WT"};

// Running: every control of the locked set disabled and Stop enabled; idle: the opposite.
void WindowTest::ExpectRunning(bool running) {
  for (const char* name : kLockedSet) EXPECT_EQ(Enabled(name), !running) << name;
  EXPECT_EQ(Enabled("Stop"), running);
}

bool EndsWithSeconds(const std::string& line) {
  return line.rfind("Time = ", 0) == 0 && line.size() > 11 && line.substr(line.size() - 4) == " Sec";
}

TEST_F(WindowTest, LayoutAfterStartUp) {
  TForm1& form = Start();
  const winui::Scale scale = winui::Scale::OfScreen();
  EXPECT_EQ(winui::WindowText(form.Handle()), "Tarvex Brevomat 1.2nt");
  // The outer size, frame included, centred on the desktop.
  const RECT outer = Placement(form.Handle());
  const RECT desk = winui::DesktopWorkArea();
  EXPECT_EQ(outer.right - outer.left, scale(418));
  EXPECT_EQ(outer.bottom - outer.top, scale(418));
  EXPECT_LE(std::abs((outer.left + outer.right) - (desk.left + desk.right)), 1);
  EXPECT_LE(std::abs((outer.top + outer.bottom) - (desk.top + desk.bottom)), 1);

  // Every control of the table where the table says, with its caption, hint and items.
  for (const ControlEntry& c : kForm1.controls) {
    SCOPED_TRACE(c.name);
    HWND control = Ctl(c.name);
    const bool label = c.kind == ControlKind::Label;
    const std::string shown = c.kind == ControlKind::Memo ? "Use DLPortIO" : label ? "" : c.caption;
    EXPECT_EQ(winui::WindowText(control), shown);
    EXPECT_EQ(form.Hint(control), c.hint);
    EXPECT_EQ(IsWindowVisible(control) != FALSE, c.group != ControlGroup::Hidden);
    for (std::size_t i = 0; i < c.items.size(); ++i)
      EXPECT_EQ(winui::WindowText(Ctl((c.name + ("_" + std::to_string(i))).c_str())), c.items[i]);
    const RECT r = Placement(control);
    EXPECT_EQ(r.left, scale(c.design.left));
    EXPECT_EQ(r.top, scale(c.design.top));
    if (label) continue;
    EXPECT_EQ(r.right - r.left, scale(c.design.width));
    EXPECT_EQ(r.bottom - r.top, scale(c.design.height));
  }
  EXPECT_TRUE(GetWindowLongA(Ctl("Memo1"), GWL_STYLE) & ES_READONLY);
  EXPECT_EQ(SendMessageA(Ctl("ProgressBar1"), PBM_GETRANGE, FALSE, 0), 100);
  EXPECT_EQ(form.presenter().PortSelIndex(), 0);
  EXPECT_EQ(form.presenter().RadioSpeedIndex(), 0);
  EXPECT_EQ(form.presenter().RadioIpsIndex(), 0);
  ExpectRunning(false);
  // The font the layout was drawn for.
  LOGFONTA font{};
  GetObjectA(reinterpret_cast<HFONT>(SendMessageA(Ctl("Write"), WM_GETFONT, 0, 0)), sizeof font, &font);
  EXPECT_STREQ(font.lfFaceName, "MS Sans Serif");
  EXPECT_EQ(font.lfHeight, -MulDiv(8, scale.dpi(), 72));
}

TEST_F(WindowTest, WriteFlashThenEraseFlash) {
  Start();
  const std::vector<std::uint8_t> image = MakeImage(0x10000);
  const std::string game = File("game.gba", image);
  dialogs.fileAnswers = {{game}};
  Click("Write");
  ASSERT_EQ(dialogs.fileDialogs.size(), 1u);
  EXPECT_EQ(dialogs.fileDialogs[0].name, "OpenDialog1");
  EXPECT_EQ(dialogs.fileDialogs[0].filter,
            "GBA Files (*.gba;*.bin;*.dat;*.sav)|*.gba;*.bin;*.dat;*.sav|All Files (*.*)|*.*");
  std::vector<std::string> log = form_->Lines();
  // The fresh cart is erased: the write only programs the one block.
  ASSERT_EQ(log.size(), 8u) << Text("Memo1");
  EXPECT_EQ(std::vector<std::string>(log.begin(), log.begin() + 7),
            (std::vector<std::string>{"Use DLPortIO", "PortMode = EPP", "FileName = " + game,
                                      "FileSize = 65536", "Game Name = GBA Tests", "Game Code = 1337",
                                      "Blocks = 0 skipped, 1 programmed, 0 erased"}));
  EXPECT_TRUE(EndsWithSeconds(log[7])) << log[7];
  EXPECT_EQ(Text("Status"), "Write Cart ok");
  EXPECT_EQ(SendMessageA(Ctl("ProgressBar1"), PBM_GETPOS, 0, 0), 100);
  ExpectRunning(false);
  ASSERT_NE(cart_->Flash(), nullptr);
  EXPECT_TRUE(std::equal(image.begin(), image.end(), cart_->Flash()->Flash().begin()));

  dialogs.answers = {true};
  Click("EraseFlash");
  ASSERT_EQ(dialogs.questions.size(), 1u);
  EXPECT_EQ(dialogs.questions[0],
            std::make_pair(std::string("Do You want to Erase Flash Data?"), std::string("Erase Flash")));
  log = form_->Lines();
  ASSERT_GE(log.size(), 12u);
  EXPECT_EQ(log[8], "");
  EXPECT_EQ(log[9], "PortMode = EPP");
  EXPECT_EQ(log[log.size() - 2], "Cart Erase Ok");
  EXPECT_EQ(Text("Status"), "Cart Erase Ok");
  EXPECT_TRUE(std::all_of(image.begin(), image.end(), [&, i = std::size_t{0}](std::uint8_t) mutable {
    return cart_->Flash()->Flash()[i++] == 0xFF;
  }));

  Click("MemoClear");
  EXPECT_TRUE(form_->Lines().empty());
  EXPECT_EQ(Text("Memo1"), "");
}

// Stop, and the close box, in the middle of a write: the IPS question comes while the operation
// runs, with every control but Stop locked.
TEST_F(WindowTest, StopAndCloseBoxDuringAnOperation) {
  enum class Ending { Stop, CloseBox, Logoff };
  for (const Ending ending : {Ending::Stop, Ending::CloseBox, Ending::Logoff}) {
    const bool closeBox = ending == Ending::CloseBox;
    SCOPED_TRACE(static_cast<int>(ending));
    TForm1& form = Start();
    quits.clear();
    dialogs.fileDialogs.clear();
    int sessionEndings = 0;
    form.SessionEnding = [&sessionEndings] { ++sessionEndings; };
    // Idle, the window lets the session end.
    EXPECT_EQ(SendMessageA(form.Handle(), WM_QUERYENDSESSION, 0, 0), TRUE);
    SendMessageA(Ctl("RadioIps_1"), BM_CLICK, 0, 0);
    const std::string game = File("game.gba", MakeImage(0x40000));
    dialogs.fileAnswers = {{game}};
    bool locked = false;
    dialogs.onFileDialog = [&] {
      if (dialogs.fileDialogs.back().name != "OpenDialog3") return;
      ExpectRunning(true);
      locked = true;
      if (ending == Ending::Logoff) {
        // A command on the cart holds the session up; ended all the same, it is told to stop and
        // the program's last work is done before Windows ends it.
        EXPECT_EQ(SendMessageA(form.Handle(), WM_QUERYENDSESSION, 0, 0), FALSE);
        SendMessageA(form.Handle(), WM_ENDSESSION, TRUE, 0);
        EXPECT_EQ(sessionEndings, 1);
      } else if (closeBox) {
        SendMessageA(form.Handle(), WM_CLOSE, 0, 0);
      } else {
        Click("Stop");
      }
    };
    Click("Write");
    dialogs.onFileDialog = nullptr;
    EXPECT_TRUE(locked);
    ASSERT_EQ(dialogs.fileDialogs.size(), 2u);
    EXPECT_EQ(dialogs.fileDialogs[1].filter, "IPS File(*.ips)|*.ips|all files(*.*)|*.*");
    // OpenDialog3 starts the run with OpenDialog1's name.
    EXPECT_EQ(dialogs.fileDialogs[1].currentFile, dialogs.fileDialogs[0].currentFile);
    const std::vector<std::string> log = form.Lines();
    EXPECT_NE(std::find(log.begin(), log.end(), "Stop process !!!"), log.end()) << Text("Memo1");
    if (!closeBox) {
      EXPECT_EQ(Text("Status"), "Error!!!");
      ExpectRunning(false);
      EXPECT_TRUE(quits.empty());
      EXPECT_EQ(SendMessageA(form.Handle(), WM_QUERYENDSESSION, 0, 0), TRUE);
      continue;
    }
    // The window closes once the command has unwound, and the program ends.
    form.presenter().ProcessMessages();
    EXPECT_EQ(form.Handle(), nullptr);
    EXPECT_EQ(quits, std::vector<int>{0});
  }
}

// Exit, or a quit posted to the thread, while a command waits in its file dialog (before its frame
// opens): the command is stopped first, the messages keep flowing, and the program ends only once
// the command has unwound: through Exit with the settings saved, through the quit by closing.
TEST_F(WindowTest, ExitOrQuitDuringACommandStopsItFirst) {
  for (const bool exit : {true, false}) {
    SCOPED_TRACE(exit ? "Exit" : "quit");
    TForm1& form = Start();
    quits.clear();
    Click("RadioSpeed_2");
    const std::string game = File("game.gba", MakeImage(0x40000));
    dialogs.fileAnswers = {{game}};
    bool pressed = false;
    dialogs.onFileDialog = [&] {
      if (std::exchange(pressed, true)) return;
      if (exit) {
        Click("Exit");
      } else {
        PostQuitMessage(0);
        form.presenter().ProcessMessages();
        form.presenter().ProcessMessages();
        MSG msg;
        EXPECT_FALSE(
            PeekMessageA(&msg, nullptr, WM_QUIT, WM_QUIT, PM_NOREMOVE));  // not left to block each pump
      }
      EXPECT_TRUE(quits.empty());
      EXPECT_TRUE(form.presenter().core().frame.StopFlag);
    };
    Click("Write");
    dialogs.onFileDialog = nullptr;
    const std::vector<std::string> log = form.Lines();
    EXPECT_NE(std::find(log.begin(), log.end(), "Stop process !!!"), log.end()) << Text("Memo1");
    if (exit) {
      EXPECT_EQ(quits, std::vector<int>{0});
      EXPECT_EQ(ReadBytes(dir_ / "config.sav")[532], 2);  // SpeedIndex of the speed "2" chosen
    } else {
      EXPECT_TRUE(quits.empty());
      form.presenter().ProcessMessages();
      EXPECT_EQ(form.Handle(), nullptr);
      EXPECT_EQ(quits, std::vector<int>{0});
    }
  }
}

// The port driver component on the model of a Windows machine, as the window's driver.
class ModelPortDriver final : public PortDriver {
 public:
  explicit ModelPortDriver(win::WinApi& windows) : DLPortIO(windows) {}
  void SetDriverPath(const std::string& directory) override { DLPortIO.DriverPath = directory; }
  void OpenDriver() override { DLPortIO.OpenDriver(); }
  bool ActiveHW() const override { return DLPortIO.ActiveHW(); }
  std::string Advice() const override { return DLPortIO.LastError(); }
  void CloseDriver() override { DLPortIO.CloseDriver(); }
  PortBackend& Backend() override { return DLPortIO.Backend(); }

  win::TDLPortIO DLPortIO;
};

// A logoff or shutdown ends the program without unwinding: the window closes the driver on its
// way out, so the DLPortIO service is left as the program found it.
TEST_F(WindowTest, SessionEndLeavesTheDriverServiceAsFound) {
  char path[MAX_PATH];
  const std::string driverFile =
      winui::ProgramFolder(std::string(path, GetModuleFileNameA(nullptr, path, MAX_PATH))) + "\\DLPortIO.SYS";
  const win::testing::FakeService runningBefore = {
      win::kServiceDisplayName, "C:\\WINDOWS\\system32\\DRIVERS\\DLPortIO.SYS",
      win::kServiceGroup,       win::kServiceKernelDriver,
      win::kServiceDemandStart, win::kServiceErrorNormal,
      win::kServiceRunning};
  struct Row {
    std::string name;
    std::optional<win::testing::FakeService> before, whileOpen;
  };
  const std::vector<Row> rows = {
      {"installed and started by the program: stopped and removed", std::nullopt,
       win::testing::FakeService{win::kServiceDisplayName, driverFile, win::kServiceGroup,
                                 win::kServiceKernelDriver, win::kServiceDemandStart,
                                 win::kServiceErrorNormal, win::kServiceRunning}},
      {"found installed and running: left so", runningBefore, runningBefore},
  };
  auto service = [](const win::testing::FakeWindows& windows) -> std::optional<win::testing::FakeService> {
    const auto it = windows.services.find(win::kServiceName);
    if (it == windows.services.end()) return std::nullopt;
    return it->second;
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    win::testing::FakeWindows windows;
    windows.libraryFiles[win::kLibraryName] = {win::testing::AllExports()};
    windows.driverFiles[driverFile] = 0;
    if (row.before) windows.services[win::kServiceName] = *row.before;
    auto owned = std::make_unique<ModelPortDriver>(windows);
    const ModelPortDriver& driver = *owned;
    TForm1 form(std::move(owned), &dialogs);
    ASSERT_TRUE(driver.ActiveHW());
    EXPECT_EQ(service(windows), row.whileOpen);
    SendMessageA(form.Handle(), WM_QUERYENDSESSION, 0, 0);
    SendMessageA(form.Handle(), WM_ENDSESSION, TRUE, 0);
    EXPECT_FALSE(driver.ActiveHW());
    EXPECT_EQ(service(windows), row.before);
    EXPECT_EQ(windows.OpenHandles('S') + windows.OpenHandles('M') + windows.OpenHandles('L'), 0u);
  }
}

TEST_F(WindowTest, SettingsWrittenAtExitAndRestoredAtTheNextStart) {
  Start();
  const std::filesystem::path config = dir_ / "config.sav";
  ASSERT_EQ(std::filesystem::file_size(config), 796u);  // created at the first start
  Click("Port_sel_1");
  Click("RadioSpeed_2");
  Click("RadioIps_1");
  EXPECT_EQ(form_->presenter().core().link.DataPort, 0x278);
  SetWindowPos(form_->Handle(), nullptr, 0, 0, winui::Scale::OfScreen()(500), winui::Scale::OfScreen()(450),
               SWP_NOMOVE | SWP_NOZORDER);
  const std::string boot = File("boot.bin", std::vector<std::uint8_t>(0x8000, 0x11));
  dialogs.fileAnswers = {{boot}};
  Click("SetPreBoot");
  ASSERT_EQ(dialogs.fileDialogs.size(), 1u);
  EXPECT_EQ(dialogs.fileDialogs[0].name, "OpenDialog2");
  EXPECT_EQ(dialogs.fileDialogs[0].filter,
            "GBA Files (*.gba;*.bin;*.dat)|*.gba;*.bin;*.dat|All Files (*.*)|*.*");
  // The close box saves nothing; Exit saves and ends the program with status 0.
  const auto before = ReadBytes(config);
  SendMessageA(form_->Handle(), WM_CLOSE, 0, 0);
  EXPECT_EQ(ReadBytes(config), before);
  EXPECT_EQ(quits, std::vector<int>{0});

  Start();
  Click("Port_sel_1");
  Click("RadioSpeed_2");
  Click("RadioIps_1");
  SetWindowPos(form_->Handle(), nullptr, 0, 0, winui::Scale::OfScreen()(500), winui::Scale::OfScreen()(450),
               SWP_NOMOVE | SWP_NOZORDER);
  dialogs.fileAnswers = {{boot}};
  Click("SetPreBoot");
  quits.clear();
  Click("Exit");
  EXPECT_EQ(quits, std::vector<int>{0});

  TForm1& again = Start();
  EXPECT_EQ(again.presenter().PortSelIndex(), 1);
  EXPECT_EQ(again.presenter().RadioSpeedIndex(), 2);
  EXPECT_EQ(again.presenter().RadioIpsIndex(), 1);
  EXPECT_EQ(again.presenter().core().link.DataPort, 0x278);
  const RECT outer = Placement(again.Handle());
  EXPECT_EQ(outer.right - outer.left, winui::Scale::OfScreen()(500));
  EXPECT_EQ(outer.bottom - outer.top, winui::Scale::OfScreen()(450));
  EXPECT_EQ(again.presenter().OpenDialog2FileName(), boot);
  // The settings file sits in the working directory, found through a backslash.
  EXPECT_EQ(std::string(again.presenter().settings().SettingsPath), dir_.string() + "\\config.sav");
}

TEST_F(WindowTest, Form3CancelledAndClosed) {
  TForm1& form = Start();
  // The dialog keeps its own size however small the main window is.
  SetWindowPos(form.Handle(), nullptr, 0, 0, 120, 80, SWP_NOMOVE | SWP_NOZORDER);
  struct Case {
    const char* how;
    UINT message;  // posted to the form before its modal loop runs
    const char* control;
  };
  for (const Case& c :
       {Case{"close box", WM_CLOSE, nullptr}, Case{"Esc, then the close box", WM_KEYDOWN, nullptr},
        Case{"CANCEL", BM_CLICK, "CANCEL"}}) {
    SCOPED_TRACE(c.how);
    dialogs.fileDialogs.clear();
    RECT shown{};
    dialogs.onModal = [&](winui::ModalForm& modal) {
      HWND target =
          c.control != nullptr ? GetDlgItem(modal.Handle(), winui::TForm3::kCANCEL) : modal.Handle();
      // The user picks Bank 3 first: CANCEL and the close box both forget it.
      SendMessageA(GetDlgItem(modal.Handle(), winui::TForm3::kRadioBankSelItems + 2), BM_CLICK, 0, 0);
      // Esc reaches the dialog as a key and closes nothing; the close box then does.
      if (c.message == WM_KEYDOWN) PostMessageA(target, WM_KEYDOWN, VK_ESCAPE, 0);
      PostMessageA(target, c.message == WM_KEYDOWN ? WM_CLOSE : c.message, 0, 0);
      modal.RunModal();
      EXPECT_FALSE(modal.Showing());
      EXPECT_FALSE(IsWindowVisible(modal.Handle()));
      EXPECT_TRUE(IsWindowEnabled(form.Handle()));
      shown = Placement(modal.Handle());
    };
    Click("SRead");
    dialogs.onModal = nullptr;
    // Centred over the main window, at its design size.
    const RECT main = Placement(form.Handle());
    EXPECT_EQ(shown.right - shown.left, winui::Scale::OfScreen()(241));
    EXPECT_EQ(shown.bottom - shown.top, winui::Scale::OfScreen()(204));
    EXPECT_LE(std::abs((shown.left + shown.right) - (main.left + main.right)), 1);
    EXPECT_LE(std::abs((shown.top + shown.bottom) - (main.top + main.bottom)), 1);
    const std::vector<std::string> log = form.Lines();
    if (c.control != nullptr) {
      EXPECT_EQ(log.back(), "Saver Select Cancel");
      EXPECT_EQ(form.presenter().core().SaveSelection, std::nullopt);
      EXPECT_TRUE(dialogs.fileDialogs.empty());
    } else {
      // The close box stores nothing: the previous values (Bank 1, 32K) stand and the command
      // goes on to ask for the file.
      EXPECT_EQ(form.presenter().core().SaveSelection, SaveChoice{});
      ASSERT_EQ(dialogs.fileDialogs.size(), 1u);
      EXPECT_EQ(dialogs.fileDialogs[0].name, "SaveDialog1");
    }
  }
}

// The labels are as large as their texts: "1000 Sec" is not cut.
TEST_F(WindowTest, TheTimeLabelFitsItsText) {
  TForm1& form = Start();
  for (const char* text : {"1000 Sec", "100000 Sec", "0 Sec", ""}) {
    form.presenter().Display().SetTimeText(text);
    HWND time = Ctl("Time");
    HDC dc = GetDC(time);
    SelectObject(dc, reinterpret_cast<HFONT>(SendMessageA(time, WM_GETFONT, 0, 0)));
    SIZE extent{};
    GetTextExtentPoint32A(dc, text, static_cast<int>(std::strlen(text)), &extent);
    ReleaseDC(time, dc);
    RECT r;
    GetClientRect(time, &r);
    EXPECT_EQ(winui::WindowText(time), text);
    EXPECT_GE(r.right - r.left, extent.cx) << text;
    EXPECT_GT(r.bottom - r.top, 0) << text;
  }
}

// What a button's caption needs, in pixels, beside the caption itself, as Windows draws the
// three kinds of button the windows are made of. A push button draws its raised 3-D edge and,
// inside it, the focus rectangle around the caption. A check box or radio button draws its box
// at the left, 13 pixels at 96 DPI, and starts the caption half the width of a '0' after it,
// leaving a pixel on the right for the focus rectangle. A group box writes its caption on the
// top line of its frame, 7 pixels in from either side.
int CaptionMargin(HWND button, HDC dc, const winui::Scale& scale) {
  switch (GetWindowLongA(button, GWL_STYLE) & BS_TYPEMASK) {
    case BS_PUSHBUTTON:
    case BS_DEFPUSHBUTTON:
      return 2 * (GetSystemMetrics(SM_CXEDGE) + 1);
    case BS_GROUPBOX:
      return 2 * 7;
    default: {
      INT zero = 0;
      GetCharWidth32A(dc, '0', '0', &zero);
      return scale(13) + zero / 2 + 1;
    }
  }
}

// Every button's caption of `window`, measured in the font the button draws it in, fits inside
// the button with the margins Windows draws: a caption that does not is cut on the screen.
void ExpectCaptionsFit(HWND window, const char* form) {
  const winui::Scale scale = winui::Scale::OfScreen();
  std::vector<HWND> buttons;
  for (HWND b = FindWindowExA(window, nullptr, "Button", nullptr); b != nullptr;
       b = FindWindowExA(window, b, "Button", nullptr))
    buttons.push_back(b);
  ASSERT_FALSE(buttons.empty()) << form;
  for (HWND button : buttons) {
    // The caption as drawn: "&&" shows one ampersand, a single one underlines the next letter.
    std::string caption;
    const std::string text = winui::WindowText(button);
    for (std::size_t i = 0; i < text.size(); ++i) {
      if (text[i] == '&') ++i;
      if (i < text.size()) caption += text[i];
    }
    SCOPED_TRACE(std::string(form) + " \"" + caption + "\"");
    const HFONT font = reinterpret_cast<HFONT>(SendMessageA(button, WM_GETFONT, 0, 0));
    ASSERT_NE(font, nullptr);
    HDC dc = GetDC(button);
    const HGDIOBJ previous = SelectObject(dc, font);
    SIZE extent{};
    GetTextExtentPoint32A(dc, caption.c_str(), static_cast<int>(caption.size()), &extent);
    TEXTMETRICA metrics{};
    GetTextMetricsA(dc, &metrics);
    char face[LF_FACESIZE] = {};
    GetTextFaceA(dc, sizeof face, face);
    const int margin = CaptionMargin(button, dc, scale);
    SelectObject(dc, previous);
    ReleaseDC(button, dc);
    RECT r{};
    GetClientRect(button, &r);
    EXPECT_LE(extent.cx + margin, r.right - r.left)
        << "a caption " << extent.cx << " pixels wide in " << face << ", and " << margin << " for the frame";
    EXPECT_LE(metrics.tmHeight, r.bottom - r.top)
        << "a line " << metrics.tmHeight << " pixels high in " << face;
  }
}

TEST_F(WindowTest, EveryCaptionFitsItsControl) {
  TForm1& form = Start();
  ExpectCaptionsFit(form.Handle(), "Form1");
  ExpectCaptionsFit(form.Form2().Handle(), "Form2");
  ExpectCaptionsFit(form.Form3().Handle(), "Form3");
}

TEST(WindowParts, FoldersFiltersAndSelections) {
  EXPECT_EQ(winui::ProgramFolder("C:\\Brevomat\\brevomat.exe"), "C:\\Brevomat");
  EXPECT_EQ(winui::ProgramFolder("C:\\brevomat.exe"), "C:\\");
  EXPECT_EQ(winui::ProgramFolder("\\\\server\\share\\brevomat.exe"), "\\\\server\\share");
  EXPECT_EQ(winui::FilterForApi("IPS File(*.ips)|*.ips|all files(*.*)|*.*"),
            std::string("IPS File(*.ips)\0*.ips\0all files(*.*)\0*.*\0\0", 42));
  // One name is the full name; several are a folder and the names in it, in the dialog's order.
  const char one[] = "C:\\games\\a.gba\0";
  EXPECT_EQ(winui::SplitSelection(one), std::vector<std::string>{"C:\\games\\a.gba"});
  const char several[] = "C:\\games\0b.gba\0a.gba\0";
  EXPECT_EQ(winui::SplitSelection(several),
            (std::vector<std::string>{"C:\\games\\b.gba", "C:\\games\\a.gba"}));
  const char inRoot[] = "C:\\\0a.gba\0b.gba\0";
  EXPECT_EQ(winui::SplitSelection(inRoot), (std::vector<std::string>{"C:\\a.gba", "C:\\b.gba"}));
}

}  // namespace
}  // namespace brevomat::testing
