// The virtual adapter driven by the real link.
#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <string>
#include <tuple>
#include <vector>

#include "SimRig.h"
#include "sim/RamCart.h"

namespace brevomat::sim {
namespace {

using testing::LinkRig;

struct LinkCase {
  LinkMode mode;
  std::int8_t speed;
};

std::string CaseName(const ::testing::TestParamInfo<LinkCase>& info) {
  return std::string(info.param.mode == LinkMode::SPP ? "Spp" : "Epp") + "Speed" +
         std::to_string(info.param.speed);
}

class AdapterRoundTrip : public ::testing::TestWithParam<LinkCase> {
 protected:
  RamCart cart;
  LinkRig rig{cart};
};

TEST_P(AdapterRoundTrip, WordsWrittenAtACartAddressReadBackEqual) {
  rig.Use(GetParam().mode, GetParam().speed);
  EXPECT_EQ(rig.adapter.Register(4), GetParam().mode == LinkMode::SPP ? 0x47 : 0x07);
  const std::uint32_t base = 0x05AB00;
  rig.link.SetCartAddress(base);
  rig.link.SelectAdapterRegister(3);
  for (std::uint32_t k = 0; k < 256; ++k)
    rig.link.WriteDataWord(static_cast<std::uint16_t>(k * 0x0101 ^ 0x5AA5));
  // Only register 0 counts; after 256 words it has wrapped and the upper registers are untouched.
  EXPECT_EQ(rig.adapter.Register(0), 0x00);
  EXPECT_EQ(rig.adapter.Register(1), 0xAB);
  EXPECT_EQ(rig.adapter.Register(2), 0x05);

  rig.link.SetCartAddress(base);
  rig.link.SelectAdapterRegister(3);
  rig.link.WriteControl(0);
  for (std::uint32_t k = 0; k < 256; ++k) {
    const auto expected = static_cast<std::uint16_t>(k * 0x0101 ^ 0x5AA5);
    ASSERT_EQ(cart.Word(base + k), expected) << k;
    ASSERT_EQ(rig.link.ReadCartWord(), expected) << k;
  }
  EXPECT_EQ(cart.RomWrites(), 256u);
  EXPECT_EQ(cart.RomReads(), 256u);
  EXPECT_EQ(rig.adapter.counters().violations, 0u);
}

TEST_P(AdapterRoundTrip, SaveBytesReadBackEqual) {
  rig.Use(GetParam().mode, GetParam().speed);
  rig.link.SetSaveAccessMode();
  EXPECT_EQ(rig.adapter.Register(4), GetParam().mode == LinkMode::SPP ? 0xC3 : 0x83);
  auto load = [&] {
    rig.link.WriteAdapterRegister(0, 0x00);
    rig.link.WriteAdapterRegister(1, 0x85);
    rig.link.WriteAdapterRegister(2, 0x00);
    rig.link.SelectAdapterRegister(3);
  };
  load();
  rig.link.WriteControl(1);
  for (int k = 0; k < 256; ++k) rig.link.WriteAdapterData(static_cast<std::uint8_t>(255 - k));
  load();
  rig.link.WriteControl(0);
  for (int k = 0; k < 256; ++k) {
    ASSERT_EQ(cart.SaveByte(static_cast<std::uint16_t>(0x8500 + k)), 255 - k) << k;
    ASSERT_EQ(rig.link.ReadAdapterByte(), 255 - k) << k;
  }
  EXPECT_EQ(cart.SaveWrites(), 256u);
  EXPECT_EQ(cart.RomWrites(), 0u);
  EXPECT_EQ(rig.adapter.counters().violations, 0u);
}

// Speed 3 ("1") is the SPP link once detection has run; speed 2 mixes SPP writes with EPP reads.
INSTANTIATE_TEST_SUITE_P(AllLinks, AdapterRoundTrip,
                         ::testing::Values(LinkCase{LinkMode::SPP, 0}, LinkCase{LinkMode::SPP, 3},
                                           LinkCase{LinkMode::EPP, 0}, LinkCase{LinkMode::EPP, 1},
                                           LinkCase{LinkMode::EPP, 2}),
                         CaseName);

TEST(Adapter, WordRunStartingMidPageWrapsWithinThePage) {
  RamCart cart;
  LinkRig rig(cart);
  rig.Use(LinkMode::EPP, 0);
  rig.link.SetCartAddress(0x0012F0);
  rig.link.SelectAdapterRegister(3);
  for (int k = 0; k < 32; ++k) rig.link.WriteDataWord(static_cast<std::uint16_t>(0x1000 + k));
  EXPECT_EQ(cart.Word(0x0012F0), 0x1000);
  EXPECT_EQ(cart.Word(0x0012FF), 0x100F);
  EXPECT_EQ(cart.Word(0x001200), 0x1010);  // wrapped: register 1 did not count
  EXPECT_EQ(cart.Word(0x001300), 0x0000);
}

TEST(Adapter, PortAccessCountsAndClockOfACartWordWrite) {
  RamCart cart;
  LinkRig spp(cart);
  spp.Use(LinkMode::SPP, 0);
  spp.adapter.ResetCounters();
  std::uint64_t t0 = spp.adapter.NowNs();
  spp.link.WriteCartWord(0x123456, 0xBEEF);
  EXPECT_EQ(spp.adapter.counters().byteWrites, 32u);
  EXPECT_EQ(
      spp.adapter.counters().byteReads + spp.adapter.counters().wordReads + spp.adapter.counters().wordWrites,
      0u);
  EXPECT_EQ(spp.adapter.NowNs() - t0, 32'000u);
  EXPECT_EQ(cart.Word(0x123456), 0xBEEF);

  RamCart cart2;
  LinkRig epp(cart2, AdapterConfig{0x378, AdapterAnswers::Both, 250, {}});
  epp.Use(LinkMode::EPP, 0);
  epp.adapter.ResetCounters();
  t0 = epp.adapter.NowNs();
  epp.link.WriteCartWord(0x123456, 0xBEEF);
  EXPECT_EQ(epp.adapter.counters().byteWrites, 12u);
  EXPECT_EQ(epp.adapter.counters().wordWrites, 1u);
  EXPECT_EQ(epp.adapter.NowNs() - t0, (12u + 2u) * 250u);  // a 16-bit access is two byte cycles
  EXPECT_EQ(cart2.Word(0x123456), 0xBEEF);

  epp.link.SetCartAddress(0x123456);
  epp.link.SelectAdapterRegister(3);
  epp.link.WriteControl(0);
  epp.adapter.ResetCounters();
  EXPECT_EQ(epp.link.ReadCartWord(), 0xBEEF);
  EXPECT_EQ(epp.adapter.counters().wordReads, 1u);
  EXPECT_EQ(epp.adapter.counters().byteReads, 0u);
  EXPECT_EQ(epp.adapter.counters().violations, 0u);
}

TEST(Adapter, NibbleReadShowsJunkOutsideBits3To6) {
  RamCart cart;
  LinkRig rig(cart);
  rig.Use(LinkMode::SPP, 0);
  rig.link.WriteAdapterRegister(1, 0xA5);
  rig.link.SelectAdapterRegister(1);
  rig.link.WriteControl(0);
  rig.link.WriteControl(2);
  const std::uint8_t first = rig.io.PortReadByte(0x379);
  rig.link.WriteControl(6);
  const std::uint8_t second = rig.io.PortReadByte(0x379);
  rig.link.WriteControl(0);
  EXPECT_EQ(first & 0x87, 0x87);
  EXPECT_EQ(second & 0x87, 0x87);
  EXPECT_EQ((first >> 3) & 0x0F, 0x5);
  EXPECT_EQ((second >> 3) & 0x0F, 0xA);
  EXPECT_EQ(rig.adapter.counters().violations, 0u);
}

TEST(Adapter, OtherBasesAnswerNothing) {
  RamCart cart;
  LinkRig rig(cart, AdapterConfig{0x278, AdapterAnswers::Both, 1000, {}});
  // The link talks to LPT1 while the adapter sits on LPT2.
  rig.link.SetBase(0x378);
  rig.Use(LinkMode::EPP, 0);
  rig.link.WriteAdapterRegister(2, 0x12);
  EXPECT_EQ(rig.adapter.Register(2), 0x00);
  for (std::uint16_t p = 0x378; p <= 0x37C; ++p) EXPECT_EQ(rig.io.PortReadByte(p), 0xFF) << p;
  EXPECT_EQ(rig.io.PortReadWord(0x37C), 0xFFFF);
  rig.link.SelectAdapterRegister(2);
  rig.link.WriteControl(0);
  EXPECT_EQ(rig.link.ReadAdapterByte(), 0xFF);
  // Accesses elsewhere are still port accesses that take time.
  EXPECT_GT(rig.adapter.NowNs(), 0u);
  // On its own base it answers.
  rig.link.SetBase(0x278);
  rig.link.WriteAdapterRegister(2, 0x12);
  rig.link.SelectAdapterRegister(2);
  rig.link.WriteControl(0);
  EXPECT_EQ(rig.link.ReadAdapterByte(), 0x12);
}

// The register read-back that adapter detection runs, in one link mode.
bool PatternAnswers(LinkRig& rig, LinkMode mode, std::int8_t speed) {
  rig.Use(mode, speed);
  // Fresh values every time, so that registers left over from an earlier test prove nothing.
  static std::uint8_t serial = 0;
  serial = static_cast<std::uint8_t>(serial + 3);
  const std::uint8_t values[3] = {serial, static_cast<std::uint8_t>(serial + 1),
                                  static_cast<std::uint8_t>(serial + 2)};
  for (std::uint8_t r = 0; r < 3; ++r)
    rig.link.WriteAdapterRegister(static_cast<std::uint8_t>(2 - r), values[r]);
  for (std::uint8_t r = 0; r < 3; ++r) {
    rig.link.SelectAdapterRegister(static_cast<std::uint8_t>(2 - r));
    rig.link.WriteControl(0);
    if (rig.link.ReadAdapterByte() != values[r]) return false;
  }
  rig.link.ReleaseLink();
  return true;
}

TEST(Adapter, AnswersOnlyInTheConfiguredModes) {
  struct Expect {
    AdapterAnswers answers;
    bool spp, epp, eppSpeed2;
  };
  // Speed "2" writes with SPP cycles and reads through EPP: it needs both.
  const Expect cases[] = {{AdapterAnswers::Both, true, true, true},
                          {AdapterAnswers::SppOnly, true, false, false},
                          {AdapterAnswers::EppOnly, false, true, false},
                          {AdapterAnswers::None, false, false, false}};
  for (const Expect& e : cases) {
    RamCart cart;
    LinkRig rig(cart, AdapterConfig{0x3BC, e.answers, 1000, {}});
    EXPECT_EQ(PatternAnswers(rig, LinkMode::SPP, 0), e.spp) << int(e.answers);
    EXPECT_EQ(PatternAnswers(rig, LinkMode::EPP, 0), e.epp) << int(e.answers);
    EXPECT_EQ(PatternAnswers(rig, LinkMode::EPP, 1), e.epp) << int(e.answers);
    EXPECT_EQ(PatternAnswers(rig, LinkMode::EPP, 2), e.eppSpeed2) << int(e.answers);
    EXPECT_EQ(rig.adapter.counters().violations, 0u) << int(e.answers);
  }
}

TEST(Adapter, CountsProtocolViolations) {
  RamCart cart;
  LinkRig rig(cart);
  rig.Use(LinkMode::EPP, 0);
  auto violationsOf = [&](auto&& action) {
    rig.link.WriteControl(4);
    rig.link.WriteControl(0);
    rig.adapter.ResetCounters();
    action();
    return rig.adapter.counters().violations;
  };
  // An EPP data read at the write level.
  EXPECT_EQ(violationsOf([&] {
              rig.link.WriteControl(1);
              rig.io.PortReadByte(0x37C);
            }),
            1u);
  // A data strobe not reached from the write level.
  EXPECT_EQ(violationsOf([&] { rig.link.WriteControl(3); }), 1u);
  // An address strobe straight from the released level.
  EXPECT_EQ(violationsOf([&] {
              rig.link.WriteControl(4);
              rig.link.WriteControl(9);
            }),
            1u);
  // A control value the link never uses.
  EXPECT_EQ(violationsOf([&] { rig.link.WriteControl(0x25); }), 1u);
  // A status read outside a nibble read.
  EXPECT_EQ(violationsOf([&] { rig.io.PortReadByte(0x379); }), 1u);
  // A nibble read abandoned after the low half.
  EXPECT_EQ(violationsOf([&] {
              rig.link.WriteControl(2);
              rig.link.WriteControl(0);
            }),
            1u);
  // A nibble read that starts from the write level.
  EXPECT_EQ(violationsOf([&] {
              rig.link.WriteControl(1);
              rig.link.WriteControl(2);
            }),
            1u);
  // An EPP write at the read level.
  EXPECT_EQ(violationsOf([&] { rig.io.PortWriteByte(0x37B, 3); }), 1u);
  // A strobe that does not strobe: the data register is not written.
  rig.link.SelectAdapterRegister(1);
  rig.io.PortWriteByte(0x378, 0x77);
  rig.link.WriteControl(0);
  rig.link.WriteControl(3);
  EXPECT_NE(rig.adapter.Register(1), 0x77);
}

// Each rule broken once from power-up (control 0x04, register 0 selected), by raw port accesses.
TEST(Adapter, EveryViolationRuleIsDescribedWithItsAccess) {
  struct PortAccess {
    char kind;  // r/w: byte read/write, R/W: 16-bit read/write
    unsigned offset;
    std::uint16_t value;
  };
  struct Case {
    ProtocolRule rule;
    std::vector<PortAccess> accesses;
    std::uint64_t violations;
    const char* description;
  };
  const Case cases[] = {
      {ProtocolRule::StatusOutsideNibbleRead,
       {{'w', 2, 0x01}, {'r', 1, 0}},
       1,
       "status read outside a nibble read: read of base+1 at access #2 with control 0x01"},
      {ProtocolRule::EppReadLevel,
       {{'w', 2, 0x01}, {'R', 4, 0}},
       2,  // both byte cycles of the 16-bit read; the first one is described
       "EPP data read without the read level: 16-bit read of base+4 at access #2 with control 0x01"},
      {ProtocolRule::EppAddressWriteLevel,
       {{'w', 2, 0x00}, {'w', 3, 0x03}},
       1,
       "EPP address write without the write level: write of 0x03 to base+3 at access #2 with control 0x00"},
      {ProtocolRule::EppDataWriteLevel,
       {{'w', 2, 0x00}, {'W', 4, 0xBEEF}},
       2,
       "EPP data write without the write level: 16-bit write of 0xBEEF to base+4 at access #2 with control "
       "0x00"},
      {ProtocolRule::UnknownControlValue,
       {{'w', 2, 0x25}},
       1,
       "control value the link never drives: write of 0x25 to base+2 at access #1 with control 0x04"},
      {ProtocolRule::NibbleReadInterrupted,
       {{'w', 2, 0x00}, {'w', 2, 0x02}, {'w', 2, 0x00}},
       1,
       "nibble read left unfinished: write of 0x00 to base+2 at access #3 with control 0x02"},
      {ProtocolRule::StrobeNotFromWriteLevel,
       {{'w', 2, 0x09}},
       1,
       "SPP strobe not from the write level: write of 0x09 to base+2 at access #1 with control 0x04"},
      {ProtocolRule::NibbleNotFromReadLevel,
       {{'w', 2, 0x01}, {'w', 2, 0x02}},
       1,
       "nibble read not started from the read level: write of 0x02 to base+2 at access #2 with control 0x01"},
      {ProtocolRule::HighNibbleFirst,
       {{'w', 2, 0x00}, {'w', 2, 0x06}},
       1,
       "high nibble without the low nibble before it: write of 0x06 to base+2 at access #2 with control "
       "0x00"},
      {ProtocolRule::WriteAfterReadHalf,
       {{'w', 2, 0x01}, {'w', 3, 0x03}, {'w', 2, 0x00}, {'r', 4, 0}, {'w', 2, 0x01}, {'w', 4, 0x12}},
       1,
       "cart word write after the low half of a read: write of 0x12 to base+4 at access #6 with control "
       "0x01"},
      {ProtocolRule::ReadAfterWriteHalf,
       {{'w', 2, 0x01}, {'w', 3, 0x03}, {'w', 4, 0x34}, {'w', 2, 0x00}, {'r', 4, 0}},
       1,
       "cart word read after the low half of a write: read of base+4 at access #5 with control 0x00"},
  };
  ASSERT_EQ(std::size(cases), static_cast<std::size_t>(kProtocolRuleCount));
  for (const Case& c : cases) {
    EXPECT_EQ(
        std::count_if(std::begin(cases), std::end(cases), [&](const Case& o) { return o.rule == c.rule; }),
        1);
    RamCart cart;
    VirtualAdapter adapter(AdapterConfig{}, cart);
    for (const PortAccess& a : c.accesses) {
      const auto port = static_cast<std::uint16_t>(0x378 + a.offset);
      if (a.kind == 'r') adapter.ReadByte(port);
      if (a.kind == 'w') adapter.WriteByte(port, static_cast<std::uint8_t>(a.value));
      if (a.kind == 'R') adapter.ReadWord(port);
      if (a.kind == 'W') adapter.WriteWord(port, a.value);
    }
    EXPECT_EQ(adapter.counters().violations, c.violations) << c.description;
    EXPECT_EQ(adapter.FirstViolation(), c.description);
    adapter.ResetCounters();
    EXPECT_EQ(adapter.FirstViolation(), "");
  }
}

TEST(Adapter, DetectionStyleSwitchBetweenSppAndEppRunsClean) {
  RamCart cart;
  LinkRig rig(cart);
  ASSERT_TRUE(PatternAnswers(rig, LinkMode::SPP, 3));
  ASSERT_TRUE(PatternAnswers(rig, LinkMode::EPP, 3));
  rig.link.Mode = LinkMode::SPP;  // speed "1": the EPP test passed, the link continues in SPP
  rig.link.PrepareLink();
  EXPECT_EQ(rig.adapter.Register(4), 0x47);
  EXPECT_EQ(rig.adapter.counters().violations, 0u);
}

}  // namespace
}  // namespace brevomat::sim
