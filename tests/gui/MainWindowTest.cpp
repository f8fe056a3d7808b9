// The main window: layout, idle and running states, the small handlers, closing mid-command.
#include <QAbstractButton>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QTest>
#include <QTimer>
#include <optional>

#include "GuiTestSupport.h"

namespace brevomat::testing {
namespace {

using gui::TForm1;

QWidget* Control(TForm1& form, const char* name) {
  QWidget* w = form.findChild<QWidget*>(QString::fromLatin1(name));
  EXPECT_NE(w, nullptr) << name;
  return w;
}

QStringList Items(gui::RadioGroup* group) {
  QStringList items;
  for (int i = 0; i < group->ItemCount(); ++i) items << group->Item(i)->text();
  return items;
}

class MainWindowTest : public InTempDirectory {};

// The window builds every control of the table where the table says, with its caption, hint and
// items, and hides the buttons that do nothing.
TEST_F(MainWindowTest, LayoutAfterStartUp) {
  auto form = Start();
  EXPECT_EQ(form->windowTitle(), "Tarvex Brevomat 1.2nt");
  EXPECT_EQ(form->objectName(), "Form1");
  EXPECT_EQ(form->size(), QSize(418, 418));
  for (const ControlEntry& c : kForm1.controls) {
    SCOPED_TRACE(c.name);
    QWidget* control = Control(*form, c.name);
    ASSERT_NE(control, nullptr);
    const DesignRect& d = c.design;
    // A label's size is its text's.
    const QRect expected(d.left, d.top, d.width != 0 ? d.width : control->width(),
                         d.height != 0 ? d.height : control->height());
    EXPECT_EQ(control->geometry(), expected);
    EXPECT_EQ(control->isHidden(), c.group == ControlGroup::Hidden);
    if (auto* button = qobject_cast<QAbstractButton*>(control)) {
      EXPECT_EQ(button->text(), c.caption);
      EXPECT_EQ(button->toolTip(), c.hint);
    }
    if (auto* group = qobject_cast<gui::RadioGroup*>(control)) {
      EXPECT_EQ(group->title(), c.caption);
      QStringList items;
      for (const char* item : c.items) items << item;
      EXPECT_EQ(Items(group), items);
      EXPECT_EQ(group->ItemIndex(), c.initialItem);
    }
  }
  // "&" marks the accelerator letter.
  EXPECT_EQ(Ctl<QPushButton>(*form, "WT")->shortcut(), QKeySequence(QStringLiteral("Alt+W")));
  EXPECT_EQ(Ctl<QPushButton>(*form, "VT")->shortcut(), QKeySequence(QStringLiteral("Alt+V")));

  EXPECT_TRUE(Ctl<gui::LogMemo>(*form, "Memo1")->isReadOnly());
  EXPECT_EQ(Ctl<gui::LogMemo>(*form, "Memo1")->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
  EXPECT_EQ(Ctl<gui::LogMemo>(*form, "Memo1")->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
  EXPECT_EQ(Ctl<QProgressBar>(*form, "ProgressBar1")->minimum(), 0);
  EXPECT_EQ(Ctl<QProgressBar>(*form, "ProgressBar1")->maximum(), 100);
  // The labels start empty.
  EXPECT_EQ(Ctl<QLabel>(*form, "Status")->text(), "");
  EXPECT_EQ(Ctl<QLabel>(*form, "Time")->text(), "");
  EXPECT_EQ(Ctl<QTimer>(*form, "Timer1")->interval(), 1000);

  EXPECT_EQ(Ctl<gui::LogMemo>(*form, "Memo1")->Lines(), QStringList({"Use DLPortIO"}));
  // The two dialogs exist, hidden, from the start.
  EXPECT_EQ(Ctl<gui::TForm2>(*form, "Form2")->windowTitle(), "Select Cart size");
  EXPECT_EQ(Ctl<gui::TForm3>(*form, "Form3")->windowTitle(), "Bank and Size Select");
  EXPECT_FALSE(Ctl<gui::TForm2>(*form, "Form2")->isVisible());
  EXPECT_FALSE(Ctl<gui::TForm3>(*form, "Form3")->isVisible());
}

TEST_F(MainWindowTest, IdleAndRunningSwitchExactlyTheLockedSet) {
  auto form = Start();
  auto expectState = [&](bool running) {
    for (const ControlEntry& c : kForm1.controls) {
      if (c.group == ControlGroup::Display) continue;
      EXPECT_EQ(Control(*form, c.name)->isEnabled(), c.group == ControlGroup::Stop ? running : !running)
          << c.name;
    }
    EXPECT_EQ(Ctl<QTimer>(*form, "Timer1")->isActive(), running);
  };
  expectState(false);
  EXPECT_TRUE(form->presenter().core().frame.StopFlag);

  form->presenter().core().frame.BeginOperation();
  expectState(true);
  EXPECT_EQ(Ctl<QLabel>(*form, "Time")->text(), "0 Sec");
  // While running only Stop answers a click.
  QTest::mouseClick(Ctl<QPushButton>(*form, "MemoClear"), Qt::LeftButton);
  EXPECT_EQ(Ctl<gui::LogMemo>(*form, "Memo1")->Lines().size(), 1);
  QTest::mouseClick(Ctl<QPushButton>(*form, "Stop"), Qt::LeftButton);
  EXPECT_TRUE(form->presenter().core().frame.StopFlag);
  expectState(true);  // still running until the loop polls the flag
  EXPECT_TRUE(form->presenter().core().frame.PollStop());
  expectState(false);
  EXPECT_EQ(Ctl<gui::LogMemo>(*form, "Memo1")->Lines(), QStringList({"Use DLPortIO", "Stop process !!!"}));
}

TEST_F(MainWindowTest, Timer1CountsSecondsWhileRunning) {
  auto form = Start();
  form->presenter().core().frame.BeginOperation();
  QElapsedTimer clock;
  clock.start();
  while (form->presenter().core().frame.ElapsedSeconds < 1 && clock.elapsed() < 5000) QTest::qWait(50);
  form->presenter().core().frame.EndOperation();
  EXPECT_GE(form->presenter().core().frame.ElapsedSeconds, 1);
  EXPECT_EQ(Ctl<QLabel>(*form, "Time")->text(),
            QString::number(form->presenter().core().frame.ElapsedSeconds) + " Sec");
}

TEST_F(MainWindowTest, SeparatorLineBeforeEveryCommandButTheFirst) {
  auto form = Start();
  // Both file dialogs cancelled; the second command is still set off by one empty line.
  QTest::mouseClick(Ctl<QPushButton>(*form, "Write"), Qt::LeftButton);
  QTest::mouseClick(Ctl<QPushButton>(*form, "Write"), Qt::LeftButton);
  EXPECT_EQ(Ctl<gui::LogMemo>(*form, "Memo1")->Lines(),
            QStringList({"Use DLPortIO", "Write To Cart Cancel", "", "Write To Cart Cancel"}));
  ASSERT_EQ(dialogs.fileDialogs.size(), 2u);
  EXPECT_EQ(dialogs.fileDialogs[0].name, "OpenDialog1");
  EXPECT_EQ(dialogs.fileDialogs[0].filter, kGameFilter);
  EXPECT_FALSE(dialogs.fileDialogs[0].multiSelect);
  // EraseFlash on a port with no adapter behind it: the same convention.
  QTest::mouseClick(Ctl<QPushButton>(*form, "EraseFlash"), Qt::LeftButton);
  const QStringList lines = Ctl<gui::LogMemo>(*form, "Memo1")->Lines();
  ASSERT_GE(lines.size(), 6);
  EXPECT_EQ(lines[4], "");
  EXPECT_EQ(lines.last(), "No Adaptor Found!");
}

TEST_F(MainWindowTest, ClearEmptiesTheLog) {
  auto form = Start();
  form->presenter().core().frame.LogLine("one");
  form->presenter().core().frame.LogLine("");
  EXPECT_EQ(Ctl<gui::LogMemo>(*form, "Memo1")->Lines(), QStringList({"Use DLPortIO", "one", ""}));
  QTest::mouseClick(Ctl<QPushButton>(*form, "MemoClear"), Qt::LeftButton);
  EXPECT_TRUE(Ctl<gui::LogMemo>(*form, "Memo1")->Lines().isEmpty());
  form->presenter().core().frame.LogLine("");
  EXPECT_EQ(Ctl<gui::LogMemo>(*form, "Memo1")->Lines(), QStringList({""}));
}

TEST_F(MainWindowTest, PortSelectionDerivesTheFiveAddresses) {
  auto form = Start();
  ClickItem(Ctl<gui::RadioGroup>(*form, "Port_sel"), 2);
  const Link& link = form->presenter().core().link;
  EXPECT_EQ(link.DataPort, 0x3BC);
  EXPECT_EQ(link.StatusPort, 0x3BD);
  EXPECT_EQ(link.ControlPort, 0x3BE);
  EXPECT_EQ(link.EppAddressPort, 0x3BF);
  EXPECT_EQ(link.EppDataPort, 0x3C0);
  ClickItem(Ctl<gui::RadioGroup>(*form, "Port_sel"), 1);
  EXPECT_EQ(link.DataPort, 0x278);
  Ctl<gui::RadioGroup>(*form, "Port_sel")->SetItemIndex(-1);
  form->presenter().Port_selClick();
  EXPECT_EQ(link.DataPort, 0x378);
}

TEST_F(MainWindowTest, HiddenButtonsDoNothingWhenShown) {
  auto form = Start();
  port.calls.clear();
  for (QAbstractButton* b : {static_cast<QAbstractButton*>(Ctl<QPushButton>(*form, "Verify")),
                             static_cast<QAbstractButton*>(Ctl<QPushButton>(*form, "SVerify")),
                             static_cast<QAbstractButton*>(Ctl<QPushButton>(*form, "WT")),
                             static_cast<QAbstractButton*>(Ctl<QPushButton>(*form, "VT"))}) {
    b->show();
    QTest::mouseClick(b, Qt::LeftButton);
  }
  EXPECT_EQ(Ctl<gui::LogMemo>(*form, "Memo1")->Lines(), QStringList({"Use DLPortIO"}));
  EXPECT_TRUE(port.calls.empty());
  EXPECT_TRUE(dialogs.fileDialogs.empty());
}

TEST_F(MainWindowTest, ExitReleasesTheLinkAndAsksToEndWithStatusZero) {
  auto form = Start();
  int status = -1;
  QObject::connect(form.get(), &TForm1::ExitRequested, [&](int s) { status = s; });
  port.calls.clear();
  QTest::mouseClick(Ctl<QPushButton>(*form, "Exit"), Qt::LeftButton);
  EXPECT_EQ(status, 0);
  ASSERT_FALSE(port.calls.empty());
  EXPECT_EQ(port.calls.back(), Wb(0x37A, 4));
}

TEST_F(MainWindowTest, CloseBoxDuringACommandStopsItAndClosesAfterwards) {
  auto form = Start();
  form->show();
  bool closedDuringCommand = true;
  dialogs.onFileDialog = [&] {
    EXPECT_TRUE(form->presenter().CommandRunning());
    form->close();
    closedDuringCommand = !form->isVisible();
    EXPECT_TRUE(form->presenter().core().frame.StopFlag);
  };
  QTest::mouseClick(Ctl<QPushButton>(*form, "Write"), Qt::LeftButton);
  EXPECT_FALSE(closedDuringCommand);
  EXPECT_FALSE(form->presenter().CommandRunning());
  QElapsedTimer clock;
  clock.start();
  while (form->isVisible() && clock.elapsed() < 5000) QCoreApplication::processEvents();
  EXPECT_FALSE(form->isVisible());
  EXPECT_EQ(form->presenter().core().frame.CurrentFile, nullptr);
}

// Exit pressed while a command waits in its file dialog stops the command first; the program is
// asked to end only once the command has unwound.
TEST_F(MainWindowTest, ExitDuringACommandStopsItAndEndsAfterwards) {
  auto form = Start();
  form->show();
  std::optional<bool> runningAtExit;
  QObject::connect(form.get(), &TForm1::ExitRequested,
                   [&](int) { runningAtExit = form->presenter().CommandRunning(); });
  dialogs.onFileDialog = [&] {
    QTest::mouseClick(Ctl<QPushButton>(*form, "Exit"), Qt::LeftButton);
    EXPECT_FALSE(runningAtExit.has_value());
    EXPECT_TRUE(form->presenter().core().frame.StopFlag);
  };
  QTest::mouseClick(Ctl<QPushButton>(*form, "Write"), Qt::LeftButton);
  EXPECT_EQ(runningAtExit, false);
}

// Enter clicks the button that has the focus, in the main window and in its dialogs.
TEST_F(MainWindowTest, EnterClicksTheFocusedButton) {
  auto form = Start();
  form->show();
  auto enterOn = [&](QWidget& window, const char* button) {
    auto* b = Ctl<QPushButton>(window, button);
    b->setFocus();
    QTest::keyClick(b, Qt::Key_Return);
  };
  std::optional<std::int32_t> size;
  std::optional<SaveChoice> save;
  dialogs.onModal = [&](QDialog& d) {
    QTimer::singleShot(0, &d, [&] { enterOn(d, d.objectName() == "Form2" ? "OK" : "CANCEL"); });
    d.exec();
  };
  size = form->presenter().ShowForm2(4);
  save = form->presenter().ShowForm3(SaveChoice{1, 3});
  enterOn(*form, "MemoClear");
  EXPECT_EQ(size, 512);           // OK on "128M"
  EXPECT_EQ(save, std::nullopt);  // CANCEL, not the close box, which would keep Bank 2, 256K
  EXPECT_TRUE(Ctl<gui::LogMemo>(*form, "Memo1")->Lines().isEmpty());  // Clear
}

TEST_F(MainWindowTest, AnotherCommandClickedWhileOneRunsIsIgnored) {
  auto form = Start();
  // While Write Flash waits in its file dialog (before the frame locks the buttons), a click on
  // EraseFlash or on Write Flash itself must not start a second command on the same link.
  dialogs.onFileDialog = [&] {
    dialogs.onFileDialog = nullptr;
    port.calls.clear();
    QTest::mouseClick(Ctl<QPushButton>(*form, "EraseFlash"), Qt::LeftButton);
    QTest::mouseClick(Ctl<QPushButton>(*form, "Write"), Qt::LeftButton);
    EXPECT_TRUE(port.calls.empty());
  };
  QTest::mouseClick(Ctl<QPushButton>(*form, "Write"), Qt::LeftButton);
  EXPECT_EQ(dialogs.fileDialogs.size(), 1u);
  EXPECT_EQ(Ctl<gui::LogMemo>(*form, "Memo1")->Lines(),
            QStringList({"Use DLPortIO", "Write To Cart Cancel"}));
}

TEST_F(MainWindowTest, CloseBoxWhenIdleClosesAtOnce) {
  auto form = Start();
  form->show();
  EXPECT_TRUE(form->close());
  EXPECT_FALSE(form->isVisible());
}

TEST_F(MainWindowTest, DriverDeclinedEndsTheSetUpEarly) {
  auto form = Start(/*driverActive=*/false);
  ASSERT_EQ(dialogs.questions.size(), 1u);
  EXPECT_EQ(dialogs.questions[0].text, "Could not open the DriverLINX driver.");
  EXPECT_EQ(dialogs.questions[0].caption, "");
  EXPECT_FALSE(form->SetupCompleted());
  EXPECT_TRUE(Ctl<gui::LogMemo>(*form, "Memo1")->Lines().isEmpty());
  EXPECT_FALSE(QFile::exists(QStringLiteral("config.sav")));
  // Nothing is written even by Exit, and the port was never attached.
  form->presenter().ExitClick();
  EXPECT_FALSE(QFile::exists(QStringLiteral("config.sav")));
  EXPECT_TRUE(port.calls.empty());
  EXPECT_FALSE(form->presenter().core().port.Attached());
}

TEST_F(MainWindowTest, DriverAcceptedGoesOnAsUsual) {
  dialogs.answers = {true};
  auto form = Start(/*driverActive=*/false);
  EXPECT_TRUE(form->SetupCompleted());
  EXPECT_EQ(Ctl<gui::LogMemo>(*form, "Memo1")->Lines(), QStringList({"Use DLPortIO"}));
  EXPECT_TRUE(QFile::exists(QStringLiteral("config.sav")));
  EXPECT_TRUE(Ctl<QPushButton>(*form, "WT")->isHidden());
}

TEST_F(MainWindowTest, TheStartUpLogNamesThePortsBackEnd) {
  class NamedDriver final : public PortDriver {
   public:
    explicit NamedDriver(PortBackend& backend) : backend_(backend) {}
    void SetDriverPath(const std::string&) override {}
    void OpenDriver() override {}
    bool ActiveHW() const override { return true; }
    std::string Advice() const override { return {}; }
    void CloseDriver() override {}
    PortBackend& Backend() override { return backend_; }
    std::string BackEndInUse() const override { return "/dev/parport0 at 0x378 (ppdev)"; }

   private:
    PortBackend& backend_;
  };
  auto form = std::make_unique<gui::TForm1>(std::make_unique<NamedDriver>(port), &dialogs);
  EXPECT_EQ(Ctl<gui::LogMemo>(*form, "Memo1")->Lines(),
            QStringList({"Use DLPortIO", "Port access: /dev/parport0 at 0x378 (ppdev)"}));
}

}  // namespace
}  // namespace brevomat::testing
