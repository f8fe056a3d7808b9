// Backup Game end to end: window fake, virtual adapter, virtual flash or game cart, files on disk.
// Each test checks the log line for line, the Status text and the bytes that end up in the file.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <optional>

#include "CartRig.h"
#include "commands/Commands.h"
#include "dump/DumpDigest.h"
#include "sim/RomCart.h"

namespace brevomat {
namespace {

namespace fs = std::filesystem;
using testing::CartRig;
using testing::MakeImage;
using testing::ReadBytes;
using Lines = std::vector<std::string>;
using Bytes = std::vector<std::uint8_t>;

constexpr std::size_t kChunk = 0x8000, k1M = 0x100000;

// "a|b|c" -> {"a", "b", "c"}; "FileName = @" becomes the file's name.
Lines Log(const std::string& text, const std::string& file) {
  Lines lines;
  for (std::size_t start = 0;;) {
    const std::size_t bar = text.find('|', start);
    std::string line = text.substr(start, bar - start);
    lines.push_back(line == "FileName = @" ? "FileName = " + file : line);
    if (bar == std::string::npos) return lines;
    start = bar + 1;
  }
}

// What a cart answers over `total` bytes: a flash chip repeats itself past its end; a game ROM
// shows the low 16 bits of the word address where no memory answers.
Bytes CartBytes(const Bytes& memory, std::size_t total, bool flash) {
  Bytes out(total);
  for (std::size_t i = 0; i < total; ++i) {
    if (flash)
      out[i] = memory[i % memory.size()];
    else
      out[i] = i < memory.size() ? memory[i] : static_cast<std::uint8_t>(i % 2 ? i >> 9 : i >> 1);
  }
  return out;
}

// The lines a successful read-out of `data` ends with before its time: the checksums and, when the
// game ends early, the used size (their values are DumpNameTest's to check).
Lines DumpLines(const Bytes& data) {
  DumpDigest digest;
  for (std::size_t at = 0; at < data.size(); at += kChunk) digest.ChunkConfirmed(data.data() + at, kChunk);
  Digests whole;
  EXPECT_TRUE(digest.Whole(whole));
  Lines lines = {"CRC32 = " + Crc32Text(whole.crc32), "SHA-1 = " + HexText(whole.sha1),
                 "MD5 = " + HexText(whole.md5), "SHA-256 = " + HexText(whole.sha256)};
  if (digest.Used().size != 0) lines.push_back("Used Size = " + std::to_string(digest.Used().size));
  return lines;
}

class ReadTest : public ::testing::Test {
 protected:
  std::unique_ptr<CartRig> rig;
  std::string path;

