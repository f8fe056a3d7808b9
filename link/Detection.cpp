#include "link/Detection.h"

#include "shell/Core.h"

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

bool TestAdapterPattern(Core& core) {
  Link& link = core.link;
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

bool ChooseLinkMode(Core& core) {
  Link& link = core.link;
  link.Mode = LinkMode::SPP;
  bool sppCycleOk = TestAdapterPattern(core);
  // EPP is never tried on LPT3: the 0x3BC port of old display adapters has no EPP registers.
  if (sppCycleOk && link.DataPort == static_cast<std::int32_t>(kLpt3Base)) return true;
  link.Mode = LinkMode::EPP;
  if (TestAdapterPattern(core)) return true;
  if (sppCycleOk) {
    link.Mode = LinkMode::SPP;
    link.ReleaseLink();
    return true;
  }
  return false;
}

bool DetectAdapter(Core& core) {
  core.cart.LastErasedBlock = -1;
  core.link.SpeedSetting = static_cast<std::int8_t>(core.window().RadioSpeedIndex());
  if (!ChooseLinkMode(core)) {
    core.frame.LogLine("No Adaptor Found!");
    return false;
  }
  if (core.link.Mode == LinkMode::SPP) {
    core.frame.LogLine("PortMode = SPP");
  } else {
    core.frame.LogLine("PortMode = EPP");
    // Speed "1": the adapter answered in EPP, but every later cycle is a software SPP cycle.
    if (core.link.SpeedSetting == 3) core.link.Mode = LinkMode::SPP;
  }
  core.link.PrepareLink();
  return true;
}

}  // namespace brevomat
