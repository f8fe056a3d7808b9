// The virtual flash cartridge, driven through the link and the virtual adapter.
#include <gtest/gtest.h>

#include <algorithm>

#include "SimRig.h"
#include "link/ControlSequences.h"
#include "sim/FlashCart.h"

namespace brevomat::sim {
namespace {

using testing::LinkRig;

class FlashCartTest : public ::testing::Test {
 protected:
  explicit FlashCartTest(FlashChip chip = FlashChip::J3_32Mbit, ChipTiming timing = ChipTiming::Fast())
      : cart(chip, timing), rig(cart) {
    rig.Use(LinkMode::EPP, 0);
  }
  void SetWord(std::uint32_t index, std::uint16_t v) {
    cart.Flash()[2 * index] = static_cast<std::uint8_t>(v);
    cart.Flash()[2 * index + 1] = static_cast<std::uint8_t>(v >> 8);
  }
  std::uint16_t Word(std::uint32_t index) {
    return static_cast<std::uint16_t>(cart.Flash()[2 * index] | (cart.Flash()[2 * index + 1] << 8));
  }
  // Polls the status without a command until the chip is ready; returns the final status.
  std::uint8_t WaitReady(int maxPolls = 100000) {
    std::uint8_t s = 0;
    for (int i = 0; i < maxPolls; ++i) {
      s = static_cast<std::uint8_t>(rig.Peek());
      if (s & 0x80) break;
    }
    return s;
  }
  void Erase(std::uint32_t address) {
    rig.link.WriteCartWord(address, 0x20);
    rig.link.WriteCartWord(address, 0xD0);
  }

