// The presenter both windows are drawn over, on a view that records what it is told: the tables
// of controls, the states, the click dispatch, Exit, the close box and the end of the session,
// the dialogs' answers, the file dialogs' names and filters.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "RecordingView.h"
#include "base/AtomicOutputFile.h"
#include "commands/Captions.h"
#include "sim/CartDirectory.h"
#include "trace/RecordReader.h"

namespace brevomat::testing {
namespace {

class Form1PresenterTest : public PresenterTest {};

std::vector<std::string> Items(const ControlEntry& c) { return {c.items.begin(), c.items.end()}; }

// The three forms as the system lays them out: every control once, in one table per form.
TEST(FormLayoutTest, TheTablesHoldTheSystemsLayout) {
  using K = ControlKind;
  using G = ControlGroup;
  struct Row {
    const FormEntry& form;
    const char* name;
    K kind;
    const char* caption;
    const char* hint;
    std::vector<std::string> items;
    int initialItem;
    int left, top, width, height;
    G group;
  };
  const Row rows[] = {
      {kForm1,
       "Port_sel",
       K::RadioGroup,
       "Printer Port No.",
       "",
       {"LPT1(0x378)", "LPT2(0x278)", "LPT3(0x3bc)"},
       0,
       10,
       7,
       91,
       106,
       G::Command},
      {kForm1,
       "RadioSpeed",
       K::RadioGroup,
       "Speed",
       "",
       {"4", "3", "2", "1"},
       0,
       107,
       7,
       47,
       106,
       G::Command},
      {kForm1, "Write", K::Button, "Write Flash", "Write To Cart", {}, -1, 163, 8, 74, 26, G::Command},
      {kForm1,
       "WriteMulti",
       K::Button,
       "Write Multi",
       "Write Multi-files to Cart",
       {},
       -1,
       244,
       8,
       75,
       26,
       G::Command},
      {kForm1,
       "SetPreBoot",
       K::Button,
       "Set Pre Boot",
       "Set Multi-Boot File",
       {},
       -1,
       325,
       8,
       75,
       26,
       G::Command},
      {kForm1,
       "SWrite",
       K::Button,
       "Write Saver",
       "Write Saver Data to Cart",
       {},
       -1,
       163,
       41,
       75,
       26,
       G::Command},
      {kForm1,
       "SRead",
       K::Button,
       "Backup Saver",
       "Read Saver Data to File",
       {},
       -1,
       244,
       41,
       75,
       26,
       G::Command},
      {kForm1, "Read", K::Button, "Backup Game", "Read Cart to File", {}, -1, 325, 41, 75, 26, G::Command},
      {kForm1, "RadioIps", K::RadioGroup, "IPS Apply", "", {"OFF", "ON"}, 0, 168, 72, 65, 53, G::Command},
      {kForm1, "Stop", K::Button, "Stop", "", {}, -1, 244, 89, 75, 26, G::Stop},
      {kForm1, "Exit", K::Button, "Exit", "", {}, -1, 325, 89, 75, 26, G::Command},
      {kForm1, "MemoClear", K::Button, "Clear", "", {}, -1, 20, 115, 60, 13, G::Command},
      {kForm1, "Memo1", K::Memo, "", "", {}, -1, 16, 128, 377, 185, G::Command},
      {kForm1, "EraseFlash", K::Button, "EraseFlash", "", {}, -1, 16, 321, 59, 26, G::Command},
      {kForm1, "WT", K::Button, "&WT", "Write Test", {}, -1, 172, 321, 39, 26, G::Hidden},
      {kForm1, "VT", K::Button, "&VT", "Verify Test", {}, -1, 213, 321, 39, 26, G::Hidden},
      {kForm1,
       "Verify",
       K::Button,
       "Verify Game",
       "Verify Cart with File",
       {},
       -1,
       260,
       321,
       69,
       26,
       G::Hidden},
      {kForm1,
       "SVerify",
       K::Button,
       "Verify Saver",
       "Verify Saver Data with File",
       {},
       -1,
       333,
       321,
       68,
       26,
       G::Hidden},
      {kForm1, "Status", K::Label, "Status", "", {}, -1, 16, 352, 0, 0, G::Display},
      {kForm1, "Time", K::Label, "Time", "", {}, -1, 360, 352, 0, 0, G::Display},
      {kForm1, "ProgressBar1", K::ProgressBar, "", "", {}, -1, 16, 368, 337, 18, G::Display},
      {kForm2,
       "SelectCartSize",
       K::RadioGroup,
       "SelectCartSize",
       "",
       {"8M", "16M", "32M", "64M", "128M", "256M"},
       -1,
       16,
       16,
       161,
       137,
       G::Command},
      {kForm2, "OK", K::Button, "OK", "", {}, -1, 16, 184, 75, 25, G::Command},
      {kForm2, "CANCEL", K::Button, "CANCEL", "", {}, -1, 104, 184, 75, 25, G::Command},
      {kForm3,
       "RadioBankSel",
       K::RadioGroup,
       "Bank Select",
       "",
       {"Bank 1", "Bank 2", "Bank 3", "Bank 4"},
       0,
       16,
       16,
       97,
       105,
       G::Command},
      {kForm3,
       "RadioSizeSel",
       K::RadioGroup,
       "Size Select",
       "",
       {"32K", "64K", "128K", "256K"},
       0,
       128,
       16,
       89,
       105,
       G::Command},
      {kForm3, "OK", K::Button, "OK", "", {}, -1, 32, 136, 75, 25, G::Command},
      {kForm3, "CANCEL", K::Button, "CANCEL", "", {}, -1, 136, 136, 75, 25, G::Command},
  };
  std::map<const FormEntry*, std::size_t> count;
  for (const Row& r : rows) {
    SCOPED_TRACE(std::string(r.form.name) + "." + r.name);
    const ControlEntry* c = FindControl(r.form, r.name);
    ASSERT_NE(c, nullptr);
    ++count[&r.form];
    EXPECT_EQ(c->kind, r.kind);
    EXPECT_STREQ(c->caption, r.caption);
    EXPECT_STREQ(c->hint, r.hint);
    EXPECT_EQ(Items(*c), r.items);
    EXPECT_EQ(c->initialItem, r.initialItem);
    EXPECT_EQ(c->design.left, r.left);
    EXPECT_EQ(c->design.top, r.top);
    EXPECT_EQ(c->design.width, r.width);
    EXPECT_EQ(c->design.height, r.height);
    EXPECT_EQ(c->group, r.group);
  }
  // Nothing more than these.
  for (const FormEntry* form : {&kForm1, &kForm2, &kForm3}) EXPECT_EQ(count[form], form->controls.size());
  struct Form {
    const FormEntry& form;
    const char* caption;
    int width, height;
  };
  for (const Form& f :
       {Form{kForm1, "Tarvex Brevomat 1.2nt", 418, 418}, Form{kForm2, "Select Cart size", 203, 258},
        Form{kForm3, "Bank and Size Select", 241, 204}}) {
    EXPECT_STREQ(f.form.caption, f.caption);
    EXPECT_EQ(f.form.width, f.width);
    EXPECT_EQ(f.form.height, f.height);
  }
}

// The set-up hides the buttons that do nothing; idle and running switch exactly the controls
// their groups name.
TEST_F(Form1PresenterTest, TheGroupsDecideWhatIsHiddenAndWhatIsLocked) {
  Form1Presenter& form = Start();
  EXPECT_EQ(view->hidden, (std::set<std::string>{"WT", "VT", "Verify", "SVerify"}));
  for (const bool running : {true, false}) {
    form.SetRunning(running);
    for (const ControlEntry& c : kForm1.controls) {
      SCOPED_TRACE(c.name);
      const bool locked = c.group != ControlGroup::Display;
      EXPECT_EQ(view->enabled.count(c.name), locked ? 1u : 0u);
      if (locked) {
        EXPECT_EQ(view->enabled.at(c.name), c.group == ControlGroup::Stop ? running : !running);
      }
    }
  }
}

// A click reaches the handler of the control clicked; groups without one do nothing.
TEST_F(Form1PresenterTest, ClicksReachTheirHandlers) {
  struct Case {
    const char* control;
    std::vector<std::string> log;      // Memo1 afterwards
    std::vector<std::string> dialogs;  // the names of the file dialogs shown
    std::uint32_t dataPort;
    bool stopFlag;
    std::optional<int> quit;
  };
  const Case cases[] = {
      {"Write", {"Use DLPortIO", "Write To Cart Cancel"}, {"OpenDialog1"}, 0x378, true, std::nullopt},
      {"MemoClear", {}, {}, 0x378, true, std::nullopt},
      {"Port_sel", {"Use DLPortIO"}, {}, 0x3BC, true, std::nullopt},
      {"RadioSpeed", {"Use DLPortIO"}, {}, 0x378, true, std::nullopt},
      {"Exit", {"Use DLPortIO"}, {}, 0x378, true, 0},
      {"WT", {"Use DLPortIO"}, {}, 0x378, true, std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.control);
    SetUp();
    Form1Presenter& form = Start();
    view->items["Port_sel"] = 2;
    form.core().frame.StopFlag = true;
    form.Clicked(c.control);
    EXPECT_EQ(view->log, c.log);
    std::vector<std::string> dialogs;
    for (const RecordingView::FileDialogUse& use : view->fileDialogs) dialogs.push_back(use.name);
    EXPECT_EQ(dialogs, c.dialogs);
    EXPECT_EQ(form.core().link.DataPort, c.dataPort);
    EXPECT_EQ(form.core().frame.StopFlag, c.stopFlag);
    EXPECT_EQ(view->quitStatus, c.quit);
    TearDown();
  }
}

// Exit pressed while a command pumps messages (here in its file dialog, before its frame opens)
// stops the command first; the settings are saved, the link released and the program ended only
// once the command has unwound. Exit outranks a close box pressed in the same command.
TEST_F(Form1PresenterTest, ExitDuringACommandWaitsForItToStop) {
  struct Case {
    const char* name;
    std::vector<const char*> pressed;  // during the command's file dialog
    int closes;                        // CloseLater asked for afterwards
  };
  const Case cases[] = {
      {"Exit", {"Exit"}, 0},
      {"close box, then Exit", {"close", "Exit"}, 0},
      {"Exit, then close box", {"Exit", "close"}, 0},
      {"close box alone", {"close"}, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SetUp();
    Form1Presenter& form = Start();
    std::ofstream(directory_ / "game.gba", std::ios::binary) << std::string(32768, '\x5A');
    view->fileAnswers = {{(directory_ / "game.gba").string()}};
    view->duringFileDialog = [&] {
      for (const char* press : c.pressed) {
        if (std::string_view(press) == "close")
          EXPECT_FALSE(form.MayCloseNow());
        else
          form.Clicked(press);
      }
      EXPECT_FALSE(view->quitStatus.has_value());
      EXPECT_TRUE(form.core().frame.StopFlag);
    };
    std::optional<bool> runningAtEnd;
    std::size_t callsAtEnd = 0;
    view->atEndProgram = [&] {
      runningAtEnd = form.CommandRunning();
      callsAtEnd = port.calls.size();
    };
    port.calls.clear();
    form.Clicked("Write");
    const bool exits = c.closes == 0;
    EXPECT_EQ(view->quitStatus, exits ? std::optional<int>(0) : std::nullopt);
    EXPECT_EQ(runningAtEnd, exits ? std::optional<bool>(false) : std::nullopt);
    EXPECT_EQ(view->closesAsked, c.closes);
    // The release is the last the port was told: the command touched the cart no more after it.
    if (exits) {
      ASSERT_FALSE(port.calls.empty());
      EXPECT_EQ(callsAtEnd, port.calls.size());
      EXPECT_EQ(port.calls.back(), Wb(0x37A, 4));
    }
    // Nothing is left waiting to stop the next command.
    form.core().frame.StopFlag = false;
    form.ProcessMessages();
    EXPECT_FALSE(form.core().frame.StopFlag);
    TearDown();
  }
}

// The session ends during a command: the command is told to stop, the unfinished output's
// temporary file goes, the program's last work runs while the driver is still open, and the
// driver is closed; the settings are not saved, as with the close box.
TEST_F(Form1PresenterTest, EndSessionStopsCleansUpAndClosesTheDriver) {
  class CountingDriver final : public PortDriver {
   public:
    explicit CountingDriver(PortBackend& backend) : backend_(backend) {}
    void SetDriverPath(const std::string&) override {}
    void OpenDriver() override {}
    bool ActiveHW() const override { return closes == 0; }
    std::string Advice() const override { return {}; }
    void CloseDriver() override { ++closes; }
    PortBackend& Backend() override { return backend_; }
    int closes = 0;

   private:
    PortBackend& backend_;
  };
  auto owned = std::make_unique<CountingDriver>(port);
  CountingDriver& driver = *owned;
  presenter = std::make_unique<Form1Presenter>(*view, std::move(owned));
  presenter->Setup();
  const auto settingsBefore = ReadFile(Config());
  view->items["Port_sel"] = 2;
  AtomicOutputFile backup;
  ASSERT_TRUE(backup.Create((directory_ / "backup.gba").string()));
  std::optional<bool> driverOpenAtLastWork;
  view->duringFileDialog = [&] {
    presenter->EndSession([&] { driverOpenAtLastWork = driver.ActiveHW(); });
    EXPECT_TRUE(presenter->core().frame.StopFlag);
  };
  presenter->Clicked("Write");
  EXPECT_EQ(driverOpenAtLastWork, true);
  EXPECT_EQ(driver.closes, 1);
  EXPECT_FALSE(presenter->core().port.Attached());
  EXPECT_FALSE(std::filesystem::exists(directory_ / "backup.gba"));
#ifndef _WIN32
  // (Windows lists a removed file until its last handle is closed, which the process's end does.)
  for (const auto& entry : std::filesystem::directory_iterator(directory_))
    EXPECT_EQ(entry.path().filename().string().find(".tmp-"), std::string::npos) << entry.path();
#endif
  EXPECT_EQ(ReadFile(Config()), settingsBefore);
  EXPECT_FALSE(view->quitStatus.has_value());
}

// BREVOMAT_TRACE records the window's port accesses: the header names the program, and each
// command ends with a mark that repeats the Status label as the command left it.
TEST_F(Form1PresenterTest, TheRecordOfTheWindowsCommandsEndsEachWithItsStatus) {
  std::string error;
  const std::unique_ptr<sim::VirtualCart> cart = sim::VirtualCart::Open(directory_ / "cart", error);
  ASSERT_NE(cart, nullptr) << error;
  const std::string record = (directory_ / "window.trace").string();
#ifdef _WIN32
  _putenv_s("BREVOMAT_TRACE", record.c_str());
#else
  setenv("BREVOMAT_TRACE", record.c_str(), 1);
#endif
  presenter = std::make_unique<Form1Presenter>(*view, std::make_unique<FixedPortDriver>(cart->Port()));
  presenter->Setup();
#ifdef _WIN32
  _putenv_s("BREVOMAT_TRACE", "");
#else
  unsetenv("BREVOMAT_TRACE");
#endif
  view->answer = true;
  presenter->Clicked("EraseFlash");
  const std::string status = view->status;
  presenter.reset();  // the record is complete once the window has gone

  trace::RecordReader reader;
  ASSERT_TRUE(reader.Open(record, error)) << error;
  EXPECT_EQ(reader.HeaderValue("program").rfind(std::string(kProgramTitle) + " (window ", 0), 0u)
      << reader.HeaderValue("program");
  std::vector<std::string> marks;
  for (trace::Event event; reader.Next(event);)
    if (event.isMark && event.mark != record::Mark::Note) marks.push_back(event.text);
  EXPECT_EQ(status, "Cart Erase Ok");
  EXPECT_EQ(marks, (std::vector<std::string>{"EraseFlash", "EraseFlash: Cart Erase Ok"}));
}

// A dialog's answer reaches the command as its result; Form2 opens with the item the command
// proposes.
TEST_F(Form1PresenterTest, TheDialogsAnswersBecomeTheCommandsChoices) {
  using B = DialogAnswer::Button;
  Form1Presenter& form = Start();
  view->dialogAnswers = {{B::OK, {4, -1}}, {B::CloseBox}, {B::OK, {1, 3}}, {B::CloseBox}};
  EXPECT_EQ(form.ShowForm2(3), 512);
  EXPECT_EQ(form.ShowForm2(-1), std::nullopt);
  EXPECT_EQ(view->form2Preselected, (std::vector<int>{3, -1}));
  const std::optional<SaveChoice> chosen = form.ShowForm3(SaveChoice{});
  EXPECT_EQ(chosen, (SaveChoice{1, 3}));
  EXPECT_EQ(form.ShowForm3(chosen), chosen);
}

// Each file dialog shows its own filter and keeps its own current name: the first name chosen,
// which the next showing opens on; a cancelled dialog changes nothing.
TEST_F(Form1PresenterTest, FileDialogsRememberTheFirstNameChosen) {
  Form1Presenter& form = Start();
  view->fileAnswers = {{"/a.gba", "/b.gba"}, {"/p.ips"}, {"/out.sav"}, {}, {"/c.gba"}};
  std::vector<std::string> files;
  ASSERT_TRUE(form.ExecuteOpenDialog1(true, files));
  EXPECT_EQ(files, (std::vector<std::string>{"/a.gba", "/b.gba"}));
  std::string ips, out;
  ASSERT_TRUE(form.ExecuteOpenDialog3(ips));
  EXPECT_EQ(ips, "/p.ips");
  ASSERT_TRUE(form.ExecuteSaveDialog1(out));
  EXPECT_EQ(out, "/out.sav");
  EXPECT_FALSE(form.ExecuteOpenDialog2(out));  // cancelled
  EXPECT_EQ(out, "/out.sav");
  ASSERT_TRUE(form.ExecuteOpenDialog1(false, files));
  EXPECT_EQ(form.OpenDialog1FileName(), "/c.gba");
  EXPECT_EQ(form.OpenDialog3FileName(), "/p.ips");
  EXPECT_EQ(form.SaveDialog1FileName(), "/out.sav");
  EXPECT_EQ(form.OpenDialog2FileName(), "");

  struct Shown {
    const char* name;
    const char* filter;
    const char* currentFile;
    bool multiSelect;
  };
  const Shown shown[] = {
      {"OpenDialog1", kGameFilter, "", true},        {"OpenDialog3", kIpsFilter, "", false},
      {"SaveDialog1", kGameFilter, "", false},       {"OpenDialog2", kPreBootFilter, "", false},
      {"OpenDialog1", kGameFilter, "/a.gba", false},
  };
  ASSERT_EQ(view->fileDialogs.size(), std::size(shown));
  for (std::size_t i = 0; i < std::size(shown); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(view->fileDialogs[i].name, shown[i].name);
    EXPECT_EQ(view->fileDialogs[i].filter, shown[i].filter);
    EXPECT_EQ(view->fileDialogs[i].currentFile, shown[i].currentFile);
    EXPECT_EQ(view->fileDialogs[i].multiSelect, shown[i].multiSelect);
  }
}

// What a dialog's answer means: OK gives a value, CANCEL none, and the close box none for Form2
// and the previous showing's value for Form3.
TEST(SelectionFormsTest, OkGivesAValueCancelAndTheCloseBoxDoNot) {
  using B = DialogAnswer::Button;
  struct Form2Case {
    const char* how;
    DialogAnswer answer;
    std::optional<std::int32_t> CartSizeChunks;
  };
  const Form2Case form2[] = {
      {"8M", {B::OK, {0, -1}}, 32},
      {"16M", {B::OK, {1, -1}}, 64},
      {"32M", {B::OK, {2, -1}}, 128},
      {"64M", {B::OK, {3, -1}}, 256},
      {"128M", {B::OK, {4, -1}}, 512},
      {"256M", {B::OK, {5, -1}}, 1024},
      {"no item", {B::OK, {-1, -1}}, std::nullopt},
      {"CANCEL", {B::CANCEL, {2, -1}}, std::nullopt},
      {"close box", {B::CloseBox, {2, -1}}, std::nullopt},
  };
  for (const Form2Case& c : form2) EXPECT_EQ(Form2Result(c.answer), c.CartSizeChunks) << c.how;

  struct Form3Case {
    const char* how;
    std::optional<SaveChoice> before;
    DialogAnswer answer;
    std::optional<SaveChoice> result;
  };
  const Form3Case form3[] = {
      {"Bank 3, 128K", SaveChoice{}, {B::OK, {2, 2}}, SaveChoice{2, 2}},
      {"Bank 4, 256K", std::nullopt, {B::OK, {3, 3}}, SaveChoice{3, 3}},
      {"CANCEL", SaveChoice{1, 1}, {B::CANCEL, {2, 2}}, std::nullopt},
      {"close box after a choice", SaveChoice{1, 3}, {B::CloseBox, {2, 2}}, SaveChoice{1, 3}},
      {"close box after CANCEL", std::nullopt, {B::CloseBox, {2, 2}}, std::nullopt},
  };
  for (const Form3Case& c : form3) EXPECT_EQ(Form3Result(c.answer, c.before), c.result) << c.how;
}

// Both windows tell a user at a terminal why the port cannot be reached.
TEST_F(Form1PresenterTest, WithoutPortAccessTheAdviceGoesToStandardError) {
  view->answer = true;
  Start(/*driverActive=*/false);
  EXPECT_EQ(standardError, std::vector<std::string>{"the port is not connected"});
  EXPECT_EQ(view->log, std::vector<std::string>{"Use DLPortIO"});
}

TEST(FileDialogFiltersTest, NamesAndPatternsAsTheSystemWritesThem) {
  struct Case {
    const char* filter;
    std::vector<FilterEntry> entries;
  };
  const Case cases[] = {
      {kGameFilter,
       {{"GBA Files (*.gba;*.bin;*.dat;*.sav)", {"*.gba", "*.bin", "*.dat", "*.sav"}},
        {"All Files (*.*)", {"*.*"}}}},
      {kPreBootFilter,
       {{"GBA Files (*.gba;*.bin;*.dat)", {"*.gba", "*.bin", "*.dat"}}, {"All Files (*.*)", {"*.*"}}}},
      {kIpsFilter, {{"IPS File(*.ips)", {"*.ips"}}, {"all files(*.*)", {"*.*"}}}},
      {"name without patterns", {}},
  };
  for (const Case& c : cases) EXPECT_EQ(FilterEntries(c.filter), c.entries) << c.filter;
  EXPECT_STREQ(kSaveDialog1.filter, kOpenDialog1.filter);
  EXPECT_TRUE(kSaveDialog1.save);
}

}  // namespace
}  // namespace brevomat::testing
