// Form2 and Form3: their result variables, the three ways to close them, the kept selection.
#include <unistd.h>

#include <QMessageBox>
#include <QTest>
#include <QTimer>
#include <functional>
#include <optional>

#include "GuiTestSupport.h"
#include "port/Tdlportio.h"

namespace brevomat::testing {
namespace {

using gui::TForm2;
using gui::TForm3;

// Runs the dialog's real modal loop and lets `act` press its buttons from inside it.
template <typename Dialog, typename Act>
int ExecWith(Dialog& dialog, Act act) {
  QTimer::singleShot(0, &dialog, [&] { act(); });
  return dialog.exec();
}

using Button = DialogAnswer::Button;

// Each dialog is built where its table says; its buttons and its close box are its answer, with
// what its groups showed, and only they close it: Esc does not.
TEST(Form2Test, ButtonsAndCloseBoxAreTheAnswerAndEscClosesNothing) {
  TForm2 form(nullptr);
  EXPECT_EQ(form.windowTitle(), "Select Cart size");
  EXPECT_EQ(form.size(), QSize(kForm2.width, kForm2.height));
  EXPECT_EQ(form.SelectCartSize->geometry(), QRect(16, 16, 161, 137));
  EXPECT_EQ(form.OK->geometry(), QRect(16, 184, 75, 25));
  EXPECT_EQ(form.CANCEL->geometry(), QRect(104, 184, 75, 25));

  struct Case {
    const char* how;
    int preselect;
    std::function<void()> act;
    DialogAnswer answer;
  };
  const Case cases[] = {
      {"OK on the preselected item",
       5,
       [&] { QTest::mouseClick(form.OK, Qt::LeftButton); },
       {Button::OK, {5, -1}}},
      {"OK on the item picked",
       2,
       [&] {
         ClickItem(form.SelectCartSize, 1);
         QTest::mouseClick(form.OK, Qt::LeftButton);
       },
       {Button::OK, {1, -1}}},
      {"CANCEL", 0, [&] { QTest::mouseClick(form.CANCEL, Qt::LeftButton); }, {Button::CANCEL}},
      {"Esc, then the close box",
       3,
       [&] {
         QTest::keyClick(&form, Qt::Key_Escape);
         EXPECT_TRUE(form.isVisible());
         form.close();
       },
       {Button::CloseBox}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.how);
    int result = -1;
    EXPECT_EQ(form.Execute(c.preselect, [&](QDialog& d) { result = ExecWith(d, c.act); }), c.answer);
    EXPECT_EQ(result, QDialog::Rejected);  // every way out ends with "cancel"
    EXPECT_FALSE(form.isVisible());
  }
}

TEST(Form3Test, ButtonsAreTheAnswerAndTheSelectionIsKeptBetweenShowings) {
  TForm3 form(nullptr);
  EXPECT_EQ(form.windowTitle(), "Bank and Size Select");
  EXPECT_EQ(form.size(), QSize(kForm3.width, kForm3.height));
  EXPECT_EQ(form.RadioBankSel->geometry(), QRect(16, 16, 97, 105));
  EXPECT_EQ(form.RadioSizeSel->geometry(), QRect(128, 16, 89, 105));
  EXPECT_EQ(form.RadioSizeSel->title(), "Size Select");

  const DialogAnswer first = form.Execute([&](QDialog& d) {
    ExecWith(d, [&] {
      ClickItem(form.RadioBankSel, 2);
      ClickItem(form.RadioSizeSel, 3);
      QTest::keyClick(&form, Qt::Key_Escape);
      QTest::mouseClick(form.OK, Qt::LeftButton);
    });
  });
  EXPECT_EQ(first, (DialogAnswer{Button::OK, {2, 3}}));

  // Shown again: it starts with the last choice.
  const DialogAnswer second = form.Execute([&](QDialog& d) {
    ExecWith(d, [&] {
      EXPECT_EQ(form.RadioBankSel->ItemIndex(), 2);
      EXPECT_EQ(form.RadioSizeSel->ItemIndex(), 3);
      QTest::mouseClick(form.CANCEL, Qt::LeftButton);
    });
  });
  EXPECT_EQ(second, DialogAnswer{Button::CANCEL});

  EXPECT_EQ(form.Execute([&](QDialog& d) { ExecWith(d, [&] { form.close(); }); }),
            DialogAnswer{Button::CloseBox});
}

// The file dialogs get the system's filters in Qt's form, with the same names and patterns; "*.*",
// which on Windows matches every file, becomes Qt's "*".
TEST(FileDialogFilterTest, TheSystemsFiltersInQtsForm) {
  const std::pair<const char*, const char*> cases[] = {
      {kGameFilter, "GBA Files (*.gba *.bin *.dat *.sav);;All Files (*)"},
      {kPreBootFilter, "GBA Files (*.gba *.bin *.dat);;All Files (*)"},
      {kIpsFilter, "IPS File(*.ips);;all files(*)"},
      {"Saves|*.sav;*.SAV", "Saves (*.sav *.SAV)"},
  };
  for (const auto& [filter, qt] : cases) EXPECT_EQ(gui::QtFilter(filter), QString::fromLatin1(qt)) << filter;
}

// Each file dialog shows its own filter and mode; the save dialog takes an existing file's name
// without asking.
TEST(FileDialogFilterTest, EachDialogIsMadeAsItsUseAsks) {
  struct Case {
    const FileDialogEntry& dialog;
    bool multiSelect;
    QFileDialog::AcceptMode accept;
    QFileDialog::FileMode mode;
    QStringList filters;
  };
  const QStringList games{"GBA Files (*.gba *.bin *.dat *.sav)", "All Files (*)"};
  const Case cases[] = {
      {kOpenDialog1, true, QFileDialog::AcceptOpen, QFileDialog::ExistingFiles, games},
      {kOpenDialog1, false, QFileDialog::AcceptOpen, QFileDialog::ExistingFile, games},
      {kSaveDialog1, false, QFileDialog::AcceptSave, QFileDialog::AnyFile, games},
      {kOpenDialog2,
       false,
       QFileDialog::AcceptOpen,
       QFileDialog::ExistingFile,
       {"GBA Files (*.gba *.bin *.dat)", "All Files (*)"}},
      {kOpenDialog3,
       false,
       QFileDialog::AcceptOpen,
       QFileDialog::ExistingFile,
       {"IPS File(*.ips)", "all files(*)"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.dialog.name);
    const auto box = gui::MakeFileDialog(nullptr, c.dialog, c.multiSelect, QStringLiteral("/tmp/a.gba"));
    EXPECT_EQ(box->acceptMode(), c.accept);
    EXPECT_EQ(box->fileMode(), c.mode);
    EXPECT_EQ(box->nameFilters(), c.filters);
    EXPECT_EQ(box->testOption(QFileDialog::DontConfirmOverwrite), c.dialog.save);
  }
}

class WindowDialogsTest : public InTempDirectory {};

// However small the main window, each dialog opens at its own size, centred over it, and keeps
// that size: a title with a close box only, no resizing, minimising or maximising.
TEST_F(WindowDialogsTest, DialogsKeepTheirOwnSizeAndHaveACloseBoxOnly) {
  auto form = Start();
  form->show();
  form->resize(120, 80);
  struct Case {
    const char* name;
    QSize design;
  };
  for (const Case& c : {Case{"Form2", QSize(kForm2.width, kForm2.height)},
                        Case{"Form3", QSize(kForm3.width, kForm3.height)}}) {
    SCOPED_TRACE(c.name);
    QSize shown, afterResize;
    Qt::WindowFlags flags;
    dialogs.onModal = [&](QDialog& d) {
      ExecWith(d, [&] {
        EXPECT_TRUE(WaitFor([&] { return d.frameGeometry().size() != d.size(); }));  // framed
        shown = d.frameGeometry().size();
        d.resize(d.size() + QSize(40, 40));
        afterResize = d.frameGeometry().size();
        flags = d.windowFlags();
        d.close();
      });
    };
    if (c.name == std::string_view("Form2"))
      form->presenter().ShowForm2(0);
    else
      form->presenter().ShowForm3(SaveChoice{});
    EXPECT_EQ(shown, c.design);
    EXPECT_EQ(afterResize, c.design);
    EXPECT_TRUE(flags.testFlag(Qt::WindowCloseButtonHint));
    EXPECT_FALSE(flags.testFlag(Qt::WindowMinimizeButtonHint));
    EXPECT_FALSE(flags.testFlag(Qt::WindowMaximizeButtonHint));
  }
}

// The question is answered by its buttons only: Esc and the close box leave it standing. An empty
// caption is shown empty, not replaced by the program's name.
TEST(QuestionBoxTest, OnlyItsButtonsAnswerAndAnEmptyCaptionStaysEmpty) {
  for (const QMessageBox::StandardButton answer : {QMessageBox::Yes, QMessageBox::No}) {
    const auto box =
        gui::MakeQuestionBox(nullptr, QStringLiteral("Could not open the DriverLINX driver."), {});
    box->show();
    QTest::keyClick(box.get(), Qt::Key_Escape);
    EXPECT_FALSE(box->close());
    EXPECT_TRUE(box->isVisible());
    EXPECT_TRUE(box->windowTitle().trimmed().isEmpty());
    EXPECT_FALSE(box->windowTitle().isEmpty());  // an empty one would get the program's name
    QTest::mouseClick(box->button(answer), Qt::LeftButton);
    EXPECT_FALSE(box->isVisible());
    EXPECT_EQ(box->result(), answer);
  }
}

TEST_F(WindowDialogsTest, TheWindowShowsItsDialogsThroughTheProvider) {
  auto form = Start();
  dialogs.onModal = [&](QDialog& d) {
    ASSERT_EQ(&d, Ctl<gui::TForm2>(*form, "Form2"));
    EXPECT_EQ(Ctl<gui::TForm2>(*form, "Form2")->SelectCartSize->ItemIndex(), 4);
    Ctl<gui::TForm2>(*form, "Form2")->OKClick();
  };
  EXPECT_EQ(form->presenter().ShowForm2(4), 512);

  dialogs.onModal = [&](QDialog&) { Ctl<gui::TForm3>(*form, "Form3")->CANCELClick(); };
  EXPECT_EQ(form->presenter().ShowForm3(SaveChoice{}), std::nullopt);

  // A file dialog gets its table row, the mode and the current name, and gives back every name
  // chosen, in order; what the names mean is the presenter's (tests/form).
  dialogs.fileAnswers = {QStringList{"/a.gba", "/b.gba"}, QStringList{"/c.ips"}};
  std::vector<std::string> files;
  ASSERT_TRUE(form->presenter().ExecuteOpenDialog1(true, files));
  EXPECT_EQ(files, (std::vector<std::string>{"/a.gba", "/b.gba"}));
  std::string ips;
  ASSERT_TRUE(form->presenter().ExecuteOpenDialog3(ips));
  ASSERT_EQ(dialogs.fileDialogs.size(), 2u);
  EXPECT_EQ(dialogs.fileDialogs[0].name, "OpenDialog1");
  EXPECT_TRUE(dialogs.fileDialogs[0].multiSelect);
  EXPECT_EQ(dialogs.fileDialogs[1].filter, kIpsFilter);
  EXPECT_EQ(dialogs.fileDialogs[1].currentFile, "");
}

// The real-port driver component. Whether the ports can be opened depends on the machine (root or
// CAP_SYS_RAWIO, x86); either way the component must say so and never fault.
TEST(TDLPortIOTest, OpensOrExplainsWhyAndNeverFaults) {
  TDLPortIO driver;
  EXPECT_FALSE(driver.ActiveHW());
  EXPECT_EQ(driver.LastError(), "");
  EXPECT_FALSE(driver.CloseDriver());  // nothing to close yet
  // Closed: a floating bus, writes go nowhere.
  EXPECT_EQ(driver.Backend().ReadByte(0x379), 0xFF);
  EXPECT_EQ(driver.Backend().ReadWord(0x37C), 0xFFFF);
  driver.Backend().WriteByte(0x37A, 4);

  driver.OpenDriver();
  if (!driver.ActiveHW()) {
    EXPECT_NE(driver.LastError().find("ioperm(0x378)"), std::string::npos) << driver.LastError();
    EXPECT_EQ(driver.Backend().ReadByte(0x379), 0xFF);
    EXPECT_FALSE(driver.CloseDriver());
    return;
  }
  driver.OpenDriver();  // a second open while open does nothing
  EXPECT_TRUE(driver.ActiveHW());
  EXPECT_TRUE(driver.CloseDriver());
  EXPECT_FALSE(driver.ActiveHW());
  // After closing, the back end must not touch the ports any more.
  EXPECT_EQ(driver.Backend().ReadByte(0x379), 0xFF);
}

}  // namespace
}  // namespace brevomat::testing
