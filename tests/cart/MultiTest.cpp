// Set Pre Boot and Write Multi end to end: scripted window, virtual adapter, virtual 8 MB flash
// cart and image files on disk. Each test checks the log line for line and the bytes the flash
// holds afterwards.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "CartRig.h"
#include "IpsPatchFile.h"
#include "commands/Commands.h"
#include "sim/RomCart.h"

namespace brevomat {
namespace {

using testing::CartRig;
using testing::CartRigOptions;
using testing::MakeImage;
using Lines = std::vector<std::string>;
using Bytes = std::vector<std::uint8_t>;

constexpr std::size_t kChunk = 0x8000, k1M = 0x100000, k2M = 0x200000, k4M = 0x400000, k8M = 0x800000;

Lines Cat(Lines a, const Lines& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// The line a write that touched only what changed ends with: the flash is dirty before every test
// here, so every block an image touches is erased.
std::string Erased(int blocks) {
  return "Blocks = 0 skipped, 0 programmed, " + std::to_string(blocks) + " erased";
}

// A game image whose final 32 KB are `tail` bytes (blank when 0x00 or 0xFF), or pattern data.
Bytes Game(std::size_t size, std::uint32_t seed, int tail = -1) {
  Bytes image = MakeImage(size, seed);
  if (tail >= 0) std::fill(image.end() - kChunk, image.end(), static_cast<std::uint8_t>(tail));
  return image;
}

class MultiTest : public ::testing::Test {
 protected:
  std::unique_ptr<CartRig> rig;
  void Make(const CartRigOptions& o = {}) {
    rig = std::make_unique<CartRig>(o);
    rig->DirtyFlash(0x5A);
    bootImage = MakeImage(kChunk, 40);
    boot = rig->File("boot.bin", bootImage);
    StoreFileName(rig->core.settings.BootFileName(), boot);
  }
  void SetUp() override { Make(); }

  // Writes the games to files named g0.gba, g1.gba ... for the dialog to choose.
  void Files(const std::vector<Bytes>& games) {
    names.clear();
    for (std::size_t i = 0; i < games.size(); ++i)
      names.push_back(rig->File("g" + std::to_string(i) + ".gba", games[i]));
    rig->window.openDialog1 = {names};
  }
  int Run(const std::vector<Bytes>& games) {
    Files(games);
    return WriteMultiClick(rig->core);
  }
  Bytes Flash(std::size_t from, std::size_t size) const {
    return Bytes(rig->cart.Flash().begin() + static_cast<std::ptrdiff_t>(from),
                 rig->cart.Flash().begin() + static_cast<std::ptrdiff_t>(from + size));
  }
  Lines BootLines() const {
    return {"FileName = " + boot, "FileSize = 32768", "Game Name = GBA Tests", "Game Code = 1337"};
  }
  Lines GameLines(std::size_t game, std::size_t size) const {
    return {"FileName = " + names[game], "FileSize = " + std::to_string(size), "Game Name = GBA Tests",
            "Game Code = 1337"};
  }

  Bytes bootImage;
  std::string boot;
  std::vector<std::string> names;
};

// Two 4 MB games fill the flash: the first, whose end holds data, cannot go last; the second gives
// up its blank final 32 KB. The pre-boot image is at 0, the first game at 0x008000 up to and
// including chunk 128, the second from 0x408000 in the same block. The flash is dirty beforehand,
// so every byte that was not written as part of an image shows whether it was erased.
TEST_F(MultiTest, PreBootImageAndTwoGamesFillTheFlash) {
  const Bytes first = Game(k4M, 3), second = Game(k4M, 4, 0xFF);
  EXPECT_EQ(Run({first, second}), kResultDone);
  EXPECT_EQ(rig->window.log, Cat(Cat(Cat({"PortMode = EPP", "MultiFileSize = 8388608"}, BootLines()),
                                     Cat(GameLines(0, k4M), GameLines(1, k4M - kChunk))),
                                 {Erased(64), "Time = 0 Sec"}));
  EXPECT_EQ(rig->window.status, "Write Cart ok");
  EXPECT_TRUE(rig->window.lastOpenDialog1Multi);
  EXPECT_FALSE(rig->window.running);
  EXPECT_EQ(rig->core.frame.CurrentFile, nullptr);
  // Each block erased once: neither game erases the block the image before it ended in.
  EXPECT_EQ(rig->cart.EraseAddresses().size(), 64u);
  Bytes expected = bootImage;
  expected.insert(expected.end(), first.begin(), first.end());
  expected.insert(expected.end(), second.begin(), second.end() - kChunk);
  EXPECT_TRUE(rig->cart.Flash() == expected);
}

TEST_F(MultiTest, RefusedSelectionsLeaveTheFlashAsItWas) {
  sim::RomCart rom(MakeImage(k1M), sim::SaveMemory::None);
  const std::vector<Bytes> two = {Game(k1M, 1), Game(k1M, 2)};
  const auto none = [] {};
  struct Row {
    const char* what;
    CartRigOptions cart;
    std::function<void()> prepare;  // after the game files are written
    std::vector<Bytes> games;       // empty: the dialog is cancelled
    Lines log;                      // "@0", "@1", "@boot", "@dir" stand for the names
  };
  const Row rows[] = {
      {"dialog cancelled", {}, none, {}, {"Write Multi-Files To Cart Cancel"}},
      {"no adapter", {.answers = sim::AdapterAnswers::None}, none, two, {"No Adaptor Found!"}},
      {"plain game cart",
       {},
       [&] { rig->adapter.SetBus(rom); },
       two,
       {"PortMode = EPP", "Flash not found!!!"}},
      {"4 MB chip: silent", {.chip = sim::FlashChip::J3_32Mbit}, none, two, {"PortMode = EPP"}},
      {"one game", {}, none, {two[0]}, {"PortMode = EPP", "Multi-Files Select Error!!!"}},
      {"three games", {}, none, {two[0], two[1], two[0]}, {"PortMode = EPP", "Multi-Files Select Error!!!"}},
      {"32 KB more than the chip",
       {},
       none,
       {Game(k8M, 1, 0xFF), Game(kChunk, 2)},
       {"PortMode = EPP", "Total Multi-Files Size > MaxCartSize, Error!!!"}},
      {"40,000 bytes", {}, none, {two[0], Game(40000, 2)}, {"PortMode = EPP", "Files Size Error!!!"}},
      {"a game that is not there",
       {},
       [&] { std::filesystem::remove(names[1]); },
       two,
       {"PortMode = EPP", "File Open Error!!!"}},
      {"no game may go last",
       {},
       none,
       {Game(k4M, 1), Game(k4M, 2)},
       {"PortMode = EPP", "MultiFileSize = 8388608", "Can not put all files to cart!!!"}},
      {"a 5 MB game as the last one",
       {},
       none,
       {Game(5 * k1M, 1, 0xFF), Game(k2M, 2)},
       {"PortMode = EPP", "MultiFileSize = 7340032",
        "Multi-Files Layout > MaxCartSize, Error!!! (@0 would end at 9437184, the cart at 8388608)"}},
      {"a 5 MB game pushing the next slot",
       {},
       none,
       {Game(5 * k1M, 1), Game(k2M, 2)},
       {"PortMode = EPP", "MultiFileSize = 7340032",
        "Multi-Files Layout > MaxCartSize, Error!!! (@1 would end at 10518528, the cart at 8388608)"}},
      {"pre-boot name still the working directory",
       {},
       [&] { StoreFileName(rig->core.settings.BootFileName(), rig->dir.string()); },
       two,
       {"PortMode = EPP", "MultiFileSize = 2097152", "FileName = @dir", "File Open Error!!!"}},
      {"no pre-boot name",
       {},
       [&] { StoreFileName(rig->core.settings.BootFileName(), ""); },
       two,
       {"PortMode = EPP", "MultiFileSize = 2097152", "FileName = ", "File Open Error!!!"}},
      {"pre-boot file of 100 bytes",
       {},
       [&] { testing::WriteBytes(boot, Bytes(100, 1)); },
       two,
       {"PortMode = EPP", "MultiFileSize = 2097152", "FileName = @boot", "Multi-Boot Files Size Error!!!"}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    Make(row.cart);
    Files(row.games);
    if (row.games.empty()) rig->window.openDialog1 = {std::nullopt};
    row.prepare();
    const std::vector<std::uint8_t> before = rig->cart.Flash();
    EXPECT_NE(WriteMultiClick(rig->core), kResultDone);
    Lines log = row.log;
    for (std::string& line : log) {
      for (const auto& [token, name] :
           {std::pair<std::string, int>{"@0", 0}, {"@1", 1}, {"@boot", 2}, {"@dir", 3}})
        if (const auto at = line.find(token); at != std::string::npos)
          line.replace(at, token.size(), name < 2 ? names.at(name) : name == 2 ? boot : rig->dir.string());
    }
    EXPECT_EQ(rig->window.log, log);
    EXPECT_TRUE(rig->cart.Flash() == before);
    EXPECT_TRUE(rig->cart.EraseAddresses().empty());
    EXPECT_EQ(rig->cart.BufferPrograms(), 0u);
    EXPECT_EQ(rig->core.frame.CurrentFile, nullptr);
    EXPECT_TRUE(rig->window.statusHistory.empty() || rig->window.statusHistory == Lines{""});
  }
}

TEST_F(MultiTest, AGameThatFailsLeavesTheGamesBeforeItWrittenAndVerified) {
  const Bytes first = Game(k1M, 1), second = Game(k1M, 2);
  // Placed in the order second (0x008000), first (0x408000): the first of the dialog goes last.
  struct Row {
    const char* what;
    std::function<void()> prepare;
    Lines tail;
  };
  const Row rows[] = {
      // Block 0 (pre-boot image and the first game's start), the rest of the first game's 1 MB;
      // then the second game's first block.
      {"the second file vanishes while the first game is written",
       [&] {
         rig->window.onPump = [&](std::uint64_t) {
           if (rig->window.running && rig->cart.BufferPrograms() > 1024) std::filesystem::remove(names[0]);
         };
       },
       {"File Open Error!!!", Erased(9)}},
      {"the second game's chunk 3 does not program",
       [&] { rig->cart.Faults().programErrorWord = (0x408000 + 3 * kChunk) / 2 + 7; },
       {"FileSize = 1048576", "Game Name = GBA Tests", "Game Code = 1337", "Write Flash Error!!!(3)",
        Erased(11)}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    Make();
    names = {rig->File("g0.gba", first), rig->File("g1.gba", second)};
    row.prepare();
    rig->window.openDialog1 = {names};
    EXPECT_EQ(WriteMultiClick(rig->core), kResultFailed);
    EXPECT_EQ(rig->window.log, Cat(Cat(Cat({"PortMode = EPP", "MultiFileSize = 2097152"}, BootLines()),
                                       Cat(GameLines(1, k1M), {"FileName = " + names[0]})),
                                   Cat(row.tail, {"Time = 0 Sec"})));
    EXPECT_EQ(rig->window.status, "Error!!!");
    EXPECT_EQ(Flash(0, kChunk), bootImage);
    EXPECT_EQ(Flash(0x8000, k1M), second);
    EXPECT_EQ(rig->core.frame.CurrentFile, nullptr);
    EXPECT_FALSE(rig->window.running);
  }
}

TEST_F(MultiTest, AFailedPreBootImageStillLetsTheGamesBeWrittenButEndsInError) {
  // The pre-boot image's logo is broken and repaired; its first chunk then fails to program, so
  // its verify pass never runs. The next game has a sound logo but no fixed byte: it passes the
  // check unrepaired and must be verified unrepaired too.
  bootImage[0x10] ^= 0xFF;
  testing::WriteBytes(boot, bootImage);
  rig->cart.Faults().programErrorWord = 100;
  Bytes game = Game(k1M, 1);
  game[0xB2] = 0x00;
  rig->window.answers = {true};
  EXPECT_EQ(Run({Game(k1M, 2), game}), kResultFailed);
  EXPECT_EQ(rig->window.log,
            Cat(Cat({"PortMode = EPP", "MultiFileSize = 2097152", "FileName = " + boot, "FileSize = 32768",
                     "no AGB data present!", "Header fixed", "Write Flash Error!!!(0)"},
                    GameLines(1, k1M)),
                Cat(GameLines(0, k1M), {Erased(18), "Time = 0 Sec"})));
  EXPECT_EQ(rig->window.status, "Error!!!");
  EXPECT_EQ(Flash(0x8000, k1M), game);
  EXPECT_EQ(Flash(0x408000, k1M), Game(k1M, 2));
}

TEST_F(MultiTest, StopDuringThePreBootImageStopsTheFirstGameBeforeItsFirstChunk) {
  rig->window.radioIps = 1;
  rig->window.openDialog3 = {std::nullopt};
  rig->window.onPump = [this](std::uint64_t) {
    if (rig->window.running && rig->cart.BufferPrograms() == 1024) rig->core.frame.StopClick();
  };
  EXPECT_EQ(Run({Game(k1M, 1), Game(k1M, 2)}), kResultCancelled);
  EXPECT_EQ(rig->window.log, Cat(Cat({"PortMode = EPP", "MultiFileSize = 2097152"}, BootLines()),
                                 {"Stop process !!!", "FileName = " + names[1], "FileSize = 1048576",
                                  "Stop process !!!", Erased(1), "Time = 0 Sec"}));
  EXPECT_EQ(rig->window.openDialog3Shown, 1);  // for the game, never for the pre-boot image
  EXPECT_EQ(rig->cart.BufferPrograms(), 1024u);
  EXPECT_EQ(rig->window.status, "Error!!!");
  EXPECT_FALSE(rig->window.running);
}

TEST_F(MultiTest, EachGameGetsItsOwnPatchDialogAndWriteFlashSelectsOneFileAgain) {
  const Bytes first = Game(2 * kChunk, 1), second = Game(2 * kChunk, 2);
  const std::string patch = rig->File("fix.ips", testing::PatchFile().Record(0x9000, {0xAB, 0xCD}).End());
  rig->window.radioIps = 1;
  rig->window.openDialog3 = {patch, std::nullopt};
  EXPECT_EQ(Run({first, second}), kResultDone);
  EXPECT_EQ(rig->window.openDialog3Shown, 2);
  EXPECT_EQ(rig->window.log, Cat(Cat({"PortMode = EPP", "MultiFileSize = 131072"}, BootLines()),
                                 Cat({"FileName = " + names[1], "FileSize = 65536", "IpsFileName = " + patch,
                                      "-->Ips Applied<--", "Game Name = GBA Tests", "Game Code = 1337"},
                                     Cat(GameLines(0, 2 * kChunk), {Erased(2), "Time = 0 Sec"}))));
  Bytes patched = second;
  patched[0x9000] = 0xAB;
  patched[0x9001] = 0xCD;
  EXPECT_EQ(Flash(0x8000, 2 * kChunk), patched);
  EXPECT_EQ(Flash(0x408000, 2 * kChunk), first);
  EXPECT_EQ(Flash(0, kChunk), bootImage);

  rig->window.openDialog1 = {std::nullopt};
  WriteClick(rig->core);
  EXPECT_FALSE(rig->window.lastOpenDialog1Multi);
}

TEST_F(MultiTest, SetPreBootAcceptsOnlyA32KilobyteFile) {
  const std::string original = boot;
  const std::string small = rig->File("small.bin", Bytes(100, 0)),
                    right = rig->File("menu.bin", Bytes(kChunk, 0));
  struct Row {
    std::optional<std::string> chosen;
    Lines log;
    std::string bootAfter;
  };
  const Row rows[] = {
      {std::nullopt, {"Set Multi-Boot File Cancel"}, original},
      {(rig->dir / "gone.bin").string(), {"File Open Error!!!"}, original},
      {rig->dir.string(), {"File Open Error!!!"}, original},
      {small, {"FileSize = 100", "File Size Error!!!", "Set Multi-Boot File Cancel"}, original},
      {right, {"FileSize = 32768", "Set Multi-Boot File=" + right}, right},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.chosen.value_or("cancel"));
    rig->window.log.clear();
    rig->core.FirstCommand = true;
    rig->window.openDialog2 = {row.chosen};
    SetPreBootClick(rig->core);
    EXPECT_EQ(rig->window.log, row.log);
    EXPECT_STREQ(rig->core.settings.BootFileName(), row.bootAfter.c_str());
    EXPECT_EQ(rig->core.frame.CurrentFile, nullptr);
  }
  const auto& c = rig->adapter.counters();
  EXPECT_EQ(c.byteReads + c.byteWrites + c.wordReads + c.wordWrites, 0u);  // no adapter traffic
  EXPECT_FALSE(rig->window.running);
  EXPECT_TRUE(rig->window.statusHistory.empty());
}

}  // namespace
}  // namespace brevomat
