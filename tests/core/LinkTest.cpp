// Exact port call sequences of the link cycles and operations, in every link mode and speed.
#include <gtest/gtest.h>

#include <vector>

#include "FakeWindow.h"
#include "RecordingBackend.h"
#include "commands/Core.h"
#include "link/Link.h"

namespace brevomat {
namespace {

using testing::PortCall;
using testing::Rb;
using testing::RecordingBackend;
using testing::Rw;
using testing::Wb;
using testing::Ww;

constexpr std::uint16_t D = 0x378, S = 0x379, C = 0x37A, EA = 0x37B, ED = 0x37C;

class LinkTest : public ::testing::Test {
 protected:
  RecordingBackend rec;
  PortIo io{&rec};
  Link link{io};

  void Use(LinkMode mode, int speed) {
    link.Mode = mode;
    link.SpeedSetting = static_cast<std::int8_t>(speed);
    rec.calls.clear();
  }
  std::vector<PortCall> SppAddress(std::uint8_t v) { return {Wb(C, 1), Wb(D, v), Wb(C, 9), Wb(C, 1)}; }
  std::vector<PortCall> SppData(std::uint8_t v) { return {Wb(D, v), Wb(C, 3), Wb(C, 1)}; }
  std::vector<PortCall> EppAddress(std::uint8_t v) { return {Wb(C, 1), Wb(EA, v)}; }
  static std::vector<PortCall> Cat(std::initializer_list<std::vector<PortCall>> parts) {
    std::vector<PortCall> out;
    for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
  }
};

TEST(PortIoTest, ForwardsInOrderWithNothingAdded) {
  RecordingBackend rec;
  rec.answers = {0x5A};
  PortIo io(&rec);
  io.PortWriteByte(0x378, 0x12);
  EXPECT_EQ(io.PortReadByte(0x378), 0x5A);
  io.PortWriteWord(0x37C, 0xABCD);   // one 16-bit access, not two byte writes
  io.PortWriteByte(0x12340379u, 7);  // a 32-bit address reaches the bus as its low 16 bits
  EXPECT_EQ(rec.calls,
            (std::vector<PortCall>{Wb(0x378, 0x12), Rb(0x378, 0x5A), Ww(0x37C, 0xABCD), Wb(0x379, 7)}));
}

TEST(PortIoTest, DetachedPortReadsFloatingBusAndDropsWrites) {
  PortIo io;
  EXPECT_FALSE(io.Attached());
  io.PortWriteByte(0x378, 0);
  io.PortWriteWord(0x37C, 0);
  EXPECT_EQ(io.PortReadByte(0x379), 0xFF);
  EXPECT_EQ(io.PortReadWord(0x37C), 0xFFFF);
  RecordingBackend rec;
  io.Attach(&rec);
  io.Attach(nullptr);
  EXPECT_EQ(io.PortReadByte(0x379), 0xFF);
  EXPECT_TRUE(rec.calls.empty());
}

TEST_F(LinkTest, NibbleReadTakesStatusBitsThreeToSixOnly) {
  Use(LinkMode::SPP, 0);
  rec.answers = {0x78, 0x40};
  EXPECT_EQ(link.NibbleRead(), 0x8F);
  EXPECT_EQ(rec.calls,
            (std::vector<PortCall>{Wb(C, 0), Wb(C, 2), Rb(S, 0x78), Wb(C, 6), Rb(S, 0x40), Wb(C, 0)}));
  rec.answers = {0x87, 0x87};
  EXPECT_EQ(link.NibbleRead(), 0x00);
}

TEST_F(LinkTest, SetCartAddressWritesHighMidLowAndIgnoresTopByte) {
  Use(LinkMode::EPP, 0);
  link.SetCartAddress(0x12345678);
  EXPECT_EQ(
      rec.calls,
      Cat({EppAddress(2), {Wb(ED, 0x34)}, EppAddress(1), {Wb(ED, 0x56)}, EppAddress(0), {Wb(ED, 0x78)}}));
}

TEST_F(LinkTest, WriteDataWordPerModeAndSpeed) {
  Use(LinkMode::SPP, 0);
  link.WriteDataWord(0x1234);
  EXPECT_EQ(rec.calls, Cat({SppData(0x34), SppData(0x12)}));

  Use(LinkMode::EPP, 0);
  link.WriteDataWord(0x1234);
  EXPECT_EQ(rec.calls, (std::vector<PortCall>{Ww(ED, 0x1234)}));

  Use(LinkMode::EPP, -1);  // below 0 behaves as 0
  link.WriteDataWord(0x1234);
  EXPECT_EQ(rec.calls, (std::vector<PortCall>{Ww(ED, 0x1234)}));

  Use(LinkMode::EPP, 1);
  link.WriteDataWord(0x1234);
  EXPECT_EQ(rec.calls, (std::vector<PortCall>{Wb(ED, 0x34), Wb(ED, 0x12)}));

  Use(LinkMode::EPP, 2);
  link.WriteDataWord(0x1234);
  EXPECT_EQ(rec.calls, Cat({SppData(0x34), SppData(0x12)}));
}

TEST_F(LinkTest, ReadCartWordPerModeAndSpeed) {
  Use(LinkMode::EPP, 1);
  rec.answers = {0x34, 0x12};
  EXPECT_EQ(link.ReadCartWord(), 0x1234);
  EXPECT_EQ(rec.calls, (std::vector<PortCall>{Rb(ED, 0x34), Rb(ED, 0x12)}));

  Use(LinkMode::EPP, 0);
  rec.answers = {0xBEEF};
  EXPECT_EQ(link.ReadCartWord(), 0xBEEF);
  EXPECT_EQ(rec.calls, (std::vector<PortCall>{Rw(ED, 0xBEEF)}));

  Use(LinkMode::SPP, 0);
  // low byte 0x34: nibbles 4 and 3; high byte 0x12: nibbles 2 and 1 (bits 3..6 of each status read)
  rec.answers = {4 << 3, 3 << 3, 2 << 3, 1 << 3};
  EXPECT_EQ(link.ReadCartWord(), 0x1234);
  EXPECT_EQ(rec.calls.size(), 12u);
}

// A run through a back end whose single access is the bus cycle (direct access, the virtual
// adapter) is exactly its single transfers, in every mode and at every speed; a run that a
// comparison leaves early reads no further there.
TEST_F(LinkTest, RunsAreTheSingleTransfersTheyStandFor) {
  const std::uint8_t words[] = {0x34, 0x12, 0x78, 0x56, 0xBC, 0x9A};
  const std::vector<std::uint16_t> answers = {0x34, 0x12, 0x78, 0x56, 0xBC, 0x9A};
  const struct {
    LinkMode mode;
    int speed;
  } rows[] = {{LinkMode::EPP, 0}, {LinkMode::EPP, 1}, {LinkMode::EPP, 2}, {LinkMode::SPP, 3}};
  for (const auto& row : rows) {
    SCOPED_TRACE(::testing::Message() << "speed item " << row.speed);
    // What each run stands for, one transfer at a time, with the values the reads gave.
    Use(row.mode, row.speed);
    for (int k = 0; k < 3; ++k)
      link.WriteDataWord(static_cast<std::uint16_t>(words[2 * k] | words[2 * k + 1] << 8));
    for (int k = 0; k < 6; ++k) link.WriteAdapterData(words[k]);
    rec.answers.assign(answers.begin(), answers.end());
    std::vector<std::uint16_t> single;
    for (int k = 0; k < 3; ++k) single.push_back(link.ReadCartWord());
    for (int k = 0; k < 6; ++k) single.push_back(link.ReadAdapterByte());
    const std::vector<PortCall> expected = rec.calls;

    Use(row.mode, row.speed);
    link.WriteDataWords(words, 3);
    link.WriteAdapterBytes(words, 6);
    rec.answers.assign(answers.begin(), answers.end());
    std::uint8_t got[6];
    link.ReadCartWords(got, 3);
    std::vector<std::uint16_t> run;
    for (int k = 0; k < 3; ++k) run.push_back(static_cast<std::uint16_t>(got[2 * k] | got[2 * k + 1] << 8));
    link.ReadAdapterBytes(got, 6);
    run.insert(run.end(), got, got + 6);
    EXPECT_EQ(rec.calls, expected);
    EXPECT_EQ(run, single);

    Use(row.mode, row.speed);
    link.ReadCartWord();
    link.ReadAdapterByte();
    const std::vector<PortCall> first = rec.calls;
    Use(row.mode, row.speed);
    link.StartWordRun(kRunWords);
    link.NextRunWord();
    link.StartByteRun(kRunWords);
    link.NextRunByte();
    EXPECT_EQ(rec.calls, first);
  }
}

TEST_F(LinkTest, SpeedTwoWritesWithSppCyclesButSelectsAndReadsThroughEpp) {
  Use(LinkMode::EPP, 2);
  link.WriteAdapterRegister(4, 0x07);
  EXPECT_EQ(rec.calls, Cat({SppAddress(4), SppData(0x07)}));
  Use(LinkMode::EPP, 2);
  link.SelectAdapterRegister(3);
  EXPECT_EQ(rec.calls, Cat({{Wb(C, 1)}, EppAddress(3)}));
  Use(LinkMode::EPP, 2);
  rec.answers = {0x42};
  EXPECT_EQ(link.ReadAdapterByte(), 0x42);
  EXPECT_EQ(rec.calls, (std::vector<PortCall>{Rb(ED, 0x42)}));
}

TEST_F(LinkTest, WriteCartWordCosts32WritesInSppAnd13AccessesInFastEpp) {
  Use(LinkMode::SPP, 0);
  link.WriteCartWord(0xABCDEF, 0x1234);
  EXPECT_EQ(rec.calls.size(), 32u);
  EXPECT_EQ(rec.calls, Cat({SppAddress(2),
                            SppData(0xAB),
                            SppAddress(1),
                            SppData(0xCD),
                            SppAddress(0),
                            SppData(0xEF),
                            {Wb(C, 1)},
                            SppAddress(3),
                            SppData(0x34),
                            SppData(0x12)}));

  Use(LinkMode::EPP, 0);
  link.WriteCartWord(0xABCDEF, 0x1234);
  EXPECT_EQ(rec.calls.size(), 13u);
  EXPECT_EQ(rec.calls.back(), Ww(ED, 0x1234));
}

TEST_F(LinkTest, AccessModesFollowLinkMode) {
  Use(LinkMode::SPP, 0);
  link.SetSaveAccessMode();
  EXPECT_EQ(rec.calls, Cat({SppAddress(4), SppData(0xC3)}));
  Use(LinkMode::EPP, 0);
  link.SetRomAccessMode();
  EXPECT_EQ(rec.calls, Cat({EppAddress(4), {Wb(ED, 0x07)}}));
  Use(LinkMode::EPP, 0);
  link.PrepareLink();
  EXPECT_EQ(rec.calls, Cat({{Wb(S, 1)}, EppAddress(4), {Wb(ED, 0x07)}}));
  Use(LinkMode::SPP, 0);
  link.ReleaseLink();
  EXPECT_EQ(rec.calls, (std::vector<PortCall>{Wb(C, 4)}));
}

TEST(PortSelectionTest, PortIndexGivesTheFiveAddresses) {
  testing::FakeWindow window;
  Core core(window);
  window.portSel = 2;
  core.SelectPortAddresses();
  EXPECT_EQ(core.link.DataPort, 0x3BC);
  EXPECT_EQ(core.link.StatusPort, 0x3BD);
  EXPECT_EQ(core.link.ControlPort, 0x3BE);
  EXPECT_EQ(core.link.EppAddressPort, 0x3BF);
  EXPECT_EQ(core.link.EppDataPort, 0x3C0);
  window.portSel = 1;
  core.SelectPortAddresses();
  EXPECT_EQ(core.link.DataPort, 0x278);
  window.portSel = -1;  // no item selected
  core.SelectPortAddresses();
  EXPECT_EQ(core.link.DataPort, 0x378);
}

}  // namespace
}  // namespace brevomat
