// Form2 and Form3: their result variables, the three ways to close them, the kept selection.
#include <unistd.h>

#include <QTest>
#include <QTimer>

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

TEST(Form2Test, ResultsOfOkCancelAndCloseBox) {
  TForm2 form(nullptr);
  EXPECT_EQ(form.SelectCartSize->title(), "SelectCartSize");
  EXPECT_EQ(form.size(), QSize(203, 258));
  EXPECT_EQ(form.OK->geometry(), QRect(16, 184, 75, 25));
  EXPECT_EQ(form.CANCEL->geometry(), QRect(104, 184, 75, 25));

  std::int32_t chunks = 77;
  // No item selected and OK: the same as CANCEL. Every way out ends with "cancel".
  int result = -1;
  form.Execute(-1, chunks, [&](QDialog& d) {
    result = ExecWith(d, [&] { QTest::mouseClick(form.OK, Qt::LeftButton); });
  });
  EXPECT_EQ(chunks, 0);
  EXPECT_EQ(result, QDialog::Rejected);

  form.Execute(5, chunks,
               [&](QDialog& d) { ExecWith(d, [&] { QTest::mouseClick(form.OK, Qt::LeftButton); }); });
  EXPECT_EQ(chunks, 1024);

  // The user picks "16M" over the preselected item.
  form.Execute(2, chunks, [&](QDialog& d) {
    ExecWith(d, [&] {
      ClickItem(form.SelectCartSize, 1);
      QTest::mouseClick(form.OK, Qt::LeftButton);
    });
  });
  EXPECT_EQ(chunks, 64);

  form.Execute(0, chunks,
               [&](QDialog& d) { ExecWith(d, [&] { QTest::mouseClick(form.CANCEL, Qt::LeftButton); }); });
  EXPECT_EQ(chunks, 0);

  chunks = 123;
  form.Execute(3, chunks, [&](QDialog& d) { result = ExecWith(d, [&] { form.close(); }); });
  EXPECT_EQ(chunks, 123);
  EXPECT_EQ(result, QDialog::Rejected);

  const std::int32_t expected[] = {32, 64, 128, 256, 512, 1024};
  for (int i = 0; i < 6; ++i) EXPECT_EQ(gui::CartSizeChunksForItem(i), expected[i]);
  EXPECT_EQ(gui::CartSizeChunksForItem(-1), 0);
}

TEST(Form3Test, ResultsAndSelectionKeptBetweenShowings) {
  TForm3 form(nullptr);
  EXPECT_EQ(form.windowTitle(), "Bank and Size Select");
  EXPECT_EQ(form.size(), QSize(241, 204));
  EXPECT_EQ(form.RadioBankSel->geometry(), QRect(16, 16, 97, 105));
  EXPECT_EQ(form.RadioSizeSel->geometry(), QRect(128, 16, 89, 105));
  EXPECT_EQ(form.RadioSizeSel->title(), "Size Select");

  std::uint8_t bank = 0, size = 0;
  form.Execute(bank, size, [&](QDialog& d) {
    ExecWith(d, [&] {
      ClickItem(form.RadioBankSel, 2);
      ClickItem(form.RadioSizeSel, 2);
      QTest::mouseClick(form.OK, Qt::LeftButton);
    });
  });
  EXPECT_EQ(bank, 2);
  EXPECT_EQ(size, 2);

  // Shown again: it starts with the last choice.
  form.Execute(bank, size, [&](QDialog& d) {
    ExecWith(d, [&] {
      EXPECT_EQ(form.RadioBankSel->ItemIndex(), 2);
      EXPECT_EQ(form.RadioSizeSel->ItemIndex(), 2);
      QTest::mouseClick(form.CANCEL, Qt::LeftButton);
    });
  });
  EXPECT_EQ(bank, 255);
  EXPECT_EQ(size, 255);

  bank = 1;
  size = 3;
  form.Execute(bank, size, [&](QDialog& d) { ExecWith(d, [&] { form.close(); }); });
  EXPECT_EQ(bank, 1);
  EXPECT_EQ(size, 3);
}

class WindowDialogsTest : public InTempDirectory {};

TEST_F(WindowDialogsTest, TheWindowShowsItsDialogsThroughTheProvider) {
  auto form = Start();
  dialogs.onModal = [&](QDialog& d) {
    ASSERT_EQ(&d, Ctl<gui::TForm2>(*form, "Form2"));
    EXPECT_EQ(Ctl<gui::TForm2>(*form, "Form2")->SelectCartSize->ItemIndex(), 4);
    Ctl<gui::TForm2>(*form, "Form2")->OKClick();
  };
  std::int32_t chunks = 0;
  form->ShowForm2(4, chunks);
  EXPECT_EQ(chunks, 512);

  dialogs.onModal = [&](QDialog&) { Ctl<gui::TForm3>(*form, "Form3")->CANCELClick(); };
  std::uint8_t bank = 0, size = 0;
  form->ShowForm3(bank, size);
  EXPECT_EQ(bank, 255);
  EXPECT_EQ(size, 255);

  // The file dialogs keep their own names and filters.
  dialogs.fileAnswers = {QStringList{"/a.gba", "/b.gba"}, QStringList{"/p.ips"}, QStringList{"/out.sav"}};
  std::vector<std::string> files;
  ASSERT_TRUE(form->ExecuteOpenDialog1(true, files));
  EXPECT_EQ(files, (std::vector<std::string>{"/a.gba", "/b.gba"}));
  EXPECT_TRUE(dialogs.fileDialogs.back().multiSelect);
  std::string ips;
  ASSERT_TRUE(form->ExecuteOpenDialog3(ips));
  EXPECT_EQ(dialogs.fileDialogs.back().filter, gui::kIpsFilter);
  std::string out;
  ASSERT_TRUE(form->ExecuteSaveDialog1(out));
  EXPECT_EQ(form->SaveDialog1FileName(), "/out.sav");
  EXPECT_EQ(form->OpenDialog1FileName(), "/a.gba");
  EXPECT_EQ(form->OpenDialog3FileName(), "/p.ips");
  EXPECT_FALSE(form->ExecuteOpenDialog2(out));  // cancelled
  EXPECT_EQ(out, "/out.sav");
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
