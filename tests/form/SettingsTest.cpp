// config.sav through the presenter: the start-up decision, load and save, the record applied to
// the window and the remembered file names; and the record code on its own.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "RecordingView.h"
#include "commands/Settings.h"

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace brevomat::testing {
namespace {

namespace fs = std::filesystem;

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

// Root may write a read-only file: the cases that need one cannot be made.
bool ReadOnlyHolds() {
#ifdef _WIN32
  return true;
#else
  return geteuid() != 0;
#endif
}

void MakeReadOnly(const fs::path& file) {
  fs::permissions(file, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                  fs::perm_options::remove);
}

class SettingsTest : public PresenterTest {};

TEST_F(SettingsTest, FirstStartCreatesTheFileFromTheDesignState) {
  Form1Presenter& form = Start();
  const auto bytes = ReadFile(Config());
  ASSERT_EQ(bytes.size(), 796u);
  const SettingsRecord r = RecordOf(bytes);
  EXPECT_EQ(r.PortIndex(), 0);
  EXPECT_EQ(r.SpeedIndex(), 0);
  EXPECT_EQ(r.IpsIndex(), 0);
  EXPECT_EQ(r.WindowHeight(), 418);
  EXPECT_EQ(r.WindowWidth(), 418);
  SettingsRecord copy = r;
  EXPECT_EQ(Text(copy.OpenFileName()), "");
  EXPECT_EQ(Text(copy.SaveFileName()), "");
  EXPECT_EQ(Text(copy.BootFileName()), "");
  EXPECT_TRUE(form.settings().SettingsWritable);
  EXPECT_EQ(view->log, std::vector<std::string>{"Use DLPortIO"});
}

// Exit stores what the window shows and the dialogs' names; the next start shows them again and
// selects the port; the close box stores nothing.
TEST_F(SettingsTest, ExitStoresTheChoicesAndTheNextStartShowsThem) {
  const std::string boot = File("boot.bin", std::vector<std::uint8_t>(0x8000, 0x11));
  for (const bool exit : {false, true}) {
    SCOPED_TRACE(exit ? "Exit" : "close box");
    Form1Presenter& form = Start();
    const auto before = ReadFile(Config());
    view->items = {{"Port_sel", 1}, {"RadioSpeed", 2}, {"RadioIps", 1}};
    view->width = 500, view->height = 450;
    view->fileAnswers = {{boot}};
    form.Clicked("SetPreBoot");
    if (!exit) {
      EXPECT_TRUE(form.MayCloseNow());
      EXPECT_EQ(ReadFile(Config()), before);
      continue;
    }
    form.Clicked("Exit");
    EXPECT_EQ(view->quitStatus, 0);
  }
  SettingsRecord r = RecordOf(ReadFile(Config()));
  EXPECT_EQ(r.PortIndex(), 1);
  EXPECT_EQ(r.SpeedIndex(), 2);
  EXPECT_EQ(r.IpsIndex(), 1);
  EXPECT_EQ(r.WindowWidth(), 500);
  EXPECT_EQ(r.WindowHeight(), 450);
  EXPECT_EQ(Text(r.BootFileName()), boot);

  Form1Presenter& again = Start();
  EXPECT_EQ(view->items, (std::map<std::string, int>{{"Port_sel", 1}, {"RadioSpeed", 2}, {"RadioIps", 1}}));
  EXPECT_EQ(view->width, 500);
  EXPECT_EQ(view->height, 450);
  EXPECT_EQ(again.core().link.DataPort, 0x278);
  EXPECT_EQ(again.OpenDialog2FileName(), boot);
  EXPECT_EQ(Text(again.core().settings.BootFileName()), boot);
}

// What is stored is taken as far as it is usable: a longer file's first 796 bytes (its padding
// kept at the next Exit), a short read-only file's bytes, an item index clamped to its group, a
// window size outside what a screen can hold replaced by the design size.
TEST_F(SettingsTest, StoredValuesAreTakenAsFarAsTheyAreUsable) {
  struct Case {
    const char* what;
    std::vector<std::uint8_t> file;
    bool readOnly;
    std::map<std::string, int> items;
    int width, height;
    std::uint32_t dataPort;
    std::size_t sizeAfterStart;
  };
  auto longer = StoredRecord(2, 3, 1, 420, 430);
  longer.resize(900, 0xAB);
  longer[794] = 0x5A;  // padding: kept as read
  const Case cases[] = {
      {"longer file",
       longer,
       false,
       {{"Port_sel", 2}, {"RadioSpeed", 3}, {"RadioIps", 1}},
       420,
       430,
       0x3BC,
       900},
      {"port 7",
       StoredRecord(7, 0, 0, 418, 418),
       false,
       {{"Port_sel", 2}, {"RadioSpeed", 0}, {"RadioIps", 0}},
       418,
       418,
       0x3BC,
       796},
      {"port 0xFF",
       StoredRecord(0xFF, 0, 0, 418, 418),
       false,
       {{"Port_sel", -1}, {"RadioSpeed", 0}, {"RadioIps", 0}},
       418,
       418,
       0x378,
       796},
      // -128 is below -1: no selection either; speed 100 selects the last speed.
      {"port 0x80, speed 100",
       StoredRecord(0x80, 100, 0, 418, 418),
       false,
       {{"Port_sel", -1}, {"RadioSpeed", 3}, {"RadioIps", 0}},
       418,
       418,
       0x378,
       796},
      {"unusable sizes",
       StoredRecord(0, 0, 0, -5, 100000),
       false,
       {{"Port_sel", 0}, {"RadioSpeed", 0}, {"RadioIps", 0}},
       418,
       418,
       0x378,
       796},
      {"short writable file: replaced from the design state",
       {2, 0, 0},
       false,
       {{"Port_sel", 0}, {"RadioSpeed", 0}, {"RadioIps", 0}},
       418,
       418,
       0x378,
       796},
      {"short read-only file: what it has",
       {2},
       true,
       {{"Port_sel", 2}, {"RadioSpeed", 0}, {"RadioIps", 0}},
       418,
       418,
       0x3BC,
       1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    if (c.readOnly && !ReadOnlyHolds()) continue;
    SetUp();
    WriteFile(Config(), c.file);
    if (c.readOnly) MakeReadOnly(Config());
    Form1Presenter& form = Start();
    EXPECT_EQ(view->items, c.items);
    EXPECT_EQ(view->width, c.width);
    EXPECT_EQ(view->height, c.height);
    EXPECT_EQ(form.core().link.DataPort, c.dataPort);
    EXPECT_EQ(form.core().link.EppDataPort, c.dataPort + 4);
    EXPECT_EQ(ReadFile(Config()).size(), c.sizeAfterStart);
    if (c.file == longer) {
      form.ExitClick();
      const auto written = ReadFile(Config());
      ASSERT_EQ(written.size(), 796u);
      EXPECT_EQ(written[794], 0x5A);
      EXPECT_EQ(written[0], 2);
    }
    TearDown();
  }
}

// A config.sav that is no file (a directory; on POSIX also a FIFO, which would block the start for
// good) is neither read nor replaced, also at Exit; a read-only one is read and never written; a
// working directory the program cannot name gives "config file error". The window starts all the
// same, on its defaults, and asks nothing.
TEST_F(SettingsTest, UnusableConfigSavIsLeftAlone) {
  enum class Kind { Directory, Fifo, ReadOnly, NoWorkingDirectory };
  for (const Kind kind : {Kind::Directory, Kind::Fifo, Kind::ReadOnly, Kind::NoWorkingDirectory}) {
    SCOPED_TRACE(static_cast<int>(kind));
#ifdef _WIN32
    if (kind == Kind::Fifo) continue;
#else
    if (kind == Kind::Fifo) {
      ASSERT_EQ(mkfifo(Config().string().c_str(), 0600), 0);
    }
#endif
    if (kind == Kind::ReadOnly && !ReadOnlyHolds()) continue;
    if (kind == Kind::Directory) fs::create_directory(Config());
    if (kind == Kind::ReadOnly) {
      WriteFile(Config(), StoredRecord(1, 1, 1, 418, 418));
      MakeReadOnly(Config());
    }
    if (kind == Kind::NoWorkingDirectory) view->workingDirectory.clear();
    const auto status = fs::symlink_status(Config()).type();
    const auto before = kind == Kind::ReadOnly ? ReadFile(Config()) : std::vector<std::uint8_t>{};
    Form1Presenter& form = Start();
    EXPECT_TRUE(form.SetupCompleted());
    EXPECT_FALSE(form.settings().SettingsWritable);
    EXPECT_EQ(view->items.at("Port_sel"), kind == Kind::ReadOnly ? 1 : 0);
    std::vector<std::string> log{"Use DLPortIO"};
    if (kind == Kind::NoWorkingDirectory) log.push_back("config file error");
    EXPECT_EQ(view->log, log);
    view->items["Port_sel"] = 2;
    form.ExitClick();
    EXPECT_EQ(fs::symlink_status(Config()).type(), status);
    if (kind == Kind::ReadOnly) {
      EXPECT_EQ(ReadFile(Config()), before);
    }
    EXPECT_EQ(view->questions, 0);
    TearDown();
    SetUp();
  }
}

// A remembered name that still exists presets the dialogs that use it; a name deleted since
// starts them without one.
TEST_F(SettingsTest, RememberedNamesThatStillExistPresetTheDialogs) {
  const std::string game = File("game.gba", {1, 2, 3});
  WriteFile(Config(), StoredRecord(0, 0, 0, 418, 418, game));
  {
    Form1Presenter& form = Start();
    EXPECT_EQ(form.OpenDialog1FileName(), game);
    EXPECT_EQ(form.OpenDialog3FileName(), game);
    form.ExitClick();
  }
  fs::remove(game);
  Form1Presenter& form = Start();
  EXPECT_EQ(form.OpenDialog1FileName(), "");
  EXPECT_EQ(form.OpenDialog3FileName(), "");
  form.Clicked("Write");
  ASSERT_EQ(view->fileDialogs.size(), 1u);
  EXPECT_EQ(view->fileDialogs[0].currentFile, "");
}

// Set Pre Boot lets OpenDialog2 choose the file before it checks the size: whatever the dialog
// holds is what Exit stores, also a file refused. An accepted one is the boot image of the next
// run's Write Multi, and Set Pre Boot never talks to the adapter.
TEST_F(SettingsTest, PreBootNamesAreStoredAtExit) {
  struct Case {
    const char* name;
    std::size_t size;
    bool accepted;
  };
  for (const Case& c : {Case{"boot-too-long.bin", 100, false}, Case{"menu.bin", 32768, true}}) {
    SCOPED_TRACE(c.name);
    const std::string boot = File(c.name, std::vector<std::uint8_t>(c.size, 0x11));
    view->fileAnswers = {{boot}};
    Form1Presenter& form = Start();
    port.calls.clear();
    form.Clicked("SetPreBoot");
    EXPECT_TRUE(port.calls.empty());
    ASSERT_EQ(view->fileDialogs.back().name, "OpenDialog2");
    if (c.accepted) {
      EXPECT_EQ(view->log, (std::vector<std::string>{"Use DLPortIO", "FileSize = 32768",
                                                     "Set Multi-Boot File=" + boot}));
      EXPECT_EQ(Text(form.core().settings.BootFileName()), boot);
    }
    form.ExitClick();
    SettingsRecord r = RecordOf(ReadFile(Config()));
    EXPECT_EQ(Text(r.BootFileName()), boot);
    Form1Presenter& again = Start();
    EXPECT_EQ(again.OpenDialog2FileName(), boot);
    EXPECT_EQ(Text(again.core().settings.BootFileName()), boot);
  }
}

TEST_F(SettingsTest, NameTooLongForItsFieldIsNotStored) {
  Form1Presenter& form = Start();
  view->fileAnswers = {{(directory_ / std::string(300, 'x')).string()}};
  std::string file;
  ASSERT_TRUE(form.ExecuteSaveDialog1(file));
  form.ExitClick();
  SettingsRecord r = RecordOf(ReadFile(Config()));
  EXPECT_EQ(Text(r.SaveFileName()), "");
  EXPECT_EQ(ReadFile(Config()).size(), 796u);
}

// The record code on its own.
TEST_F(SettingsTest, LoadKeepsPartialBytesAndSaveKeepsPadding) {
  SettingsRecord record;
  SettingsFile file(record);
  const std::string dir = directory_.string();
  ASSERT_TRUE(file.Locate(dir));
  EXPECT_EQ(fs::path(file.SettingsPath), directory_ / "config.sav");
  EXPECT_EQ(Text(record.OpenFileName()), dir);
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
  EXPECT_EQ(bytes[3], static_cast<std::uint8_t>(dir[2]));  // the rest of the field is left as it was
}

TEST_F(SettingsTest, FailedSaveStopsLaterSaves) {
  SettingsRecord record;
  SettingsFile file(record);
  ASSERT_TRUE(file.Locate((directory_ / "nonexistent-directory").string()));
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
