// Backup Game end to end, and the verify that compares the flash with an image: window fake,
// virtual adapter, virtual flash or game cart, and files on disk. Each test checks the log line for
// line, the Status text and the bytes that end up in the file (or stay in the flash).
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <optional>

#include "CartRig.h"
#include "IpsPatchFile.h"
#include "commands/Commands.h"
#include "sim/RomCart.h"

namespace brevomat {
namespace {

namespace fs = std::filesystem;
using testing::CartRig;
using testing::CartRigOptions;
using testing::MakeImage;
using testing::ReadBytes;
using Lines = std::vector<std::string>;
using Bytes = std::vector<std::uint8_t>;

constexpr std::size_t kChunk = 0x8000, k1M = 0x100000;
const Lines kGame = {"Game Name = GBA Tests", "Game Code = 1337"};

// What a cart answers over `total` bytes: a flash chip repeats itself past its end; a game ROM
// shows the low 16 bits of the word address where no memory answers.
Bytes CartBytes(const Bytes& memory, std::size_t total, bool flash) {
  Bytes out(total);
  for (std::size_t i = 0; i < total; i += 2) {
    std::uint16_t w;
    if (flash)
      w = static_cast<std::uint16_t>(memory[i % memory.size()] | memory[(i + 1) % memory.size()] << 8);
    else if (i + 1 < memory.size())
      w = static_cast<std::uint16_t>(memory[i] | memory[i + 1] << 8);
    else
      w = static_cast<std::uint16_t>(i / 2);
    out[i] = static_cast<std::uint8_t>(w);
    out[i + 1] = static_cast<std::uint8_t>(w >> 8);
  }
  return out;
}

// Passes everything through and flips bit 8 of the `nth` read (1-based) of one word address.
class FlakyWord final : public sim::CartBus {
 public:
  FlakyWord(sim::CartBus& inner, std::uint32_t address, int nth)
      : inner_(inner), address_(address), nth_(nth) {}
  std::uint16_t ReadRom(std::uint32_t a, std::uint64_t now) override {
    const std::uint16_t v = inner_.ReadRom(a, now);
    return a == address_ && ++reads_ == nth_ ? static_cast<std::uint16_t>(v ^ 0x0100) : v;
  }
  void WriteRom(std::uint32_t a, std::uint16_t v, std::uint64_t now) override { inner_.WriteRom(a, v, now); }
  std::uint8_t ReadSave(std::uint16_t a, std::uint64_t now) override { return inner_.ReadSave(a, now); }
  void WriteSave(std::uint16_t a, std::uint8_t v, std::uint64_t now) override { inner_.WriteSave(a, v, now); }

 private:
  sim::CartBus& inner_;
  std::uint32_t address_;
  int nth_;
  int reads_ = 0;
};

class ReadTest : public ::testing::Test {
 protected:
  std::unique_ptr<CartRig> rig;
  std::string path;

