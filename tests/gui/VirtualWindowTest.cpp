// brevomat-virtual's window end to end: the same window on the virtual cart in virtual-cart/ of
// the working directory, driven by clicks, with the file dialog and the questions answered here.
#include <QTest>
#include <filesystem>

#include "GuiTestSupport.h"
#include "gui/SelectionDialogs.h"
#include "sim/CartDirectory.h"
#include "support/TestImages.h"

namespace brevomat::testing {
namespace {

class VirtualWindowTest : public InTempDirectory {};

bool EndsWithSeconds(const QString& line) {
  return line.startsWith(QStringLiteral("Time = ")) && line.endsWith(QStringLiteral(" Sec"));
}

TEST_F(VirtualWindowTest, WriteFlashThenEraseFlash) {
  const std::filesystem::path cartDir = std::filesystem::current_path() / "virtual-cart";
  std::string error;
  auto cart = sim::VirtualCart::Open(cartDir, error);
  ASSERT_NE(cart, nullptr) << error;
  ASSERT_TRUE(std::filesystem::is_directory(cartDir));  // created on first start

  const std::vector<std::uint8_t> image = MakeImage(0x10000);
  const std::string game = Path(QStringLiteral("game.gba")).toStdString();
  WriteBytes(game, image);

  auto form = std::make_unique<gui::TForm1>(std::make_unique<FixedPortDriver>(cart->Port()), &dialogs);
  ASSERT_TRUE(form->SetupCompleted());
  form->show();

  dialogs.fileAnswers = {QStringList{QString::fromStdString(game)}};
  QTest::mouseClick(Ctl<QPushButton>(*form, "Write"), Qt::LeftButton);
  QStringList log = Ctl<gui::LogMemo>(*form, "Memo1")->Lines();
  // The fresh cart is erased: the window's write only programs the one block.
  ASSERT_EQ(log.size(), 8) << log.join('|').toStdString();
  EXPECT_EQ(log.mid(0, 7),
            QStringList({"Use DLPortIO", "PortMode = EPP", "FileName = " + QString::fromStdString(game),
                         "FileSize = 65536", "Game Name = GBA Tests", "Game Code = 1337",
                         "Blocks = 0 skipped, 1 programmed, 0 erased"}));
  EXPECT_TRUE(EndsWithSeconds(log[7])) << log[7].toStdString();
  EXPECT_EQ(Ctl<QLabel>(*form, "Status")->text(), "Write Cart ok");
  EXPECT_EQ(Ctl<QProgressBar>(*form, "ProgressBar1")->value(), 100);
  EXPECT_TRUE(Ctl<QPushButton>(*form, "Exit")->isEnabled());
  EXPECT_FALSE(Ctl<QPushButton>(*form, "Stop")->isEnabled());
  ASSERT_NE(cart->Flash(), nullptr);
  EXPECT_TRUE(std::equal(image.begin(), image.end(), cart->Flash()->Flash().begin()));

  dialogs.answers = {true};
  QTest::mouseClick(Ctl<QPushButton>(*form, "EraseFlash"), Qt::LeftButton);
  ASSERT_EQ(dialogs.questions.size(), 1u);
  EXPECT_EQ(dialogs.questions[0].text, "Do You want to Erase Flash Data?");
  EXPECT_EQ(dialogs.questions[0].caption, "Erase Flash");
  log = Ctl<gui::LogMemo>(*form, "Memo1")->Lines();
  ASSERT_GE(log.size(), 12);
  EXPECT_EQ(log[8], "");
  EXPECT_EQ(log[9], "PortMode = EPP");
  EXPECT_EQ(log[log.size() - 2], "Cart Erase Ok");
  EXPECT_TRUE(EndsWithSeconds(log.last()));
  EXPECT_EQ(Ctl<QLabel>(*form, "Status")->text(), "Cart Erase Ok");

  // Exit, and the cart goes back to its directory as the program does it.
  QTest::mouseClick(Ctl<QPushButton>(*form, "Exit"), Qt::LeftButton);
  form.reset();
  ASSERT_TRUE(cart->Close(error)) << error;
  const std::vector<std::uint8_t> flash = ReadBytes(cartDir / "flash.bin");
  ASSERT_EQ(flash.size(), 8u << 20);
  EXPECT_TRUE(std::all_of(flash.begin(), flash.end(), [](std::uint8_t b) { return b == 0xFF; }));
}

TEST_F(VirtualWindowTest, SetPreBootThenWriteMultiThenWriteFlashChoosesOneFileAgain) {
  std::string error;
  auto cart = sim::VirtualCart::Open(std::filesystem::current_path() / "virtual-cart", error);
  ASSERT_NE(cart, nullptr) << error;
  const std::vector<std::uint8_t> menu = MakeImage(0x8000, 40), first = MakeImage(0x10000, 41),
                                  second = MakeImage(0x10000, 42);
  const QString boot = Path(QStringLiteral("menu.bin")), g1 = Path(QStringLiteral("g1.gba")),
                g2 = Path(QStringLiteral("g2.gba"));
  WriteBytes(boot.toStdString(), menu);
  WriteBytes(g1.toStdString(), first);
  WriteBytes(g2.toStdString(), second);
  auto form = std::make_unique<gui::TForm1>(std::make_unique<FixedPortDriver>(cart->Port()), &dialogs);
  ASSERT_TRUE(form->SetupCompleted());

  dialogs.fileAnswers = {QStringList{boot}, QStringList{g1, g2}};
  QTest::mouseClick(Ctl<QPushButton>(*form, "SetPreBoot"), Qt::LeftButton);
  QTest::mouseClick(Ctl<QPushButton>(*form, "WriteMulti"), Qt::LeftButton);
  const QStringList log = Ctl<gui::LogMemo>(*form, "Memo1")->Lines();
  // Write Multi opens the pre-boot image Set Pre Boot kept.
  EXPECT_EQ(log.mid(0, 7), QStringList({"Use DLPortIO", "FileSize = 32768", "Set Multi-Boot File=" + boot, "",
                                        "PortMode = EPP", "MultiFileSize = 131072", "FileName = " + boot}));
  EXPECT_TRUE(EndsWithSeconds(log.last()));
  EXPECT_EQ(Ctl<QLabel>(*form, "Status")->text(), "Write Cart ok");
  const std::vector<std::uint8_t>& flash = cart->Flash()->Flash();
  EXPECT_TRUE(std::equal(menu.begin(), menu.end(), flash.begin()));
  EXPECT_TRUE(std::equal(second.begin(), second.end(), flash.begin() + 0x8000));
  EXPECT_TRUE(std::equal(first.begin(), first.end(), flash.begin() + 0x408000));

  QTest::mouseClick(Ctl<QPushButton>(*form, "Write"), Qt::LeftButton);  // cancelled
  ASSERT_EQ(dialogs.fileDialogs.size(), 3u);
  EXPECT_EQ(dialogs.fileDialogs[0].name, "OpenDialog2");
  EXPECT_EQ(dialogs.fileDialogs[1].name, "OpenDialog1");
  EXPECT_TRUE(dialogs.fileDialogs[1].multiSelect);
  EXPECT_FALSE(dialogs.fileDialogs[2].multiSelect);
  form.reset();
  ASSERT_TRUE(cart->Close(error)) << error;
}

TEST_F(VirtualWindowTest, BackupGameReadsTheSizePickedInForm2) {
  std::string error;
  auto cart = sim::VirtualCart::Open(std::filesystem::current_path() / "virtual-cart", error);
  ASSERT_NE(cart, nullptr) << error;
  const std::vector<std::uint8_t> image = MakeImage(8u << 20, 3);
  cart->Flash()->Flash() = image;
  auto form = std::make_unique<gui::TForm1>(std::make_unique<FixedPortDriver>(cart->Port()), &dialogs);
  // Form2 in its own modal loop: the whole 8 MB chip is proposed; the user picks "8M" and OK.
  int proposed = -2;
  dialogs.onModal = [&](QDialog& dialog) {
    auto& form2 = dynamic_cast<gui::TForm2&>(dialog);
    proposed = form2.SelectCartSize->ItemIndex();
    QTimer::singleShot(0, &dialog, [&] {
      ClickItem(form2.SelectCartSize, 0);
      QTest::mouseClick(form2.OK, Qt::LeftButton);
    });
    dialog.exec();
  };
  const QString dump = Path(QStringLiteral("dump.gba"));
  dialogs.fileAnswers = {QStringList{dump}};
  QTest::mouseClick(Ctl<QPushButton>(*form, "Read"), Qt::LeftButton);
  EXPECT_EQ(proposed, 3);
  EXPECT_EQ(Ctl<gui::LogMemo>(*form, "Memo1")->Lines().mid(5, 1), QStringList({"Cart Size = 8M"}));
  EXPECT_EQ(Ctl<QLabel>(*form, "Status")->text(), "Read Flash ok");
  const std::vector<std::uint8_t> dumped = ReadBytes(dump.toStdString());
  EXPECT_TRUE(dumped.size() == 1u << 20 && std::equal(dumped.begin(), dumped.end(), image.begin()));
}

TEST_F(VirtualWindowTest, WriteSaverThenBackupSaver) {
  std::string error;
  auto cart = sim::VirtualCart::Open(std::filesystem::current_path() / "virtual-cart", error);
  ASSERT_NE(cart, nullptr) << error;
  auto form = std::make_unique<gui::TForm1>(std::make_unique<FixedPortDriver>(cart->Port()), &dialogs);
  form->show();
  auto* form3 = Ctl<gui::TForm3>(*form, "Form3");
  int form3Shown = 0;
  dialogs.onModal = [&](QDialog& d) {  // "Bank 2", "64K", OK
    ASSERT_EQ(&d, form3);
    ++form3Shown;
    form3->RadioBankSel->SetItemIndex(1);
    form3->RadioSizeSel->SetItemIndex(1);
    form3->OKClick();
  };

  std::vector<std::uint8_t> save(0x10000);
  for (std::size_t i = 0; i < save.size(); ++i) save[i] = static_cast<std::uint8_t>(i * 13 + (i >> 9));
  const std::string in = Path(QStringLiteral("in.sav")).toStdString();
  const std::string out = Path(QStringLiteral("out.sav")).toStdString();
  WriteBytes(in, save);
  dialogs.fileAnswers = {QStringList{QString::fromStdString(in)}, QStringList{QString::fromStdString(out)}};
  QTest::mouseClick(Ctl<QPushButton>(*form, "SWrite"), Qt::LeftButton);
  EXPECT_EQ(Ctl<QLabel>(*form, "Status")->text(), "Write Save Data ok");
  const std::vector<std::uint8_t>& memory = cart->Flash()->Save();
  EXPECT_TRUE(std::equal(save.begin(), save.end(), memory.begin() + 0x10000)) << "units 2 and 3";
  QTest::mouseClick(Ctl<QPushButton>(*form, "SRead"), Qt::LeftButton);
  EXPECT_EQ(ReadBytes(out), save);
  EXPECT_EQ(form3Shown, 2);
  ASSERT_EQ(dialogs.fileDialogs.size(), 2u);
  EXPECT_EQ(dialogs.fileDialogs[0].name, "OpenDialog1");
  EXPECT_EQ(dialogs.fileDialogs[1].name, "SaveDialog1");
  const QStringList log = Ctl<gui::LogMemo>(*form, "Memo1")->Lines();
  ASSERT_EQ(log.size(), 11) << log.join('|').toStdString();
  EXPECT_EQ(log.mid(0, 4), QStringList({"Use DLPortIO", "PortMode = EPP",
                                        "FileName = " + QString::fromStdString(in), "FileSize = 65536"}));
  // The save it replaced is kept in the user's data folder (the test's own here), and named.
  const QString kept = Path(QStringLiteral("data/brevomat/saves/"));
  EXPECT_TRUE(log[4].startsWith("Old Save = " + kept) && log[4].endsWith("_bank2_64K.sav"))
      << log[4].toStdString();
  EXPECT_EQ(log.mid(6, 4), QStringList({"", "PortMode = EPP", "FileName = " + QString::fromStdString(out),
                                        "Backup Saver 64K Ok"}));
  EXPECT_TRUE(EndsWithSeconds(log[5]) && EndsWithSeconds(log[10])) << log.join('|').toStdString();
  EXPECT_EQ(Ctl<QLabel>(*form, "Status")->text(), "");
  EXPECT_TRUE(Ctl<QPushButton>(*form, "SRead")->isEnabled());
  EXPECT_FALSE(Ctl<QPushButton>(*form, "Stop")->isEnabled());
}

}  // namespace
}  // namespace brevomat::testing
