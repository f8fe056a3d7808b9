// Every single fault of the cable and the port that the virtual adapter models, with what a
// correct diagnosis says: the line, its pin and the kind of fault, and the fastest speed that still
// works (the Speed group's item index, -1 for none). A stuck status line spoils only nibble reads,
// so EPP at speed "4" still works; BUSY carries nothing the link reads.
#pragma once

#include <string>
#include <vector>

#include "link/WireTest.h"
#include "sim/VirtualAdapter.h"

namespace brevomat::testing {

struct CableFaultRow {
  std::string name;
  sim::CableFaults cable;
  std::vector<LineFault> faults;
  int fastest;
};

inline std::vector<CableFaultRow> CableFaultRows() {
  std::vector<CableFaultRow> rows;
  for (int bit = 0; bit < 8; ++bit) {
    const std::string line = "D" + std::to_string(bit);
    const auto mask = static_cast<std::uint8_t>(1u << bit);
    rows.push_back({line + " low", {.dataLow = mask}, {{line, bit + 2, "stuck-low", ""}}, -1});
    rows.push_back({line + " high", {.dataHigh = mask}, {{line, bit + 2, "stuck-high", ""}}, -1});
  }
  rows.push_back({"D4,D5 shorted", {.shorted = 0x30}, {{"D4", 6, "shorted", "D5"}}, -1});
  rows.push_back({"D0,D7 shorted", {.shorted = 0x81}, {{"D0", 2, "shorted", "D7"}}, -1});
  const struct {
    const char* line;
    int pin, bit;
  } status[] = {{"ERROR", 15, 3}, {"SELECT", 13, 4}, {"PAPEREND", 12, 5}, {"ACK", 10, 6}};
  for (const auto& s : status) {
    const auto mask = static_cast<std::uint8_t>(1u << s.bit);
    rows.push_back(
        {std::string(s.line) + " low", {.statusLow = mask}, {{s.line, s.pin, "stuck-low", ""}}, 0});
    rows.push_back(
        {std::string(s.line) + " high", {.statusHigh = mask}, {{s.line, s.pin, "stuck-high", ""}}, 0});
  }
  rows.push_back({"BUSY low", {.statusLow = 0x80}, {}, 0});
  const struct {
    const char* line;
    int pin, bit, fastestLow, fastestHigh;
  } controls[] = {{"STROBE", 1, 0, -1, -1},
                  {"AUTOFD", 14, 1, -1, -1},
                  {"INIT", 16, 2, 0, -1},
                  {"SELECTIN", 17, 3, -1, -1}};
  for (const auto& c : controls) {
    const auto mask = static_cast<std::uint8_t>(1u << c.bit);
    rows.push_back({std::string(c.line) + " low",
                    {.controlLow = mask},
                    {{c.line, c.pin, "stuck-low", ""}},
                    c.fastestLow});
    rows.push_back({std::string(c.line) + " high",
                    {.controlHigh = mask},
                    {{c.line, c.pin, "stuck-high", ""}},
                    c.fastestHigh});
  }
  // A port without EPP: every speed falls back to SPP cycles, which work.
  rows.push_back({"SPP-only port", {.port = sim::PortKind::SppOnly}, {}, 0});
  rows.push_back({"ECP port in PS/2 mode", {.port = sim::PortKind::EcpPs2}, {}, 0});
  return rows;
}

}  // namespace brevomat::testing