  // A rig whose flash holds a game image of the whole chip.
  void Make(const CartRigOptions& o = {}) {
    rig = std::make_unique<CartRig>(o);
    rig->cart.Flash() = MakeImage(rig->cart.Flash().size(), 5);
    path = (rig->dir / "dump.gba").string();
    rig->window.saveDialog1 = {path};
  }
  void SetUp() override { Make(); }
  Lines Head() const { return {"PortMode = EPP", "FileName = " + path}; }
  static Lines Cat(Lines a, const Lines& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
  }
};

TEST_F(ReadTest, SizeIsProposedByTheChipOrTheProbeAndTheFileHoldsTheCart) {
  struct Row {
    const char* name;
    std::optional<sim::FlashChip> chip;  // nullopt: a plain game ROM of romBytes
    std::size_t romBytes;
    int proposed;   // Form2 item the dialog opens on
    int chosen;     // the item OK is pressed on
    int speed = 0;  // RadioSpeed item
  };
  const Row rows[] = {
      {"4 MB flash holding a 4 MB game", sim::FlashChip::J3_32Mbit, 0, 2, 2},
      {"8 MB flash", sim::FlashChip::J3_64Mbit, 0, 3, 3},
      {"1 MB game cart", std::nullopt, k1M, 0, 0},
      {"1 MB game cart, speed 1 (SPP)", std::nullopt, k1M, 0, 0, 3},
      {"4 MB game cart", std::nullopt, 4 * k1M, 2, 2},
      {"8 MB game cart", std::nullopt, 8 * k1M, 3, 3},
      {"1.5 MB game cart: the tail of 2 MB reads its addresses", std::nullopt, 3 * k1M / 2, 1, 1},
      {"16 MB game cart: data at every probe point, 1 MB chosen", std::nullopt, 16 * k1M, 4, 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    CartRigOptions o;
    if (row.chip) o.chip = *row.chip;
    Make(o);
    const Bytes rom = MakeImage(row.romBytes ? row.romBytes : 2, 9);
    sim::RomCart romCart(rom, sim::SaveMemory::None);
    if (!row.chip) rig->adapter.SetBus(romCart);
    rig->window.radioSpeed = row.speed;
    rig->window.form2 = {row.chosen};
    ASSERT_EQ(ReadClick(rig->core), kResultDone);

    const char* names[] = {"8M", "16M", "32M", "64M", "128M", "256M"};
    EXPECT_EQ(rig->window.log,
              Cat(Cat(Head(), kGame), {std::string("Cart Size = ") + names[row.chosen], "Time = 0 Sec"}));
    EXPECT_EQ(rig->window.form2Preselect, row.proposed);
    EXPECT_EQ(rig->window.statusHistory, (Lines{"", "Reading...", "Read Flash ok"}));
    EXPECT_EQ(rig->window.progress, 100);
    const std::size_t total = (std::size_t{32} << row.chosen) * kChunk;
    EXPECT_TRUE(ReadBytes(path) ==
                (row.chip ? CartBytes(rig->cart.Flash(), total, true) : CartBytes(rom, total, false)));
    EXPECT_EQ(rig->core.frame.CurrentFile, nullptr);
    EXPECT_FALSE(rig->window.running);
    EXPECT_EQ(rig->adapter.counters().violations, 0u);
  }
}

TEST_F(ReadTest, EveryFailureRowEndsWithItsMessageAndLeavesTheFileAsItSays) {
  struct Row {
    const char* name;
    std::function<void()> setup;
    Lines log;                             // "FileName = @" stands for the chosen name
    std::string status;                    // "Earlier" = unchanged
    std::optional<std::size_t> fileBytes;  // bytes the output file holds; nullopt: not touched
    bool adapter = true;
  };
  const Lines sized = {"PortMode = EPP", "FileName = @", kGame[0], kGame[1], "Cart Size = 8M"};
  std::unique_ptr<FlakyWord> flaky;
  const std::vector<Row> rows = {
      {"no adapter", [] {}, {"No Adaptor Found!"}, "Earlier", std::nullopt, false},
      {"no file chosen",
       [&] { rig->window.saveDialog1 = {std::nullopt}; },
       {"PortMode = EPP", "Cancel"},
       "Earlier",
       std::nullopt},
      {"wrong logo",
       [&] { rig->cart.Flash()[0x9F] ^= 1; },
       {"PortMode = EPP", "FileName = @", "no AGB data present!", "Rom Header Error!!!", "Time = 0 Sec"},
       "Error!!!",
       std::nullopt},
      {"size dialog cancelled", [&] { rig->window.form2 = {std::nullopt}; },
       Cat({"PortMode = EPP", "FileName = @"}, Cat(kGame, {"Backup Cancel", "", "Time = 0 Sec"})), "Error!!!",
       std::nullopt},
      {"size dialog closed with its close box", [&] { rig->window.form2 = {-2}; },
       Cat({"PortMode = EPP", "FileName = @"}, Cat(kGame, {"Backup Cancel", "", "Time = 0 Sec"})), "Error!!!",
       std::nullopt},
      {"output file is a directory",
       [&] {
         path = rig->dir.string();
         rig->window.saveDialog1 = {path};
       },
       Cat(sized, {"File Open Error!!!", "Time = 0 Sec"}), "Error!!!", std::nullopt},
      {"the second read of chunk 3 differs",
       [&] {
         flaky = std::make_unique<FlakyWord>(rig->cart, 3 * 0x4000 + 5, 2);
         rig->adapter.SetBus(*flaky);
       },
       Cat(sized, {"Time = 0 Sec"}), "Error!!!", 3 * kChunk},
      {"Stop after two chunks",
       [&] {
         rig->window.onPump = [&](std::uint64_t) {
           std::FILE* f = rig->core.frame.CurrentFile;
           if (rig->window.running && f != nullptr && std::ftell(f) == 2 * kChunk)
             rig->core.frame.StopClick();
         };
       },
       Cat(sized, {"Stop process !!!", "Time = 0 Sec"}), "Error!!!", 2 * kChunk},
      {"full disk",
       [&] {
         path = (rig->dir / "full.gba").string();
         fs::create_symlink("/dev/full", path);
         rig->window.saveDialog1 = {path};
       },
       Cat(sized, {"Write ErrNo=No space left on device", "Time = 0 Sec"}), "Error!!!", std::nullopt},
  };
  const Bytes old = {'o', 'l', 'd'};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    if (std::string(row.name) == "full disk" && !fs::exists("/dev/full")) continue;  // said below
    CartRigOptions o;
    o.chip = sim::FlashChip::J3_32Mbit;
    if (!row.adapter) o.answers = sim::AdapterAnswers::None;
    Make(o);
    testing::WriteBytes(path, old);  // an earlier backup of the same name
    rig->window.form2 = {0};
    rig->window.status = "Earlier";
    rig->core.frame.ElapsedSeconds = 7;  // the previous command's time
    row.setup();
    const int result = ReadClick(rig->core);

    Lines expected = row.log;
    for (std::string& line : expected)
      if (line == "FileName = @") line = "FileName = " + path;
    EXPECT_EQ(rig->window.log, expected);
    EXPECT_EQ(rig->window.status, row.status);
    EXPECT_NE(result, kResultDone);
    if (row.fileBytes) {
      EXPECT_TRUE(ReadBytes(path) == CartBytes(rig->cart.Flash(), *row.fileBytes, true));
    } else if (fs::is_regular_file(rig->dir / "dump.gba")) {
      EXPECT_EQ(ReadBytes(rig->dir / "dump.gba"), old) << "the file was created or emptied";
    }
    EXPECT_EQ(rig->core.frame.CurrentFile, nullptr);
    EXPECT_FALSE(rig->window.running);
  }
  if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full here: the full-disk row did not run";
}

TEST_F(ReadTest, OutputInAReadOnlyFolderIsAnOpenError) {
  if (geteuid() == 0) GTEST_SKIP() << "root may write into a read-only folder";
  fs::create_directory(rig->dir / "locked");
  fs::permissions(rig->dir / "locked", fs::perms::owner_read | fs::perms::owner_exec);
  path = (rig->dir / "locked" / "dump.gba").string();
  rig->window.saveDialog1 = {path};
  rig->window.form2 = {0};
  EXPECT_EQ(ReadClick(rig->core), kResultCancelled);
  EXPECT_EQ(rig->window.log,
            Cat(Cat(Head(), kGame), {"Cart Size = 8M", "File Open Error!!!", "Time = 0 Sec"}));
  EXPECT_EQ(rig->window.status, "Error!!!");
  EXPECT_FALSE(fs::exists(path));
}

TEST_F(ReadTest, NoisyReadsNeverEndOkWithWrongBytes) {
  int ok = 0, failed = 0;
  for (std::uint64_t seed = 1; seed <= 16; ++seed) {
    Make();
    rig->cart.Faults().readNoise = 1e-6;  // about one flipped bit per megabyte read twice
    rig->cart.Faults().seed = seed;
    rig->window.form2 = {0};
    ReadClick(rig->core);
    if (rig->window.status == "Read Flash ok") {
      ++ok;
      EXPECT_TRUE(ReadBytes(path) == CartBytes(rig->cart.Flash(), k1M, true)) << "seed " << seed;
    } else {
      ++failed;
      EXPECT_EQ(rig->window.status, "Error!!!") << "seed " << seed;
      EXPECT_LT(fs::exists(path) ? fs::file_size(path) : 0, k1M) << "seed " << seed;
    }
  }
  // The noise rate is chosen so that both outcomes occur; otherwise the test proves nothing.
  EXPECT_GT(ok, 0);
  EXPECT_GT(failed, 0);
}

TEST_F(ReadTest, VerifyAgreesWithWriteAndLocatesWhatDiffers) {
  rig->cart.Flash().assign(rig->cart.Flash().size(), 0x00);
  Bytes image = MakeImage(40000, 6);
  image[0x10] ^= 0xFF;  // a broken logo: the header is repaired on the way
  const std::string game = rig->File("game.gba", image);
  const std::string patch =
      rig->File("fix.ips", testing::PatchFile().Record(0x20, {1, 2}).Record(0x9000, {0x42}).End());
  auto run = [&](int (*command)(Core&), std::deque<bool> answers) {
    rig->window.log.clear();
    rig->window.radioIps = 1;
    rig->window.openDialog1 = {Lines{game}};
    rig->window.openDialog3 = {patch};
    rig->window.answers = std::move(answers);
    return command(rig->core);
  };
  ASSERT_EQ(run(WriteClick, {true, true}), kResultDone);
  const Bytes written = rig->cart.Flash();
  const auto programs = rig->cart.BufferPrograms();

  EXPECT_EQ(run(VerifyImageCommand, {true, true}), kResultDone);
  EXPECT_EQ(rig->window.log, (Lines{"", "PortMode = EPP", "FileName = " + game, "FileSize = 40000",
                                    "File Size Error!!!", "IpsFileName = " + patch, "-->Ips Applied<--",
                                    "no AGB data present!", "Header fixed", "Time = 0 Sec"}));
  EXPECT_EQ(rig->window.status, "Verify Cart ok");
  EXPECT_TRUE(rig->cart.Flash() == written);
  EXPECT_EQ(rig->cart.BufferPrograms(), programs);
  EXPECT_EQ(rig->cart.EraseAddresses().size(), 1u);

  // A byte of the padding after the image's end.
  rig->cart.Flash()[0xC003] ^= 0x10;
  EXPECT_EQ(run(VerifyImageCommand, {true, true}), kResultFailed);
  EXPECT_EQ(rig->window.log[rig->window.log.size() - 2], "Verify Flash Error!!!(1)");
  EXPECT_EQ(rig->core.cart.FirstDifference, 0xC003);
  EXPECT_EQ(rig->window.status, "Error!!!");

  // Declining the repair that the write was given: nothing is compared.
  EXPECT_EQ(run(VerifyImageCommand, {true, false}), kResultCancelled);
  EXPECT_EQ(rig->core.cart.FirstDifference, -1);

  // Two reads that disagree say nothing about the flash.
  rig->cart.Flash() = written;
  FlakyWord flaky(rig->cart, 0x4000 + 7, 2);
  rig->adapter.SetBus(flaky);
  EXPECT_EQ(run(VerifyImageCommand, {true, true}), kResultFailed);
  EXPECT_EQ(rig->core.cart.UnstableChunk, 1);
  EXPECT_EQ(rig->core.cart.FirstDifference, -1);
  EXPECT_EQ(rig->window.log.back(), "Time = 0 Sec");
  EXPECT_EQ(rig->window.log[rig->window.log.size() - 2], "Header fixed");
}

}  // namespace
}  // namespace brevomat
