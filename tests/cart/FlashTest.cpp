// Flash identification, the cart header check and the ready waits.
#include <gtest/gtest.h>

#include <cstring>

#include "CartRig.h"
#include "RecordingBackend.h"
#include "cart/Flash.h"
#include "commands/Commands.h"
#include "image/CartHeader.h"
#include "link/Detection.h"

namespace brevomat {
namespace {

using testing::CartRig;
using testing::CartRigOptions;

CartRigOptions Chip(sim::FlashChip chip) {
  CartRigOptions o;
  o.chip = chip;
  return o;
}

TEST(IdentifyTest, AcceptsBothJ3ChipsWhateverTheHighBytes) {
  CartRig small(Chip(sim::FlashChip::J3_32Mbit));
  ASSERT_TRUE(small.core.OpenLink());
  small.cart.SetQueryIds(0xAB89, 0xCD16);
  EXPECT_TRUE(IdentifyFlash(small.core.link, small.core.frame, small.core.cart));
  EXPECT_EQ(small.core.cart.FlashSize, 0x400000u);
  EXPECT_TRUE(small.cart.FlashEnabled());

  CartRig big;
  ASSERT_TRUE(big.core.OpenLink());
  EXPECT_TRUE(IdentifyFlash(big.core.link, big.core.frame, big.core.cart));
  EXPECT_EQ(big.core.cart.FlashSize, 0x800000u);
  EXPECT_EQ(big.adapter.counters().violations, 0u);
  EXPECT_EQ(big.window.log, (std::vector<std::string>{"PortMode = EPP"}));  // identification is silent
}

TEST(IdentifyTest, OtherDevicesOrNoSignatureFailAndKeepFlashSize) {
  CartRig rig;
  ASSERT_TRUE(rig.core.OpenLink());
  ASSERT_TRUE(IdentifyFlash(rig.core.link, rig.core.frame, rig.core.cart));
  rig.cart.SetQueryIds(0x89, 0x18);
  EXPECT_FALSE(IdentifyFlash(rig.core.link, rig.core.frame, rig.core.cart));
  EXPECT_EQ(rig.core.cart.FlashSize, 0x800000u);
  rig.cart.SetQueryIds(0x89, 0x17);
  rig.cart.SetCfiSignature(false);
  EXPECT_FALSE(IdentifyFlash(rig.core.link, rig.core.frame, rig.core.cart));
  EXPECT_EQ(rig.core.cart.FlashSize, 0x800000u);
}

TEST(IdentifyTest, WorksInEverySpeed) {
  for (int speed = 0; speed < 4; ++speed) {
    CartRig rig;
    rig.window.radioSpeed = speed;
    ASSERT_TRUE(rig.core.OpenLink());
    EXPECT_TRUE(IdentifyFlash(rig.core.link, rig.core.frame, rig.core.cart)) << speed;
    EXPECT_EQ(rig.adapter.counters().violations, 0u) << speed;
  }
}

TEST(IdentifyTest, ReadArrayAfterQuery) {
  CartRig rig;
  rig.DirtyFlash(0x5A);
  ASSERT_TRUE(rig.core.OpenLink());
  ASSERT_TRUE(IdentifyFlash(rig.core.link, rig.core.frame, rig.core.cart));
  ReadHeaderWords(rig.core.link, rig.core.frame.Buffer);
  EXPECT_EQ(rig.core.frame.Buffer.Word(0), 0x5A5A);
  EXPECT_EQ(rig.core.frame.Buffer.Word(255), 0x5A5A);
}

class HeaderTest : public ::testing::Test {
 protected:
  testing::FakeWindow window;
  Core core{window};
  void Load(const std::vector<std::uint8_t>& bytes) {
    std::memcpy(core.frame.Buffer.data(), bytes.data(), std::min<std::size_t>(bytes.size(), 256));
  }
};

TEST_F(HeaderTest, GenuineImagesPass) {
  for (const char* name : {"hello.gba", "arm.gba", "thumb.gba"}) {
    window.log.clear();
    Load(testing::ReadTestImage(name));
    EXPECT_TRUE(CheckCartHeader(core.frame)) << name;
    EXPECT_EQ(window.log, (std::vector<std::string>{"Game Name = GBA Tests", "Game Code = 1337"}));
  }
}

TEST_F(HeaderTest, LastLogoByteWrongIsNoAgbData) {
  auto bytes = testing::ReadTestImage("hello.gba");
  bytes[0x9F] ^= 1;
  Load(bytes);
  EXPECT_FALSE(CheckCartHeader(core.frame));
  EXPECT_EQ(window.log, (std::vector<std::string>{"no AGB data present!"}));
}

TEST_F(HeaderTest, TitleEndsAtFirstZero) {
  auto bytes = testing::ReadTestImage("hello.gba");
  std::memset(bytes.data() + 0xA0, 0, 12);
  std::memcpy(bytes.data() + 0xA0, "ABC", 3);
  std::memcpy(bytes.data() + 0xAC, "WXYZ", 4);  // a full code has no zero of its own
  Load(bytes);
  EXPECT_TRUE(CheckCartHeader(core.frame));
  EXPECT_EQ(window.log, (std::vector<std::string>{"Game Name = ABC", "Game Code = WXYZ"}));
}

TEST_F(HeaderTest, LogoTableIsThePublishedOne) {
  EXPECT_EQ(HeaderLogo.size(), 156u);
  EXPECT_EQ(HeaderLogo.front(), 0x24);
  EXPECT_EQ(HeaderLogo.back(), 0x07);
}

// What info logs after the flash chip: the header's verdict, its fields (the judged ones with what
// they should be, as Python works it out from the published layout) and whether save memory answers.
TEST(InfoTest, LogsEveryHeaderFieldAndTheSaveMemory) {
  const std::string name = "Game Name = GBA Tests", code = "Game Code = 1337", maker = "Maker Code = JS",
                    fixed = "Fixed Byte = 0x96 (ok)", unit = "Unit Code = 0x00",
                    device = "Device Type = 0x80", version = "Version = 0",
                    complement = "Complement = 0x69 (ok)";
  struct Row {
    std::uint32_t offset;  // the byte changed in hello.gba's header (0: none)
    std::uint8_t value;
    sim::SaveMemory save;
    std::vector<std::string> log;  // after "Flash = ..."
  } const rows[] = {
      {0,
       0,
       sim::SaveMemory::Sram,
       {name, code, maker, fixed, unit, device, version, complement, "Save Memory = present"}},
      {0xB2,
       0x00,
       sim::SaveMemory::Sram,
       {name, code, maker, "Fixed Byte = 0x00 (should be 0x96)", unit, device, version,
        "Complement = 0x69 (should be 0xFF)", "Save Memory = present"}},
      {0xBD,
       0x96,
       sim::SaveMemory::Sram,
       {name, code, maker, fixed, unit, device, version, "Complement = 0x96 (should be 0x69)",
        "Save Memory = present"}},
      {0x10,
       0x00,
       sim::SaveMemory::None,
       {"no AGB data present!", maker, fixed, unit, device, version, complement, "Save Memory = absent"}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.offset);
    CartRigOptions options;
    options.save = row.save;
    CartRig rig(options);
    auto image = testing::ReadTestImage("hello.gba");
    if (row.offset != 0) image[row.offset] = row.value;
    std::copy(image.begin(), image.end(), rig.cart.Flash().begin());
    const auto flash = rig.cart.Flash();
    EXPECT_EQ(CartInfoCommand(rig.core), kResultDone);
    std::vector<std::string> expected = {"PortMode = EPP", "Flash = 28F640J3 8388608"};
    expected.insert(expected.end(), row.log.begin(), row.log.end());
    EXPECT_EQ(rig.window.log, expected);
    EXPECT_TRUE(rig.cart.Flash() == flash) << "info changed the flash";
  }
}

// WaitFlashReady against scripted status answers (fast EPP: a status read is one 16-bit read).
class WaitTest : public ::testing::Test {
 protected:
  testing::FakeWindow window;
  Core core{window};
  testing::RecordingBackend rec;
  void SetUp() override {
    core.port.Attach(&rec);
    window.frame = &core.frame;
  }
  int WordReads() const {
    int n = 0;
    for (const auto& c : rec.calls) n += c.kind == testing::PortCall::ReadWord;
    return n;
  }
};

TEST_F(WaitTest, ReadyAndCleanAtOnce) {
  rec.answers = {0x0080};
  EXPECT_TRUE(WaitFlashReady(core.link, core.frame));
  EXPECT_EQ(WordReads(), 1);
}

TEST_F(WaitTest, ReadyWithErrorBitsClearsStatusAndFails) {
  rec.answers = {0x0090};
  EXPECT_FALSE(WaitFlashReady(core.link, core.frame));
  ASSERT_GE(rec.calls.size(), 2u);
  // The error exit: write level, then 0x50 as a bare data word.
  EXPECT_EQ(rec.calls[rec.calls.size() - 2], testing::Wb(0x37A, 1));
  EXPECT_EQ(rec.calls.back(), testing::Ww(0x37C, 0x50));
}

TEST_F(WaitTest, BusyThenReady) {
  rec.answers = {0x00, 0x00, 0x00, 0x80};
  EXPECT_TRUE(WaitFlashReady(core.link, core.frame));
  EXPECT_EQ(WordReads(), 4);
}

TEST_F(WaitTest, NeverReadyGivesUpAfterItsPollsAndPumpsEvery1024) {
  core.frame.BeginOperation();  // inside an operation, with nobody pressing Stop
  const std::uint64_t pumpsBefore = window.pumps;
  rec.answers.assign(20000, 0x00);
  EXPECT_FALSE(WaitFlashReady(core.link, core.frame));
  EXPECT_EQ(WordReads(), 1 + 16384);
  EXPECT_EQ(window.pumps - pumpsBefore, 16u);
  EXPECT_TRUE(window.log.empty());
  EXPECT_EQ(rec.calls.back(), testing::Ww(0x37C, 0x50));
}

TEST_F(WaitTest, OutsideAnOperationTheIdleStopFlagIsNoStop) {
  // Identification waits for the chip before any operation has begun; StopFlag is set then only
  // because the window is idle.
  ASSERT_TRUE(core.frame.StopFlag);
  rec.answers.assign(20000, 0x00);
  EXPECT_FALSE(WaitFlashReady(core.link, core.frame));
  EXPECT_EQ(WordReads(), 1 + 16384);
  EXPECT_EQ(window.pumps, 16u);
  EXPECT_TRUE(window.log.empty());
  EXPECT_EQ(rec.calls.back(), testing::Ww(0x37C, 0x50));
}

TEST_F(WaitTest, StopDuringTheWaitAbortsWithoutClearing) {
  core.frame.BeginOperation();
  window.stopAtPump = window.pumps + 1;
  rec.answers.assign(20000, 0x00);
  EXPECT_FALSE(WaitFlashReady(core.link, core.frame));
  EXPECT_EQ(WordReads(), 1 + 1024);
  EXPECT_EQ(window.log, (std::vector<std::string>{"Stop process !!!"}));
  EXPECT_NE(rec.calls.back(), testing::Ww(0x37C, 0x50));
}

TEST_F(WaitTest, StatusReadyWaitIgnoresErrorBitsAndClearsOnTimeout) {
  rec.answers = {0x00, 0xB0};
  EXPECT_TRUE(WaitStatusReady(core.link));
  rec.calls.clear();
  rec.answers.assign(9000, 0x00);
  EXPECT_FALSE(WaitStatusReady(core.link));
  EXPECT_EQ(WordReads(), 8192);
  EXPECT_EQ(rec.calls.back(), testing::Ww(0x37C, 0x50));
  EXPECT_EQ(window.pumps, 0u);
}

}  // namespace
}  // namespace brevomat
