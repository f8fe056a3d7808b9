// config.sav as the Qt window takes part in it: its controls and its frame are what the presenter
// stores and what it shows again, and the working directory is Qt's. What the presenter does with
// the file is tested in tests/form.
#include <QElapsedTimer>
#include <QFile>
#include <QTest>
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

SettingsRecord RecordOf(const std::vector<std::uint8_t>& bytes) {
  SettingsRecord r;
  std::copy_n(bytes.begin(), std::min(bytes.size(), r.bytes.size()), r.bytes.begin());
  return r;
}

class SettingsTest : public InTempDirectory {};

// The clicked items and the size reach the file through the Exit button, and the next start shows
// them in the window's controls.
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

// The window's radio groups take a stored index as far as they can: past the items the last one,
// below -1 none.
TEST_F(SettingsTest, StoredIndexesAreClampedToTheGroups) {
  SettingsRecord r;
  r.SetPortIndex(7);
  r.SetSpeedIndex(100);
  r.SetIpsIndex(0x80);
  r.SetWindowWidth(418);
  r.SetWindowHeight(418);
  QFile file(QString::fromStdString(ConfigPath()));
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write(reinterpret_cast<const char*>(r.bytes.data()), static_cast<qint64>(r.bytes.size()));
  file.close();
  auto form = Start();
  EXPECT_EQ(Ctl<gui::RadioGroup>(*form, "Port_sel")->ItemIndex(), 2);
  EXPECT_EQ(Ctl<gui::RadioGroup>(*form, "RadioSpeed")->ItemIndex(), 3);
  EXPECT_EQ(Ctl<gui::RadioGroup>(*form, "RadioIps")->ItemIndex(), -1);
}

// A working directory removed under the program has no name Qt can give: the file has no place.
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

}  // namespace
}  // namespace brevomat::testing
