// The Write Flash command end to end: window fake, virtual adapter, virtual flash cart, and
// image files on disk. Each test checks the log line for line, the Status text and the bytes the
// virtual flash holds afterwards.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>

#include "CartRig.h"
#include "ForwardingBus.h"
#include "IpsPatchFile.h"
#include "cart/Flash.h"
#include "cart/Program.h"
#include "commands/Commands.h"
#include "image/CartHeader.h"
#include "link/Detection.h"

namespace brevomat {
namespace {

using testing::CartRig;
using testing::CartRigOptions;
using testing::ForwardingBus;
using testing::MakeImage;
using Lines = std::vector<std::string>;
using Bytes = std::vector<std::uint8_t>;

// Bytes [from, from + size) of the flash.
Bytes FlashRange(sim::FlashCart& cart, std::size_t from, std::size_t size) {
  return Bytes(cart.Flash().begin() + static_cast<std::ptrdiff_t>(from),
               cart.Flash().begin() + static_cast<std::ptrdiff_t>(from + size));
}

bool AllBytes(const Bytes& b, std::uint8_t v) {
  return std::all_of(b.begin(), b.end(), [v](std::uint8_t x) { return x == v; });
}

// Write Flash as the system made it: every block the image touches erased and programmed (the
// command line's --every-block). The default write of only what changed is ChangedWriteTest's.
class WriteTest : public ::testing::Test {
 protected:
  std::unique_ptr<CartRig> rig;
  void Make(const CartRigOptions& o = {}) {
    rig = std::make_unique<CartRig>(o);
    rig->core.cart.Changed.Enabled = false;
  }
  void SetUp() override { Make(); }

