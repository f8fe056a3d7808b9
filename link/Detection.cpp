#include "link/Detection.h"

#include "base/Operation.h"
#include "link/Link.h"

namespace brevomat {

namespace {

struct Pattern {
  std::uint8_t reg2, reg1, reg0;
};
constexpr Pattern kPatterns[2] = {{0x12, 0x34, 0x56}, {0xFE, 0xDC, 0xBA}};

// Reads registers 2, 1, 0 back; stops at the first wrong one.
bool ReadBackMatches(Link& link, const Pattern& p) {
  const std::uint8_t expected[3] = {p.reg2, p.reg1, p.reg0};
  for (int i = 0; i < 3; ++i) {
    link.SelectAdapterRegister(static_cast<std::uint8_t>(2 - i));
    link.WriteControl(control::kReadLevel);
    if (link.ReadAdapterByte() != expected[i]) return false;
  }
  return true;
}

}  // namespace

bool TestAdapterPattern(Link& link) {
  link.PrepareLink();
  for (const Pattern& p : kPatterns) {
    link.WriteAdapterRegister(2, p.reg2);
    link.WriteAdapterRegister(1, p.reg1);
    link.WriteAdapterRegister(0, p.reg0);
    if (!ReadBackMatches(link, p)) return false;
  }
  link.ReleaseLink();
  return true;
}

bool ChooseLinkMode(Link& link) {
  link.Mode = LinkMode::SPP;
  bool sppCycleOk = TestAdapterPattern(link);
  // EPP is never tried on LPT3: the 0x3BC port of old display adapters has no EPP registers.
  if (sppCycleOk && link.DataPort == static_cast<std::int32_t>(kLpt3Base)) return true;
  link.Mode = LinkMode::EPP;
  if (TestAdapterPattern(link)) return true;
  if (sppCycleOk) {
    link.Mode = LinkMode::SPP;
    link.ReleaseLink();
    return true;
  }
  return false;
}

bool DetectAdapter(Link& link, OperationFrame& frame, int speedIndex) {
  link.SpeedSetting = static_cast<std::int8_t>(speedIndex);
  if (!ChooseLinkMode(link)) {
    frame.LogLine("No Adaptor Found!");
    return false;
  }
  if (link.Mode == LinkMode::SPP) {
    frame.LogLine("PortMode = SPP");
  } else {
    frame.LogLine("PortMode = EPP");
    // Speed "1": the adapter answered in EPP, but every later cycle is a software SPP cycle.
    if (link.SpeedSetting == 3) link.Mode = LinkMode::SPP;
  }
  link.PrepareLink();
  return true;
}

}  // namespace brevomat