  // A rig whose flash chip holds a game image over its whole size.
  void Make(sim::FlashChip chip, sim::AdapterAnswers answers = sim::AdapterAnswers::Both) {
    rig = std::make_unique<CartRig>(testing::CartRigOptions{.chip = chip, .answers = answers});
    rig->cart.Flash() = MakeImage(rig->cart.Flash().size(), 5);
    path = (rig->dir / "dump.gba").string();
    rig->window.saveDialog1 = {path};
  }
  void SetUp() override { Make(sim::FlashChip::J3_32Mbit); }
};

TEST_F(ReadTest, SizeIsProposedByTheChipOrTheProbeAndTheFileHoldsTheCart) {
  const sim::FlashChip k4 = sim::FlashChip::J3_32Mbit, k8 = sim::FlashChip::J3_64Mbit;
  struct Row {
    std::optional<sim::FlashChip> chip;  // nullopt: a plain game ROM of romBytes
    std::size_t romBytes;
    int proposed, chosen;  // Form2 items: the one it opens on, the one OK is pressed on
    int speed = 0;
  } const rows[] = {
      {k4, 0, 2, 2},
      {k8, 0, 3, 3},
      {std::nullopt, k1M, 0, 0},
      {std::nullopt, k1M, 0, 0, 3},  // speed "1": SPP nibble reads
      {std::nullopt, 4 * k1M, 2, 2},
      {std::nullopt, 8 * k1M, 3, 3},
      {std::nullopt, 3 * k1M / 2, 1, 1},  // not a power of two: its tail reads the addresses
      {std::nullopt, 16 * k1M, 4, 0},     // data at every probe point; 1 MB chosen
  };
  const char* names[] = {"8M", "16M", "32M", "64M", "128M", "256M"};
  for (const Row& row : rows) {
    SCOPED_TRACE(::testing::Message()
                 << (row.chip ? "flash" : "rom ") << row.romBytes << " item " << row.proposed);
    Make(row.chip.value_or(k8));
    const Bytes rom = MakeImage(row.romBytes, 9);
    sim::RomCart romCart(rom, sim::SaveMemory::None);
    if (!row.chip) rig->adapter.SetBus(romCart);
    rig->window.radioSpeed = row.speed;
    rig->window.form2 = {row.chosen};
    ASSERT_EQ(ReadClick(rig->core), kResultDone);
    const std::size_t total = (std::size_t{32} << row.chosen) * kChunk;
    const Bytes read = row.chip ? CartBytes(rig->cart.Flash(), total, true) : CartBytes(rom, total, false);
    Lines log = Log("PortMode = EPP|FileName = @|Game Name = GBA Tests|Game Code = 1337|Cart Size = " +
                        std::string(names[row.chosen]),
                    path);
    const Lines dump = DumpLines(read);
    log.insert(log.end(), dump.begin(), dump.end());
    log.push_back("Time = 0 Sec");
    EXPECT_EQ(rig->window.log, log);
    EXPECT_EQ(rig->window.form2Preselect, row.proposed);
    EXPECT_EQ(rig->window.statusHistory, (Lines{"", "Reading...", "Read Flash ok"}));
    EXPECT_EQ(rig->window.progress, 100);
    EXPECT_TRUE(ReadBytes(path) == read);
    EXPECT_EQ(rig->core.frame.CurrentFile, nullptr);
    EXPECT_EQ(rig->adapter.counters().violations, 0u);
  }
}

TEST_F(ReadTest, EveryFailureEndsWithItsMessageAndLeavesTheFileAsItWas) {
  constexpr long kNothingKept = -1, kSomeChunks = -2;
  const std::string sized =
      "PortMode = EPP|FileName = @|Game Name = GBA Tests|Game Code = 1337|Cart Size = 8M|";
  const std::string cancel =
      "PortMode = EPP|FileName = @|Game Name = GBA Tests|Game Code = 1337|Backup Cancel||";
  struct Row {
    const char* name;
    std::function<void()> setup;
    std::string log, status;  // status "Earlier": unchanged
    long partBytes;           // what NAME.part holds afterwards: the chunks read before the end
  };
  auto saveTo = [&](const fs::path& p) {
    path = p.string();
    rig->window.saveDialog1 = {path};
  };
  const Row rows[] = {
      {"no adapter", [] {}, "No Adaptor Found!", "Earlier", kNothingKept},
      {"no file chosen", [&] { rig->window.saveDialog1 = {std::nullopt}; }, "PortMode = EPP|Cancel",
       "Earlier", kNothingKept},
      {"wrong logo", [&] { rig->cart.Flash()[0x9F] ^= 1; },
       "PortMode = EPP|FileName = @|no AGB data present!|Rom Header Error!!!|Time = 0 Sec", "Error!!!",
       kNothingKept},
      {"size dialog cancelled", [&] { rig->window.form2 = {std::nullopt}; }, cancel + "Time = 0 Sec",
       "Error!!!", kNothingKept},
      {"size dialog closed", [&] { rig->window.form2 = {-2}; }, cancel + "Time = 0 Sec", "Error!!!",
       kNothingKept},
      {"output is a directory", [&] { saveTo(rig->dir); }, sized + "File Open Error!!!|Time = 0 Sec",
       "Error!!!", kNothingKept},
      {"reads that differ", [&] { rig->cart.Faults().flipRead = 200000; }, sized + "Time = 0 Sec", "Error!!!",
       kSomeChunks},
      {"Stop after two chunks",
       [&] {
         rig->window.onPump = [&](std::uint64_t) {
           std::FILE* f = rig->core.frame.CurrentFile;
           if (rig->window.running && f && std::ftell(f) == 2 * kChunk) rig->core.frame.StopClick();
         };
       },
       sized + "Stop process !!!|Time = 0 Sec", "Error!!!", 2 * kChunk},
      {"output is a device",
       [&] {
         fs::create_symlink("/dev/full", rig->dir / "full.gba");
         saveTo(rig->dir / "full.gba");
       },
       sized + "File Open Error!!!|Time = 0 Sec", "Error!!!", kNothingKept},
  };
  const Bytes old = {'o', 'l', 'd'};  // an earlier backup of the same name
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    if (row.name == std::string("output is a device") && !fs::exists("/dev/full")) continue;  // said below
    Make(sim::FlashChip::J3_32Mbit,
         row.name == std::string("no adapter") ? sim::AdapterAnswers::None : sim::AdapterAnswers::Both);
    testing::WriteBytes(path, old);
    rig->window.form2 = {0};
    rig->window.status = "Earlier";
    rig->core.frame.ElapsedSeconds = 7;  // the previous command's time
    row.setup();
    EXPECT_NE(ReadClick(rig->core), kResultDone);
    EXPECT_EQ(rig->window.log, Log(row.log, path));
    EXPECT_EQ(rig->window.status, row.status);
    EXPECT_EQ(ReadBytes(rig->dir / "dump.gba"), old) << "the earlier backup was changed";
    const fs::path part = rig->dir / "dump.gba.part";
    if (row.partBytes == kNothingKept) {
      EXPECT_FALSE(fs::exists(part));
    } else {  // whole chunks of the cart, fewer than asked for
      const Bytes kept = ReadBytes(part);
      EXPECT_TRUE(kept == CartBytes(rig->cart.Flash(), kept.size(), true));
      EXPECT_EQ(kept.size() % kChunk, 0u);
      EXPECT_GT(kept.size(), 0u);
      EXPECT_LT(kept.size(), k1M);
      if (row.partBytes >= 0) {
        EXPECT_EQ(kept.size(), static_cast<std::size_t>(row.partBytes));
      }
      fs::remove(part);
    }
    EXPECT_EQ(rig->core.frame.CurrentFile, nullptr);
    EXPECT_FALSE(rig->window.running);
  }
  if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full here: the device row did not run";
}

TEST_F(ReadTest, OutputInAReadOnlyFolderIsAnOpenError) {
#ifdef _WIN32
  GTEST_SKIP() << "Windows keeps no POSIX write permission on folders";
#else
  if (geteuid() == 0) GTEST_SKIP() << "root may write into a read-only folder";
#endif
  fs::create_directory(rig->dir / "locked");
  fs::permissions(rig->dir / "locked", fs::perms::owner_read | fs::perms::owner_exec);
  path = (rig->dir / "locked" / "dump.gba").string();
  rig->window.saveDialog1 = {path};
  rig->window.form2 = {0};
  EXPECT_EQ(ReadClick(rig->core), kResultCancelled);
  EXPECT_EQ(rig->window.log.back(), "Time = 0 Sec");
  EXPECT_EQ(rig->window.log[rig->window.log.size() - 2], "File Open Error!!!");
  EXPECT_FALSE(fs::exists(path));
}

TEST_F(ReadTest, NoisyReadsNeverEndOkWithWrongBytes) {
  int ok = 0, failed = 0;
  for (std::uint64_t seed = 1; seed <= 16; ++seed) {
    Make(sim::FlashChip::J3_32Mbit);
    rig->cart.Faults().readNoise = 1e-6;  // about one flipped bit per megabyte read twice
    rig->cart.Faults().seed = seed;
    rig->window.form2 = {0};
    fs::remove(path + ".part");
    ReadClick(rig->core);
    const Bytes file = ReadBytes(path);
    if (rig->window.status == "Read Flash ok") {
      ++ok;
      EXPECT_TRUE(file == CartBytes(rig->cart.Flash(), k1M, true)) << "seed " << seed;
    } else {
      ++failed;
      EXPECT_EQ(rig->window.status, "Error!!!") << "seed " << seed;
      const Bytes kept = fs::exists(path + ".part") ? ReadBytes(path + ".part") : Bytes{};
      EXPECT_LT(kept.size(), k1M) << "seed " << seed;
      EXPECT_TRUE(kept == CartBytes(rig->cart.Flash(), kept.size(), true)) << "seed " << seed;
    }
  }
  // The noise rate is chosen so that both outcomes occur; otherwise the test proves nothing.
  EXPECT_GT(ok, 0);
  EXPECT_GT(failed, 0);
}

}  // namespace
}  // namespace brevomat