  std::string path;
  void Write(const Bytes& image, std::deque<bool> answers = {}) {
    path = rig->File("game.gba", image);
    rig->window.openDialog1 = {Lines{path}};
    rig->window.answers = std::move(answers);
    WriteClick(rig->core);
  }
  Lines Head(std::uint32_t size) {
    return {"PortMode = EPP", "FileName = " + path, "FileSize = " + std::to_string(size)};
  }
  static Lines Cat(Lines a, const Lines& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
  }
  const Lines kGame = {"Game Name = GBA Tests", "Game Code = 1337"};
};

TEST_F(WriteTest, FourMegabyteImageOnFourMegabyteChip) {
  CartRigOptions o;
  o.chip = sim::FlashChip::J3_32Mbit;
  Make(o);
  rig->DirtyFlash();
  const Bytes image = MakeImage(0x400000);
  Write(image);
  EXPECT_EQ(rig->window.log, Cat(Cat(Head(0x400000), kGame), {"Time = 0 Sec"}));
  EXPECT_TRUE(rig->window.questions.empty());
  EXPECT_EQ(rig->window.status, "Write Cart ok");
  EXPECT_EQ(rig->window.progress, 100);
  EXPECT_EQ(rig->cart.EraseAddresses().size(), 32u);
  EXPECT_TRUE(rig->cart.Flash() == image);
  EXPECT_EQ(rig->adapter.counters().violations, 0u);
  EXPECT_EQ(rig->core.frame.CurrentFile, nullptr);
  EXPECT_FALSE(rig->window.running);
  const Lines phases = {"", "Writing... ", "Verifying...", "Write Cart ok"};
  EXPECT_EQ(rig->window.statusHistory, phases);
}

TEST_F(WriteTest, EightMegabyteImageOnEightMegabyteChipAndAgainInANewCommand) {
  rig->DirtyFlash();
  const Bytes image = MakeImage(0x800000, 7);
  Write(image);
  EXPECT_EQ(rig->window.status, "Write Cart ok");
  EXPECT_EQ(rig->cart.EraseAddresses().size(), 64u);
  EXPECT_TRUE(rig->cart.Flash() == image);

  const Bytes second = MakeImage(0x800000, 8);
  rig->window.log.clear();
  Write(second);
  EXPECT_EQ(rig->window.log.front(), "");  // separator before the second command
  EXPECT_EQ(rig->window.status, "Write Cart ok");
  EXPECT_EQ(rig->cart.EraseAddresses().size(), 128u);  // every block erased again
  EXPECT_TRUE(rig->cart.Flash() == second);
}

TEST_F(WriteTest, EverySpeedAndLinkModeWritesTheSameBytes) {
  const Bytes image = MakeImage(0x30000, 3);
  for (int speed = 0; speed < 4; ++speed) {
    for (auto answers : {sim::AdapterAnswers::Both, sim::AdapterAnswers::SppOnly}) {
      CartRigOptions o;
      o.answers = answers;
      Make(o);
      rig->DirtyFlash();
      rig->window.radioSpeed = speed;
      Write(image);
      SCOPED_TRACE(::testing::Message()
                   << "speed " << speed << " spp-only " << (answers != sim::AdapterAnswers::Both));
      EXPECT_EQ(rig->window.status, "Write Cart ok");
      EXPECT_EQ(FlashRange(rig->cart, 0, image.size()), image);
      EXPECT_TRUE(AllBytes(FlashRange(rig->cart, 0x30000, 0x10000), 0xFF));  // the rest of the last block
      EXPECT_EQ(rig->cart.Flash()[0x40000], 0x00);                           // the next block untouched
      EXPECT_EQ(rig->adapter.counters().violations, 0u);
    }
  }
}

TEST_F(WriteTest, ImageLargerThanTheChipIsRefusedBeforeAnythingIsWritten) {
  CartRigOptions o;
  o.chip = sim::FlashChip::J3_32Mbit;
  Make(o);
  rig->DirtyFlash();
  Write(Bytes(0x400001, 0x11));
  EXPECT_EQ(rig->window.log, Cat(Head(0x400001), {"File Size Error!!!", "MaxFileSize = 4194304"}));
  EXPECT_TRUE(rig->window.questions.empty());
  EXPECT_TRUE(rig->cart.EraseAddresses().empty());
  EXPECT_TRUE(AllBytes(rig->cart.Flash(), 0x00));
  EXPECT_EQ(rig->core.frame.CurrentFile, nullptr);
  EXPECT_EQ(rig->window.status, "");

  rig->window.log.clear();
  Write(Bytes{});
  EXPECT_EQ(rig->window.log, Cat(Cat({""}, Head(0)), {"File Size Error!!!", "MaxFileSize = 4194304"}));
}

TEST_F(WriteTest, CancelledDialogAndMissingFile) {
  rig->window.openDialog1 = {std::nullopt};
  WriteClick(rig->core);
  EXPECT_EQ(rig->window.log, (Lines{"Write To Cart Cancel"}));
  rig->window.openDialog1 = {Lines{(rig->dir / "gone.gba").string()}};
  WriteClick(rig->core);
  EXPECT_EQ(rig->window.log, (Lines{"Write To Cart Cancel", "", "PortMode = EPP",
                                    "FileName = " + (rig->dir / "gone.gba").string(), "File Open Error!!!"}));
}

// Counts the reads of two word addresses.
class CountingBus final : public ForwardingBus {
 public:
  CountingBus(sim::CartBus& inner, std::uint32_t a, std::uint32_t b) : ForwardingBus(inner), a_(a), b_(b) {}
  std::uint16_t ReadRom(std::uint32_t addr, std::uint64_t now) override {
    readsA += addr == a_;
    readsB += addr == b_;
    return ForwardingBus::ReadRom(addr, now);
  }
  int readsA = 0, readsB = 0;

