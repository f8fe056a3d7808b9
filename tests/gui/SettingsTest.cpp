// config.sav: the start-up decision, load and save, applying the record to the window.
#include <sys/stat.h>
#include <unistd.h>

#include <QElapsedTimer>
#include <QFile>
#include <QTest>
#include <cstdio>
#include <fstream>
#include <iterator>

#include "GuiTestSupport.h"
#include "commands/Settings.h"

namespace brevomat::testing {
namespace {

std::vector<std::uint8_t> ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteFile(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

SettingsRecord RecordOf(const std::vector<std::uint8_t>& bytes) {
  SettingsRecord r;
  std::copy_n(bytes.begin(), std::min(bytes.size(), r.bytes.size()), r.bytes.begin());
  return r;
}

std::string Text(const char (&field)[kFileNameBytes]) {
  return std::string(field, strnlen(field, kFileNameBytes));
}

// A record as a previous run would have stored it.
std::vector<std::uint8_t> StoredRecord(int port, int speed, int ips, std::int32_t width, std::int32_t height,
                                       const std::string& openName = "") {
  SettingsRecord r;
  r.SetPortIndex(port);
  r.SetSpeedIndex(speed);
  r.SetIpsIndex(ips);
  r.SetWindowWidth(width);
  r.SetWindowHeight(height);
  StoreFileName(r.OpenFileName(), openName);
  return {r.bytes.begin(), r.bytes.end()};
}

class SettingsTest : public InTempDirectory {};

TEST_F(SettingsTest, AConfigSavThatIsNoFileIsNeitherReadNorReplaced) {
  // A FIFO would block the start for good; a directory cannot be read. The window starts on its
  // defaults and leaves the thing alone, also at Exit.
  for (bool fifo : {true, false}) {
    QFile::remove(QString::fromStdString(ConfigPath()));
    rmdir(ConfigPath().c_str());
    ASSERT_EQ(fifo ? mkfifo(ConfigPath().c_str(), 0600) : mkdir(ConfigPath().c_str(), 0700), 0);
    auto form = Start();
    EXPECT_TRUE(form->SetupCompleted());
    EXPECT_EQ(Ctl<gui::RadioGroup>(*form, "RadioSpeed")->ItemIndex(), 0);
    form->presenter().ExitClick();
    struct stat st {};
    ASSERT_EQ(stat(ConfigPath().c_str(), &st), 0);
    EXPECT_TRUE(fifo ? S_ISFIFO(st.st_mode) : S_ISDIR(st.st_mode));
  }
}

TEST_F(SettingsTest, FirstStartCreatesTheFileFromTheDesignState) {
  auto form = Start();
  const auto bytes = ReadFile(ConfigPath());
  ASSERT_EQ(bytes.size(), 796u);
  SettingsRecord r = RecordOf(bytes);
  EXPECT_EQ(r.PortIndex(), 0);
  EXPECT_EQ(r.SpeedIndex(), 0);
  EXPECT_EQ(r.IpsIndex(), 0);
  EXPECT_EQ(r.WindowHeight(), 418);
  EXPECT_EQ(r.WindowWidth(), 418);
  EXPECT_EQ(Text(r.OpenFileName()), "");
  EXPECT_EQ(Text(r.SaveFileName()), "");
  EXPECT_EQ(Text(r.BootFileName()), "");
  EXPECT_TRUE(form->presenter().settings().SettingsWritable);
  EXPECT_EQ(Ctl<gui::LogMemo>(*form, "Memo1")->Lines(), QStringList({"Use DLPortIO"}));
}

TEST_F(SettingsTest, ExitStoresTheChoicesAndTheNextStartShowsThem) {
  {
    auto form = Start();
    ClickItem(Ctl<gui::RadioGroup>(*form, "Port_sel"), 1);
    ClickItem(Ctl<gui::RadioGroup>(*form, "RadioSpeed"), 2);
    ClickItem(Ctl<gui::RadioGroup>(*form, "RadioIps"), 1);
    form->resize(500, 450);
    QTest::mouseClick(Ctl<QPushButton>(*form, "Exit"), Qt::LeftButton);
  }
  SettingsRecord r = RecordOf(ReadFile(ConfigPath()));
  EXPECT_EQ(r.PortIndex(), 1);
  EXPECT_EQ(r.SpeedIndex(), 2);
  EXPECT_EQ(r.IpsIndex(), 1);
  EXPECT_EQ(r.WindowWidth(), 500);
  EXPECT_EQ(r.WindowHeight(), 450);

  auto again = Start();
  EXPECT_EQ(Ctl<gui::RadioGroup>(*again, "Port_sel")->ItemIndex(), 1);
  EXPECT_EQ(Ctl<gui::RadioGroup>(*again, "RadioSpeed")->ItemIndex(), 2);
  EXPECT_EQ(Ctl<gui::RadioGroup>(*again, "RadioIps")->ItemIndex(), 1);
  EXPECT_EQ(again->size(), QSize(500, 450));
  EXPECT_EQ(again->presenter().core().link.DataPort, 0x278);
}

TEST_F(SettingsTest, TheStoredSizeIsTheOuterSizeAndTheWindowOpensCentred) {
  // Frame included: the design 418 x 418 on a first start (also what an earlier version, which
  // stored the inside, wrote), then the size the user left the window at.
  {
    auto form = Start();
    form->show();
    ASSERT_TRUE(WaitFor([&] { return form->frameGeometry().size() != form->size(); }));  // framed
    EXPECT_EQ(form->frameGeometry().size(), QSize(418, 418));
    form->resize(form->size() + QSize(82, 32));
    form->presenter().ExitClick();
  }
  SettingsRecord r = RecordOf(ReadFile(ConfigPath()));
  EXPECT_EQ(r.WindowWidth(), 500);
  EXPECT_EQ(r.WindowHeight(), 450);
  auto again = Start();
  again->show();
  EXPECT_TRUE(WaitFor([&] { return again->frameGeometry().size() == QSize(500, 450); }))
      << again->frameGeometry().width() << "x" << again->frameGeometry().height();
  EXPECT_EQ(again->frameGeometry().center(), gui::DesktopArea().center());
}

// Exit while the window is maximised stores the size it has when restored.
TEST_F(SettingsTest, ExitWhileMaximisedStoresTheRestoredSize) {
  {
    auto form = Start();
    form->show();
    ASSERT_TRUE(WaitFor([&] { return form->frameGeometry().size() != form->size(); }));  // framed
    form->resize(form->size() + QSize(500, 450) - form->frameGeometry().size());
    form->showMaximized();
    ASSERT_TRUE(WaitFor([&] { return form->isMaximized() && form->frameGeometry().width() != 500; }));
    QTest::mouseClick(Ctl<QPushButton>(*form, "Exit"), Qt::LeftButton);
  }
  SettingsRecord r = RecordOf(ReadFile(ConfigPath()));
  EXPECT_EQ(r.WindowWidth(), 500);
  EXPECT_EQ(r.WindowHeight(), 450);
}

TEST_F(SettingsTest, CloseBoxLeavesTheFileAsItWas) {
  Start().reset();
  const auto before = ReadFile(ConfigPath());
  {
    auto form = Start();
    form->show();
    ClickItem(Ctl<gui::RadioGroup>(*form, "Port_sel"), 2);
    form->close();
  }
  EXPECT_EQ(ReadFile(ConfigPath()), before);
  auto again = Start();
  EXPECT_EQ(Ctl<gui::RadioGroup>(*again, "Port_sel")->ItemIndex(), 0);
}

TEST_F(SettingsTest, LongerFileLoadsItsFirst796BytesAndExitWrites796) {
  auto bytes = StoredRecord(2, 3, 1, 420, 430);
  bytes.resize(900, 0xAB);
  bytes[794] = 0x5A;  // padding: kept as read
  WriteFile(ConfigPath(), bytes);
  auto form = Start();
  EXPECT_EQ(Ctl<gui::RadioGroup>(*form, "Port_sel")->ItemIndex(), 2);
  EXPECT_EQ(Ctl<gui::RadioGroup>(*form, "RadioSpeed")->ItemIndex(), 3);
  EXPECT_EQ(Ctl<gui::RadioGroup>(*form, "RadioIps")->ItemIndex(), 1);
  EXPECT_EQ(form->size(), QSize(420, 430));
  form->presenter().ExitClick();
  const auto written = ReadFile(ConfigPath());
  ASSERT_EQ(written.size(), 796u);
  EXPECT_EQ(written[794], 0x5A);
  EXPECT_EQ(written[0], 2);
}

TEST_F(SettingsTest, PortIndexIsClampedToTheGroup) {
  WriteFile(ConfigPath(), StoredRecord(7, 0, 0, 418, 418));
  {
    auto form = Start();
    EXPECT_EQ(Ctl<gui::RadioGroup>(*form, "Port_sel")->ItemIndex(), 2);
    EXPECT_EQ(form->presenter().core().link.DataPort, 0x3BC);
  }
  WriteFile(ConfigPath(), StoredRecord(0xFF, 0, 0, 418, 418));
  {
    auto form = Start();
    EXPECT_EQ(Ctl<gui::RadioGroup>(*form, "Port_sel")->ItemIndex(), -1);
    EXPECT_EQ(form->presenter().core().link.DataPort, 0x378);
    EXPECT_EQ(form->presenter().core().link.EppDataPort, 0x37C);
  }
  // -128 is below -1: no selection either; speed 100 selects the last speed.
  WriteFile(ConfigPath(), StoredRecord(0x80, 100, 0, 418, 418));
  auto form = Start();
  EXPECT_EQ(Ctl<gui::RadioGroup>(*form, "Port_sel")->ItemIndex(), -1);
  EXPECT_EQ(Ctl<gui::RadioGroup>(*form, "RadioSpeed")->ItemIndex(), 3);
}

TEST_F(SettingsTest, RememberedNamesThatStillExistPresetTheDialogs) {
  const std::string game = Path("game.gba").toStdString();
  WriteFile(game, {1, 2, 3});
  WriteFile(ConfigPath(), StoredRecord(0, 0, 0, 418, 418, game));
  {
    auto form = Start();
    EXPECT_EQ(form->presenter().OpenDialog1FileName(), game);
    EXPECT_EQ(form->presenter().OpenDialog3FileName(), game);
    form->presenter().ExitClick();
  }
  // A deleted name: the dialogs start without a name.
  std::remove(game.c_str());
  auto form = Start();
  EXPECT_EQ(form->presenter().OpenDialog1FileName(), "");
  EXPECT_EQ(form->presenter().OpenDialog3FileName(), "");
  QTest::mouseClick(Ctl<QPushButton>(*form, "Write"), Qt::LeftButton);
  ASSERT_EQ(dialogs.fileDialogs.size(), 1u);
  EXPECT_EQ(dialogs.fileDialogs[0].currentFile, "");
}

TEST_F(SettingsTest, ReadOnlyFileIsLoadedAndNeverWritten) {
  if (geteuid() == 0) GTEST_SKIP() << "root may write a read-only file";
  WriteFile(ConfigPath(), StoredRecord(1, 1, 1, 418, 418));
  chmod(ConfigPath().c_str(), 0444);
  const auto before = ReadFile(ConfigPath());
  auto form = Start();
  EXPECT_EQ(Ctl<gui::RadioGroup>(*form, "Port_sel")->ItemIndex(), 1);
  EXPECT_FALSE(form->presenter().settings().SettingsWritable);
  ClickItem(Ctl<gui::RadioGroup>(*form, "Port_sel"), 2);
  form->presenter().ExitClick();
  EXPECT_EQ(ReadFile(ConfigPath()), before);
  EXPECT_EQ(Ctl<gui::LogMemo>(*form, "Memo1")->Lines(), QStringList({"Use DLPortIO"}));
  EXPECT_TRUE(dialogs.questions.empty());
  chmod(ConfigPath().c_str(), 0644);
}

TEST_F(SettingsTest, ShortReadOnlyFileUsesWhatItHas) {
  if (geteuid() == 0) GTEST_SKIP() << "root may write a read-only file";
  WriteFile(ConfigPath(), {2});  // only PortIndex
  chmod(ConfigPath().c_str(), 0444);
  auto form = Start();
  EXPECT_EQ(Ctl<gui::RadioGroup>(*form, "Port_sel")->ItemIndex(), 2);
  EXPECT_EQ(form->size(), QSize(418, 418));
  EXPECT_EQ(ReadFile(ConfigPath()).size(), 1u);
  chmod(ConfigPath().c_str(), 0644);
}

TEST_F(SettingsTest, ShortWritableFileIsReplacedFromTheDesignState) {
  WriteFile(ConfigPath(), {2, 0, 0});
  auto form = Start();
  EXPECT_EQ(ReadFile(ConfigPath()).size(), 796u);
  EXPECT_EQ(RecordOf(ReadFile(ConfigPath())).PortIndex(), 0);
  EXPECT_EQ(Ctl<gui::RadioGroup>(*form, "Port_sel")->ItemIndex(), 0);
}

TEST_F(SettingsTest, RejectedPreBootNameIsStoredAtExit) {
  // Set Pre Boot lets OpenDialog2 choose the file before it checks the size; whatever the
  // dialog holds is what Exit stores.
  const std::string boot = Path("boot-too-long.bin").toStdString();
  WriteFile(boot, std::vector<std::uint8_t>(100, 0));
  dialogs.fileAnswers = {QStringList{QString::fromStdString(boot)}};
  auto form = Start();
  std::string chosen;
  ASSERT_TRUE(form->presenter().ExecuteOpenDialog2(chosen));
  EXPECT_EQ(dialogs.fileDialogs.back().filter, kPreBootFilter);
  form->presenter().ExitClick();
  SettingsRecord r = RecordOf(ReadFile(ConfigPath()));
  EXPECT_EQ(Text(r.BootFileName()), boot);
  auto again = Start();
  EXPECT_EQ(again->presenter().OpenDialog2FileName(), boot);
}

TEST_F(SettingsTest, AcceptedPreBootFileIsTheWriteMultiBootImageOfTheNextRun) {
  const std::string boot = Path("menu.bin").toStdString();
  WriteFile(boot, std::vector<std::uint8_t>(32768, 0x11));
  dialogs.fileAnswers = {QStringList{QString::fromStdString(boot)}};
  {
    auto form = Start();
    port.calls.clear();
    QTest::mouseClick(Ctl<QPushButton>(*form, "SetPreBoot"), Qt::LeftButton);
    EXPECT_TRUE(port.calls.empty());  // Set Pre Boot never talks to the adapter
    EXPECT_EQ(Ctl<gui::LogMemo>(*form, "Memo1")->Lines(),
              QStringList({"Use DLPortIO", "FileSize = 32768",
                           QString::fromStdString("Set Multi-Boot File=" + boot)}));
    EXPECT_EQ(Text(form->presenter().core().settings.BootFileName()), boot);
    form->presenter().ExitClick();
  }
  auto again = Start();
  EXPECT_EQ(Text(again->presenter().core().settings.BootFileName()), boot);
  EXPECT_EQ(again->presenter().OpenDialog2FileName(), boot);
}

TEST_F(SettingsTest, UnusableWindowSizesFallBackToTheDesignSize) {
  WriteFile(ConfigPath(), StoredRecord(0, 0, 0, -5, 100000));
  auto form = Start();
  EXPECT_EQ(form->size(), QSize(418, 418));
}

TEST_F(SettingsTest, NameTooLongForItsFieldIsNotStored) {
  auto form = Start();
  const std::string longName = Path(QString(300, QLatin1Char('x'))).toStdString();
  dialogs.fileAnswers = {QStringList{QString::fromStdString(longName)}};
  std::string file;
  ASSERT_TRUE(form->presenter().ExecuteSaveDialog1(file));
  form->presenter().ExitClick();
  SettingsRecord r = RecordOf(ReadFile(ConfigPath()));
  EXPECT_EQ(Text(r.SaveFileName()), "");
  EXPECT_EQ(ReadFile(ConfigPath()).size(), 796u);
}

TEST_F(SettingsTest, VanishedWorkingDirectoryGivesConfigFileError) {
  const QString gone = Path(QStringLiteral("gone"));
  ASSERT_TRUE(QDir().mkdir(gone));
  ASSERT_TRUE(QDir::setCurrent(gone));
  ASSERT_TRUE(QDir().rmdir(gone));
  auto form = Start();
  EXPECT_EQ(Ctl<gui::LogMemo>(*form, "Memo1")->Lines(), QStringList({"Use DLPortIO", "config file error"}));
  EXPECT_FALSE(form->presenter().settings().SettingsWritable);
  EXPECT_TRUE(form->SetupCompleted());
}

// The record code on its own.
TEST(SettingsFileTest, LoadKeepsPartialBytesAndSaveKeepsPadding) {
  QTemporaryDir dir;
  SettingsRecord record;
  SettingsFile file(record);
  ASSERT_TRUE(file.Locate(dir.path().toStdString()));
  EXPECT_EQ(std::string(file.SettingsPath), dir.path().toStdString() + "/config.sav");
  EXPECT_EQ(Text(record.OpenFileName()), dir.path().toStdString());
  file.SetDefaults();

  WriteFile(file.SettingsPath, {9, 'a', 'b'});
  EXPECT_FALSE(file.LoadSettings());
  EXPECT_EQ(record.PortIndex(), 9);
  EXPECT_EQ(record.bytes[1], 'a');

  record.bytes[521] = 0x11;  // padding
  WindowSettings window;
  window.PortIndex = -1;
  window.OpenFileName = "a";
  file.SaveSettings(window);  // not writable yet: nothing happens
  EXPECT_EQ(ReadFile(file.SettingsPath).size(), 3u);
  file.SettingsWritable = true;
  file.SaveSettings(window);
  const auto bytes = ReadFile(file.SettingsPath);
  ASSERT_EQ(bytes.size(), 796u);
  EXPECT_EQ(bytes[0], 0xFF);
  EXPECT_EQ(bytes[521], 0x11);
  EXPECT_EQ(bytes[1], 'a');
  EXPECT_EQ(bytes[2], 0);
  EXPECT_EQ(bytes[3], dir.path().toStdString()[2]);  // the rest of the field is left as it was
}

TEST(SettingsFileTest, FailedSaveStopsLaterSaves) {
  SettingsRecord record;
  SettingsFile file(record);
  ASSERT_TRUE(file.Locate("/nonexistent-directory-for-brevomat"));
  file.SettingsWritable = true;
  file.SaveSettings(WindowSettings{});
  EXPECT_FALSE(file.SettingsWritable);
}

TEST(SettingsFileTest, NameFieldWithoutTerminatorNamesNothing) {
  SettingsRecord record;
  SettingsFile file(record);
  std::fill_n(record.OpenFileName(), kFileNameBytes, '/');
  EXPECT_EQ(file.Apply().OpenFileName, "");
  EXPECT_EQ(record.OpenFileName()[0], '\0');
}

TEST(SettingsFileTest, ItemIndexClamping) {
  EXPECT_EQ(ClampItemIndex(-128, 3), -1);
  EXPECT_EQ(ClampItemIndex(-1, 3), -1);
  EXPECT_EQ(ClampItemIndex(2, 3), 2);
  EXPECT_EQ(ClampItemIndex(3, 3), 2);
  EXPECT_EQ(ClampItemIndex(127, 2), 1);
}

}  // namespace
}  // namespace brevomat::testing
