// The wire decoder on observations made by hand: what the read-backs look like when one line is
// at fault, and the line it must name.
#include <gtest/gtest.h>

#include <functional>

#include "link/WireTest.h"

namespace brevomat {
namespace {

// Every read-back as written: a healthy cable on an EPP port.
WireObservation Healthy() {
  WireObservation o;
  const std::uint8_t control[6] = {0, 1, 2, 4, 6, 9};
  for (int i = 0; i < 6; ++i) o.controlWritten[i] = o.controlRead[i] = control[i];
  for (int p = 0; p < kWirePatterns; ++p) {
    o.dataRead[p] = WirePattern(p);
    for (int path = 0; path < kWirePathCount; ++path)
      for (int reg = 0; reg < 3; ++reg) o.read[path][p][reg] = WireValue(p, reg);
  }
  return o;
}

void ForEachRead(WireObservation& o, int path, const std::function<std::uint8_t(std::uint8_t, int, int)>& f) {
  for (int p = 0; p < kWirePatterns; ++p)
    for (int reg = 0; reg < 3; ++reg) o.read[path][p][reg] = f(o.read[path][p][reg], p, reg);
}

void NothingAnswers(WireObservation& o) {
  for (int path = 0; path < kWirePathCount; ++path)
    ForEachRead(o, path, [](std::uint8_t, int, int) { return 0xFF; });
}

TEST(WireDecode, EachSignatureNamesItsLine) {
  constexpr int kSpp = static_cast<int>(WirePath::Spp);
  const struct {
    const char* name;
    std::function<void(WireObservation&)> fault;
    std::vector<LineFault> faults;
    bool noAnswer, unexplained;
  } rows[] = {
      {"healthy", [](WireObservation&) {}, {}, false, false},
      {"ACK high: nibble bits 3 and 7 set",
       [](WireObservation& o) { ForEachRead(o, kSpp, [](std::uint8_t v, int, int) { return v | 0x88; }); },
       {{"ACK", 10, "stuck-high", ""}},
       false,
       false},
      {"ERROR low: nibble bits 0 and 4 clear",
       [](WireObservation& o) { ForEachRead(o, kSpp, [](std::uint8_t v, int, int) { return v & 0xEE; }); },
       {{"ERROR", 15, "stuck-low", ""}},
       false,
       false},
      {"D3 low everywhere",
       [](WireObservation& o) {
         for (int path = 0; path < kWirePathCount; ++path)
           ForEachRead(o, path, [](std::uint8_t v, int, int) { return v & 0xF7; });
       },
       {{"D3", 5, "stuck-low", ""}},
       false,
       false},
      {"D4 and D5 show each other's AND on the data pins",
       [](WireObservation& o) {
         NothingAnswers(o);
         for (int p = 0; p < kWirePatterns; ++p)
           if ((o.dataRead[p] & 0x30) != 0x30) o.dataRead[p] &= 0xCF;
       },
       {{"D4", 6, "shorted", "D5"}},
       false,
       false},
      {"SELECTIN's pin stays high: control bit 3 reads 0",
       [](WireObservation& o) {
         NothingAnswers(o);
         for (std::uint8_t& c : o.controlRead) c &= 0x07;
       },
       {{"SELECTIN", 17, "stuck-high", ""}},
       false,
       false},
      {"INIT low: the low nibble twice",
       [](WireObservation& o) {
         ForEachRead(o, kSpp,
                     [](std::uint8_t v, int, int) { return static_cast<std::uint8_t>((v & 0x0F) * 0x11); });
       },
       {{"INIT", 16, "stuck-low", ""}},
       false,
       false},
      {"nothing answers", NothingAnswers, {}, true, false},
      {"no port at all: every register reads 0xFF",
       [](WireObservation& o) {
         NothingAnswers(o);
         for (std::uint8_t& c : o.controlRead) c = 0x0F;
         for (std::uint8_t& d : o.dataRead) d = 0xFF;
       },
       {},
       true,
       false},
      {"a port without EPP: only the SPP path answers",
       [](WireObservation& o) {
         for (int path = 1; path < kWirePathCount; ++path)
           ForEachRead(o, path, [](std::uint8_t, int, int) { return 0xFF; });
       },
       {},
       false,
       false},
      {"SPP reads scrambled beyond one line",
       [](WireObservation& o) {
         ForEachRead(o, kSpp, [](std::uint8_t v, int p, int reg) {
           return static_cast<std::uint8_t>(v ^ (p * 7 + reg));
         });
       },
       {},
       false,
       true},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    WireObservation o = Healthy();
    row.fault(o);
    const WireVerdict v = DecodeWires(o);
    EXPECT_EQ(v.faults, row.faults);
    EXPECT_EQ(v.noAnswer, row.noAnswer);
    EXPECT_EQ(v.unexplained, row.unexplained);
  }
}

TEST(WireDecode, FaultsAreDescribedByLineAndPin) {
  EXPECT_EQ(DescribeFault({"D3", 5, "stuck-low", ""}), "D3 (pin 5) stuck low");
  EXPECT_EQ(DescribeFault({"ACK", 10, "stuck-high", ""}), "ACK (pin 10) stuck high");
  EXPECT_EQ(DescribeFault({"D4", 6, "shorted", "D5"}), "D4 (pin 6) and D5 (pin 7) shorted");
}

}  // namespace
}  // namespace brevomat