 private:
  std::uint32_t a_, b_;
};

TEST_F(WriteTest, PartialLastChunkIsPaddedWithFf) {
  rig->DirtyFlash();
  const Bytes image = MakeImage(40000, 5);
  CountingBus bus(rig->cart, 0x100, 0x4000 + 0x100);  // a word of chunk 0 and one of chunk 1
  rig->adapter.SetBus(bus);
  Write(image, {true});
  // Each chunk, the short last one too, is read back after programming and again in the verify pass.
  EXPECT_EQ(bus.readsA, 2);
  EXPECT_EQ(bus.readsB, 2);
  ASSERT_EQ(rig->window.questions.size(), 1u);
  EXPECT_EQ(rig->window.questions[0].text, "Do You want to Continue?");
  EXPECT_EQ(rig->window.questions[0].caption, "File Size Error");
  EXPECT_EQ(rig->window.log, Cat(Cat(Cat(Head(40000), {"File Size Error!!!"}), kGame), {"Time = 0 Sec"}));
  EXPECT_EQ(rig->window.status, "Write Cart ok");
  EXPECT_EQ(FlashRange(rig->cart, 0, 40000), image);
  const Bytes pad = FlashRange(rig->cart, 40000, 0x10000 - 40000);
  EXPECT_EQ(pad.size(), 25536u);
  EXPECT_TRUE(AllBytes(pad, 0xFF));
}

TEST_F(WriteTest, DecliningTheSizeQuestionWritesNothing) {
  rig->DirtyFlash();
  Write(MakeImage(40000), {false});
  EXPECT_EQ(rig->window.log, Cat(Head(40000), {"File Size Error!!!"}));
  EXPECT_TRUE(rig->cart.EraseAddresses().empty());
  EXPECT_EQ(rig->core.frame.CurrentFile, nullptr);
}

TEST_F(WriteTest, GenuineShortImagesAskForTheHeaderAtOnce) {
  for (const char* name : {"hello.gba", "arm.gba", "thumb.gba"}) {
    SCOPED_TRACE(name);
    Make();
    rig->DirtyFlash();
    const Bytes image = testing::ReadTestImage(name);
    Write(image, {true, true});
    ASSERT_EQ(rig->window.questions.size(), 2u);
    EXPECT_EQ(rig->window.questions[1].text, "Do You want to fix header problem?");
    EXPECT_EQ(rig->window.questions[1].caption, "Fix Header");
    EXPECT_EQ(rig->window.log, Cat(Head(static_cast<std::uint32_t>(image.size())),
                                   {"File Size Error!!!", "Header fixed", "Time = 0 Sec"}));
    EXPECT_EQ(rig->window.status, "Write Cart ok");
    EXPECT_EQ(FlashRange(rig->cart, 0, image.size()), image);  // a sound header is repaired into itself
    EXPECT_TRUE(AllBytes(FlashRange(rig->cart, image.size(), 0x20000 - image.size()), 0xFF));
  }
}

TEST_F(WriteTest, TinyImageKeepsItsBytesAndThePaddingOverwritesTheRepair) {
  const Bytes image = MakeImage(100, 4);  // ends inside the logo
  Write(image, {true, true});
  EXPECT_EQ(rig->window.status, "Write Cart ok");
  EXPECT_EQ(FlashRange(rig->cart, 0, 100), image);
  EXPECT_TRUE(AllBytes(FlashRange(rig->cart, 100, 0x8000 - 100), 0xFF));  // no logo, 0x96 or complement
}

TEST_F(WriteTest, DecliningTheHeaderRepairWritesNothing) {
  rig->DirtyFlash();
  const Bytes image = testing::ReadTestImage("hello.gba");
  Write(image, {true, false});
  EXPECT_EQ(rig->window.log, Cat(Head(1300), {"File Size Error!!!", "Time = 0 Sec"}));
  EXPECT_EQ(rig->window.status, "Error!!!");
  EXPECT_TRUE(rig->cart.EraseAddresses().empty());
  EXPECT_TRUE(AllBytes(rig->cart.Flash(), 0x00));
  EXPECT_EQ(rig->core.frame.CurrentFile, nullptr);
}

TEST_F(WriteTest, BrokenLogoIsRepairedInTheFlashButNotInTheFile) {
  Bytes image = MakeImage(0x10000, 9);
  image[0x04] ^= 0xFF;
  image[0xB2] = 0x00;
  Write(image, {true});
  EXPECT_EQ(rig->window.log, Cat(Head(0x10000), {"no AGB data present!", "Header fixed", "Time = 0 Sec"}));
  EXPECT_EQ(rig->window.questions.size(), 1u);
  EXPECT_EQ(rig->window.status, "Write Cart ok");
  EXPECT_EQ(FlashRange(rig->cart, 4, 156), Bytes(HeaderLogo.begin(), HeaderLogo.end()));
  EXPECT_EQ(rig->cart.Flash()[0xB2], 0x96);
  std::uint8_t sum = 0x19;
  for (int i = 0xA0; i <= 0xBC; ++i) sum = static_cast<std::uint8_t>(sum + rig->cart.Flash()[i]);
  EXPECT_EQ(rig->cart.Flash()[0xBD], static_cast<std::uint8_t>(0 - sum));
  EXPECT_EQ(FlashRange(rig->cart, 0xC0, 0x10000 - 0xC0), Bytes(image.begin() + 0xC0, image.end()));
  EXPECT_EQ(testing::ReadBytes(path), image);
}

// --- IPS ----------------------------------------------------------------------------------------

TEST_F(WriteTest, IpsPatchLandsInBothPassesAndAcrossChunks) {
  const Bytes image = MakeImage(0x10000, 11);
  const std::string patch = rig->File(
      "fix.ips",
      testing::PatchFile().Record(0x10, {0xAB}).Record(0x7FFE, {1, 2, 3, 4}).Record(0x20000, {9}).End());
  rig->window.radioIps = 1;
  rig->window.openDialog3 = {patch};
  Write(image);
  EXPECT_EQ(rig->window.log, Cat(Cat(Head(0x10000), {"IpsFileName = " + patch, "-->Ips Applied<--"}),
                                 Cat(kGame, {"Time = 0 Sec"})));
  EXPECT_EQ(rig->window.status, "Write Cart ok");  // the verify pass saw the same patched bytes
  Bytes expected = image;
  expected[0x10] = 0xAB;
  expected[0x7FFE] = 1;
  expected[0x7FFF] = 2;
  expected[0x8000] = 3;
  expected[0x8001] = 4;
  EXPECT_EQ(FlashRange(rig->cart, 0, 0x10000), expected);
  EXPECT_EQ(rig->cart.Flash()[0x20000], 0xFF);  // past the image: never applied
  EXPECT_EQ(testing::ReadBytes(path), image);
}

TEST_F(WriteTest, IpsRecordInThePaddingOfAPartialChunkIsWritten) {
  const Bytes image = MakeImage(40000, 12);
  const std::string patch = rig->File("pad.ips", testing::PatchFile().Record(0xA000, {0x42, 0x43}).End());
  rig->window.radioIps = 1;
  rig->window.openDialog3 = {patch};
  Write(image, {true});
  EXPECT_EQ(rig->window.status, "Write Cart ok");
  EXPECT_EQ(rig->cart.Flash()[0x9FFF], 0xFF);
  EXPECT_EQ(rig->cart.Flash()[0xA000], 0x42);
  EXPECT_EQ(rig->cart.Flash()[0xA001], 0x43);
  EXPECT_EQ(rig->cart.Flash()[0xA002], 0xFF);
}

TEST_F(WriteTest, CancelledIpsDialogWritesUnpatched) {
  const Bytes image = MakeImage(0x8000, 13);
  rig->window.radioIps = 1;
  rig->window.openDialog3 = {std::nullopt};
  Write(image);
  EXPECT_EQ(rig->window.openDialog3Shown, 1);
  EXPECT_EQ(rig->window.log, Cat(Cat(Head(0x8000), kGame), {"Time = 0 Sec"}));
  EXPECT_EQ(FlashRange(rig->cart, 0, 0x8000), image);
  EXPECT_TRUE(rig->window.timerRunning == false);
}

TEST_F(WriteTest, MalformedIpsPatchIsReportedAndTheImageWrittenUnpatched) {
  const Bytes image = MakeImage(0x8000, 14);
  const std::string patch = rig->File(
      "bad.ips", testing::PatchFile().Record(0x10, Bytes{}).Record(0x20, {1}).End());  // a length-0 record
  rig->window.radioIps = 1;
  rig->window.openDialog3 = {patch};
  Write(image);
  EXPECT_EQ(rig->window.log, Cat(Cat(Head(0x8000), {"IpsFileName = " + patch, "***** Ips Data Error *****"}),
                                 Cat(kGame, {"Time = 0 Sec"})));
  EXPECT_EQ(FlashRange(rig->cart, 0, 0x8000), image);
}

// --- faults -------------------------------------------------------------------------------------

// Corrupts chosen reads (1-based) of one word address.
class DisturbingBus final : public ForwardingBus {
 public:
  DisturbingBus(sim::CartBus& inner, std::uint32_t address, std::vector<int> corruptReads)
      : ForwardingBus(inner), address_(address), corrupt_(std::move(corruptReads)) {}
  std::uint16_t ReadRom(std::uint32_t a, std::uint64_t now) override {
    std::uint16_t v = ForwardingBus::ReadRom(a, now);
    if (a == address_ && std::find(corrupt_.begin(), corrupt_.end(), ++reads_) != corrupt_.end()) v ^= 0x0100;
    return v;
  }