  FlashCart cart;
  LinkRig rig;
};

TEST_F(FlashCartTest, ArrayReadsNeedNoSequenceAndCommandsNeedTheWholeOne) {
  SetWord(0, 0x1234);
  SetWord(1, 0xABCD);
  EXPECT_EQ(rig.ReadWordAt(0), 0x1234);
  EXPECT_EQ(rig.ReadWordAt(1), 0xABCD);
  // Without the enable sequence a command is an ordinary cart write that nothing takes.
  rig.link.WriteCartWord(0, 0x98);
  EXPECT_EQ(rig.ReadWordAt(0), 0x1234);
  EXPECT_EQ(cart.ChipWrites(), 0u);
  EXPECT_FALSE(cart.FlashEnabled());

  EnableFlashAccess(rig.link);
  EXPECT_TRUE(cart.FlashEnabled());
  EXPECT_EQ(cart.ChipWrites(), 0u);  // the sequence itself reached only the decoder
  rig.link.WriteCartWord(0, 0x98);
  EXPECT_EQ(rig.ReadWordAt(0), 0x0089);
  EXPECT_EQ(cart.ChipWrites(), 1u);
  EXPECT_EQ(rig.adapter.counters().violations, 0u);
}

// Sends the preamble with one step changed, then the enable write.
void SendPreamble(Link& link, int stepToChange, bool changeCount) {
  link.SetRomAccessMode();
  int i = 0;
  for (const SequenceStep& step : kCartControlPreamble) {
    std::uint32_t times = step.times;
    std::uint32_t address = step.address;
    if (i++ == stepToChange) {
      if (changeCount)
        times -= 1;
      else
        address ^= 0x000100;
    }
    for (std::uint32_t k = 0; k < times; ++k) link.WriteCartWord(address, step.value);
  }
  link.WriteCartWord(kFlashEnableAddress, kFlashEnableValue);
}

TEST_F(FlashCartTest, DeviatingSequencesLeaveTheCartAsItWas) {
  SendPreamble(rig.link, 1, true);  // 499 instead of 500 repeats
  EXPECT_FALSE(cart.FlashEnabled());
  SendPreamble(rig.link, 9, true);
  EXPECT_FALSE(cart.FlashEnabled());
  SendPreamble(rig.link, 7, false);  // one address off
  EXPECT_FALSE(cart.FlashEnabled());
  // The exact sequence after the garbled ones.
  SendPreamble(rig.link, -1, false);
  EXPECT_TRUE(cart.FlashEnabled());
  EXPECT_EQ(cart.SaveBank(), 0);

  FlashCart other(FlashChip::J3_32Mbit, ChipTiming::Fast());
  LinkRig rig2(other);
  rig2.Use(LinkMode::SPP, 0);
  rig2.link.SetRomAccessMode();
  rig2.link.WriteCartWord(0x987654, 0x5354);
  for (int k = 0; k < 501; ++k) rig2.link.WriteCartWord(0x012345, 0x1234);
  rig2.link.WriteCartWord(kFlashEnableAddress, kFlashEnableValue);
  EXPECT_FALSE(other.FlashEnabled());
  // A complete sequence after the garbled one is recognised.
  SelectSaveBank(rig2.link, 5);
  EXPECT_FALSE(other.FlashEnabled());
  EXPECT_EQ(other.SaveBank(), 2);
  EXPECT_EQ(rig2.adapter.counters().violations, 0u);
}

TEST_F(FlashCartTest, CfiQueryIdentifiesTheChip) {
  EnableFlashAccess(rig.link);
  rig.link.WriteCartWord(0, 0x98);
  rig.link.SetCartAddress(0);
  rig.link.SelectAdapterRegister(3);
  rig.link.WriteControl(0);
  std::uint16_t q[256];
  for (auto& w : q) w = rig.link.ReadCartWord();
  rig.link.WriteCartWord(0, 0xFF);
  EXPECT_EQ(q[0], 0x89);
  EXPECT_EQ(q[1], 0x16);
  EXPECT_EQ(q[0x10], 'Q');
  EXPECT_EQ(q[0x11], 'R');
  EXPECT_EQ(q[0x12], 'Y');
  EXPECT_EQ(q[0x27], 0x16);                    // 2^22 bytes
  EXPECT_EQ(q[0x2A], 0x05);                    // 32-byte write buffer
  EXPECT_EQ(q[0x2D] | (q[0x2E] << 8), 31);     // 32 blocks ...
  EXPECT_EQ(q[0x2F] | (q[0x30] << 8), 0x200);  // ... of 128 KB
  EXPECT_EQ(rig.ReadWordAt(0), 0xFFFF);        // read array again: erased
  EXPECT_EQ(rig.adapter.counters().violations, 0u);

  cart.SetQueryIds(0x1289, 0xFF17);
  cart.SetCfiSignature(false);
  rig.link.WriteCartWord(0, 0x98);
  EXPECT_EQ(rig.ReadWordAt(0), 0x1289);
  EXPECT_EQ(rig.ReadWordAt(1), 0xFF17);
  EXPECT_EQ(rig.ReadWordAt(0x10), 0);
}

TEST_F(FlashCartTest, BlockEraseOnTheVirtualClock) {
  FlashCart slow(FlashChip::J3_64Mbit, ChipTiming::Datasheet());
  LinkRig r(slow);
  r.Use(LinkMode::EPP, 0);
  std::fill(slow.Flash().begin(), slow.Flash().end(), 0x00);
  EnableFlashAccess(r.link);
  r.link.WriteCartWord(0x10005, 0x20);
  EXPECT_EQ(r.Peek() & 0xFF, 0x80);  // set-up: status, ready
  r.link.WriteCartWord(0x10005, 0xD0);
  const std::uint64_t start = r.adapter.NowNs();
  EXPECT_EQ(r.Peek() & 0x80, 0);  // busy
  EXPECT_EQ(r.Status() & 0x80, 0);
  r.link.WriteCartWord(0, 0xFF);  // ignored while busy: reads still give the status
  EXPECT_EQ(r.Peek() & 0x80, 0);
  EXPECT_EQ(slow.Flash()[0x20000], 0x00);  // nothing changes before the erase completes
  r.adapter.AdvanceNs(1'000'000'000 - (r.adapter.NowNs() - start) - 10'000);
  EXPECT_EQ(r.Peek() & 0x80, 0);
  r.adapter.AdvanceNs(10'000);
  EXPECT_EQ(r.Peek(), 0x80);
  EXPECT_EQ(r.ReadWordAt(0x1FFFF), 0x80);  // status until read array
  r.link.WriteCartWord(0, 0xFF);
  EXPECT_EQ(r.ReadWordAt(0x10000), 0xFFFF);
  const auto& f = slow.Flash();
  EXPECT_TRUE(
      std::all_of(f.begin() + 0x20000, f.begin() + 0x40000, [](std::uint8_t b) { return b == 0xFF; }));
  EXPECT_EQ(f[0x1FFFF], 0x00);
  EXPECT_EQ(f[0x40000], 0x00);
  EXPECT_EQ(slow.EraseAddresses(), std::vector<std::uint32_t>{0x10005});
}

TEST_F(FlashCartTest, BufferedProgramOnlyClearsBits) {
  EnableFlashAccess(rig.link);
  for (std::uint32_t k = 0; k < 32; ++k) SetWord(0x2000 + k, 0xF0F0);
  std::uint16_t words[16];
  for (int k = 0; k < 16; ++k) words[k] = static_cast<std::uint16_t>(0x0FFF - k);
  rig.BufferProgram(0x2000, words);
  EXPECT_TRUE(rig.bufferAvailable);
  EXPECT_EQ(WaitReady(), 0x80);
  EXPECT_EQ(cart.BufferPrograms(), 1u);
  for (int k = 0; k < 16; ++k) EXPECT_EQ(Word(0x2000 + k), (0x0FFF - k) & 0xF0F0) << k;
  EXPECT_EQ(Word(0x2010), 0xF0F0);  // the confirm at the next address programs nothing

  // The last buffer of a 256-word run: the confirm arrives at the run's start (register 0 wraps).
  for (int k = 0; k < 16; ++k) words[k] = static_cast<std::uint16_t>(0x1111 * (k % 8));
  rig.BufferProgram(0x1FFF0, words);
  EXPECT_EQ(WaitReady(), 0x80);
  rig.link.WriteCartWord(0, 0xFF);
  for (int k = 0; k < 16; ++k) EXPECT_EQ(rig.ReadWordAt(0x1FFF0 + k), words[k]) << k;
  EXPECT_EQ(Word(0x1FF00), 0xFFFF);
  EXPECT_EQ(cart.BufferPrograms(), 2u);
  EXPECT_EQ(rig.adapter.counters().violations, 0u);
}

TEST_F(FlashCartTest, ImproperSequencesSetBothErrorBits) {
  EnableFlashAccess(rig.link);
  rig.link.WriteCartWord(0x100, 0x20);
  rig.link.WriteCartWord(0x100, 0xFF);  // not the confirm
  EXPECT_EQ(rig.Status(), 0xB0);
  rig.link.WriteCartWord(0, 0x50);
  EXPECT_EQ(rig.Status(), 0x80);
  rig.link.WriteCartWord(0x100, 0xE8);
  rig.link.WriteCartWord(0x100, 0x1F);  // 32 words: more than the buffer holds
  EXPECT_EQ(rig.Status(), 0xB0);
  rig.link.WriteCartWord(0, 0x50);
  EXPECT_TRUE(cart.EraseAddresses().empty());
  EXPECT_EQ(cart.BufferPrograms(), 0u);
  // The control sequences' values reach an enabled chip and do nothing but read array.
  rig.link.WriteCartWord(0, 0x70);
  EnableFlashAccess(rig.link);
  EXPECT_EQ(rig.ReadWordAt(0), 0xFFFF);
  EXPECT_EQ(cart.StatusRegister(), 0x80);
}

TEST_F(FlashCartTest, Faults) {
  EnableFlashAccess(rig.link);
  std::fill(cart.Flash().begin(), cart.Flash().end(), 0x00);

  cart.Faults().eraseErrorBlock = 3;
  Erase(0x30000);
  EXPECT_EQ(WaitReady(), 0xA0);
  EXPECT_EQ(Word(0x30000), 0x0000);
  rig.link.WriteCartWord(0x30000, 0x50);
  Erase(0x20000);
  EXPECT_EQ(WaitReady(), 0x80);
  EXPECT_EQ(Word(0x20000), 0xFFFF);

  cart.Faults().programErrorWord = 0x20007;
  std::uint16_t words[16];
  std::fill(std::begin(words), std::end(words), 0x1234);
  rig.BufferProgram(0x20000, words);
  EXPECT_EQ(WaitReady(), 0x90);
  EXPECT_EQ(Word(0x20006), 0x1234);
  EXPECT_EQ(Word(0x20007), 0xFFFF);
  rig.link.WriteCartWord(0, 0x50);

  cart.Faults().setupStatusB0Polls = 3;
  rig.link.WriteCartWord(0x40000, 0x20);
  int b0 = 0;
  for (; b0 < 10 && (rig.Peek() & 0xFF) == 0xB0; ++b0) rig.link.WriteCartWord(0x40000, 0x20);
  EXPECT_EQ(b0, 3);
  EXPECT_EQ(rig.Peek(), 0x80);
  rig.link.WriteCartWord(0x40000, 0xD0);
  EXPECT_EQ(WaitReady(), 0x80);
  EXPECT_EQ(Word(0x40000), 0xFFFF);

  cart.Faults().neverReady = true;
  Erase(0x50000);
  EXPECT_EQ(WaitReady(2000) & 0x80, 0);
  rig.adapter.AdvanceNs(3'600'000'000'000ull);
  EXPECT_EQ(rig.Peek() & 0x80, 0);
  EXPECT_EQ(Word(0x50000), 0x0000);
}

TEST(FlashCartNoise, FlipsTheNthReadAndSeededRandomBits) {
  FlashCart cart(FlashChip::J3_32Mbit, ChipTiming::Fast());
  LinkRig rig(cart);
  rig.Use(LinkMode::EPP, 0);
  cart.Faults().flipRead = 3;
  rig.link.SetCartAddress(0);
  rig.link.SelectAdapterRegister(3);
  rig.link.WriteControl(0);
  EXPECT_EQ(rig.link.ReadCartWord(), 0xFFFF);
  EXPECT_EQ(rig.link.ReadCartWord(), 0xFFFF);
  EXPECT_EQ(rig.link.ReadCartWord(), 0xFFFE);
  EXPECT_EQ(rig.link.ReadCartWord(), 0xFFFF);

  auto noisyRun = [](std::uint64_t seed, double p) {
    FlashCart c(FlashChip::J3_32Mbit, ChipTiming::Fast());
    c.Faults().readNoise = p;
    c.Faults().seed = seed;
    std::vector<std::uint16_t> out;
    for (std::uint32_t a = 0; a < 4096; ++a) out.push_back(c.ReadRom(a, 0));
    return out;
  };
  const auto a = noisyRun(7, 0.25), b = noisyRun(7, 0.25), c = noisyRun(8, 0.25);
  EXPECT_EQ(a, b);
  EXPECT_NE(a, c);
  const auto flipped = std::count_if(a.begin(), a.end(), [](std::uint16_t w) { return w != 0xFFFF; });
  EXPECT_GT(flipped, 800);
  EXPECT_LT(flipped, 1250);
  EXPECT_TRUE(std::all_of(a.begin(), a.end(), [](std::uint16_t w) {
    const unsigned x = 0xFFFFu ^ w;
    return (x & (x - 1)) == 0;  // at most one bit per transfer
  }));
  const auto clean = noisyRun(7, 0.0);
  EXPECT_TRUE(std::all_of(clean.begin(), clean.end(), [](std::uint16_t w) { return w == 0xFFFF; }));
}

TEST(FlashCartSave, BanksHalvesAndAStuckByte) {
  FlashCart cart(FlashChip::J3_64Mbit, ChipTiming::Fast());
  LinkRig rig(cart);
  rig.Use(LinkMode::SPP, 0);
  ASSERT_EQ(cart.Save().size(), 262144u);
  cart.Faults().saveStuckByte = 0x28005;
  SelectSaveBank(rig.link, 5);
  EXPECT_EQ(cart.SaveBank(), 2);
  EXPECT_FALSE(cart.FlashEnabled());
  rig.link.SetSaveAccessMode();
  rig.link.WriteAdapterRegister(0, 0);
  rig.link.WriteAdapterRegister(1, 0x80);  // upper half of the bank: unit 5
  rig.link.WriteAdapterRegister(2, 0);
  rig.link.SelectAdapterRegister(3);
  rig.link.WriteControl(1);
  for (int k = 0; k < 256; ++k) rig.link.WriteAdapterData(static_cast<std::uint8_t>(k + 1));
  for (int k = 0; k < 256; ++k)
    EXPECT_EQ(cart.Save()[0x28000 + k], k == 5 ? 0 : static_cast<std::uint8_t>(k + 1)) << k;
  SelectSaveBank(rig.link, 0);
  EXPECT_EQ(cart.SaveBank(), 0);
  EXPECT_EQ(rig.adapter.counters().violations, 0u);

  FlashCart none(FlashChip::J3_64Mbit, ChipTiming::Fast(), SaveMemory::None);
  EXPECT_TRUE(none.Save().empty());
  int same = 0;
  for (std::uint16_t a = 0; a < 1024; ++a) same += none.ReadSave(a, 0) == none.ReadSave(a, 0);
  EXPECT_LT(same, 20);  // no save memory: nothing reads the same twice (bar chance)
  none.WriteSave(0, 1, 0);
}

TEST(FlashCartTiming, Profiles) {
  EXPECT_EQ(ChipTiming::Datasheet().blockEraseNs, 1'000'000'000u);
  EXPECT_EQ(ChipTiming::Datasheet().bufferProgramNs, 218'000u);
  EXPECT_EQ(ChipTiming::Slow().blockEraseNs, 5'000'000'000u);
  EXPECT_EQ(ChipTiming::Slow().bufferProgramNs, 654'000u);
  EXPECT_LT(ChipTiming::Fast().blockEraseNs, 100'000u);
}

}  // namespace
}  // namespace brevomat::sim