 private:
  std::uint32_t address_;
  std::vector<int> corrupt_;
  int reads_ = 0;
};

TEST_F(WriteTest, ReadBackDifferenceInTheThirdChunk) {
  DisturbingBus bus(rig->cart, 2 * 0x4000 + 5, {1});  // the first read of a word of chunk 2
  rig->adapter.SetBus(bus);
  Write(MakeImage(0x20000));
  EXPECT_EQ(rig->window.log, Cat(Cat(Head(0x20000), kGame), {"Write Flash Error!!!(2)", "Time = 0 Sec"}));
  EXPECT_EQ(rig->window.status, "Error!!!");
  EXPECT_EQ(rig->core.frame.CurrentFile, nullptr);
}

TEST_F(WriteTest, NoiseDuringTheVerifyPass) {
  DisturbingBus bus(rig->cart, 2 * 0x4000 + 5, {2});  // read-back passes, the verify read does not
  rig->adapter.SetBus(bus);
  Write(MakeImage(0x20000));
  EXPECT_EQ(rig->window.log, Cat(Cat(Head(0x20000), kGame), {"Verify Flash Error!!!(2)", "Time = 0 Sec"}));
  EXPECT_EQ(rig->window.status, "Error!!!");
  EXPECT_EQ(rig->core.frame.CurrentFile, nullptr);
}

TEST_F(WriteTest, EraseAndProgramErrorsNameTheChunk) {
  rig->cart.Faults().eraseErrorBlock = 1;
  Write(MakeImage(0x40000));
  EXPECT_EQ(rig->window.log, Cat(Cat(Head(0x40000), kGame), {"Write Flash Error!!!(4)", "Time = 0 Sec"}));
  EXPECT_EQ(rig->window.status, "Error!!!");

  Make();
  rig->cart.Faults().programErrorWord = 5 * 0x4000 + 100;
  Write(MakeImage(0x40000));
  EXPECT_EQ(rig->window.log, Cat(Cat(Head(0x40000), kGame), {"Write Flash Error!!!(5)", "Time = 0 Sec"}));
  EXPECT_EQ(rig->window.status, "Error!!!");
}

TEST_F(WriteTest, WriteCartOkOnlyWhenTheFlashReallyHoldsTheImage) {
  const Bytes image = MakeImage(0x20000, 21);
  int ok = 0, failed = 0;
  for (std::uint64_t seed = 1; seed <= 24; ++seed) {
    Make();
    rig->DirtyFlash(0x00);
    rig->cart.Faults().readNoise = 4e-6;
    rig->cart.Faults().seed = seed;
    Write(image);
    const bool holds =
        rig->cart.Flash().size() >= image.size() && FlashRange(rig->cart, 0, image.size()) == image;
    if (rig->window.status == "Write Cart ok") {
      ++ok;
      EXPECT_TRUE(holds) << "seed " << seed;
    } else {
      ++failed;
      EXPECT_EQ(rig->window.status, "Error!!!") << "seed " << seed;
    }
    EXPECT_EQ(rig->core.frame.CurrentFile, nullptr);
  }
  // The noise rate is chosen so that both outcomes occur; otherwise the test proves nothing.
  EXPECT_GT(ok, 0);
  EXPECT_GT(failed, 0);
}

// A game padded with 0xFF to a larger size: after an erase the padding already reads 0xFF, so
// its buffers are not sent to the chip, in either way of writing; the read-back still compares
// them, so a cell of the padding that no longer erases fails the write at its chunk.
TEST_F(WriteTest, PaddingOfErasedBlocksIsNotProgrammedButReadBack) {
  constexpr std::size_t kGameBytes = 0x20000 + 0x8000 + 1000, kStuckAt = 0x20000 + 0x18000 + 77;
  Bytes image = MakeImage(3 * 0x20000);
  std::fill(image.begin() + kGameBytes, image.end(), 0xFF);
  const std::uint32_t gameBuffers = (kGameBytes + 31) / 32;
  struct Row {
    const char* name;
    bool onlyChanged;
    bool stuckCell;
    Lines tail;
  };
  const Row rows[] = {
      {"every block", false, false, {"Time = 0 Sec"}},
      {"only what changed", true, false, {"Blocks = 0 skipped, 0 programmed, 3 erased", "Time = 0 Sec"}},
      {"every block, a cell that does not erase", false, true, {"Write Flash Error!!!(7)", "Time = 0 Sec"}},
      {"only what changed, a cell that does not erase",
       true,
       true,
       {"Write Flash Error!!!(7)", "Blocks = 0 skipped, 0 programmed, 2 erased", "Time = 0 Sec"}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Make();
    rig->core.cart.Changed.Enabled = row.onlyChanged;
    rig->DirtyFlash(0x00);  // another game's bytes
    if (row.stuckCell) rig->cart.Faults().eraseStuckBit = kStuckAt * 8 + 3;
    Write(image);
    EXPECT_EQ(rig->window.log, Cat(Cat(Head(static_cast<std::uint32_t>(image.size())), kGame), row.tail));
    EXPECT_EQ(rig->cart.BufferPrograms(), gameBuffers);
    if (row.stuckCell) {
      EXPECT_EQ(rig->window.status, "Error!!!");
    } else {
      EXPECT_EQ(rig->window.status, "Write Cart ok");
      EXPECT_EQ(FlashRange(rig->cart, 0, image.size()), image);
    }
  }
}

// --- Stop ---------------------------------------------------------------------------------------

TEST_F(WriteTest, StopBetweenChunks) {
  rig->window.tickEveryPumps = 0;
  rig->window.onPump = [this](std::uint64_t) {
    // Press Stop once chunk 2 has been programmed (its block is block 0; chunk 3 not yet).
    if (rig->window.running && rig->cart.BufferPrograms() == 3 * 1024) rig->core.frame.StopClick();
  };
  Write(MakeImage(0x40000));
  EXPECT_EQ(rig->window.log, Cat(Cat(Head(0x40000), kGame), {"Stop process !!!", "Time = 0 Sec"}));
  EXPECT_EQ(rig->window.status, "Error!!!");
  EXPECT_EQ(rig->cart.BufferPrograms(), 3u * 1024u);
  EXPECT_EQ(rig->core.frame.CurrentFile, nullptr);
  EXPECT_FALSE(rig->window.running);
}

TEST_F(WriteTest, StopDuringAnEraseWait) {
  CartRigOptions o;
  o.timing = sim::ChipTiming::Datasheet();
  Make(o);
  rig->window.onPump = [this](std::uint64_t) {
    // The erase of block 1 (chunk 4) has been confirmed and is polling.
    if (rig->window.running && rig->cart.EraseAddresses().size() == 2) rig->core.frame.StopClick();
  };
  Write(MakeImage(0x40000));
  EXPECT_EQ(rig->window.log,
            Cat(Cat(Head(0x40000), kGame), {"Stop process !!!", "Write Flash Error!!!(4)", "Time = 0 Sec"}));
  EXPECT_EQ(rig->window.status, "Error!!!");
  EXPECT_EQ(rig->core.frame.CurrentFile, nullptr);
}

}  // namespace
}  // namespace brevomat
