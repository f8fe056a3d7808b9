#include "commands/Doctor.h"

#include <cstdio>
#include <fstream>
#include <iterator>

#include "cart/Flash.h"
#include "cart/SaveMemory.h"
#include "commands/Captions.h"
#include "commands/Commands.h"
#include "commands/Core.h"
#include "image/CartHeader.h"
#include "link/Detection.h"
#include "link/Link.h"
#include "port/ParportDevice.h"

namespace brevomat {

namespace {

constexpr const char* kCableAdvice =
    "check the cable and its plugs at both ends: use a straight-through IEEE 1284 cable, look for a bent or "
    "pushed-in pin, and try another cable";

std::string Hex(unsigned value, int digits) {
  char text[12];
  std::snprintf(text, sizeof text, "0x%0*X", digits, value);
  return text;
}

void AddAdvice(DoctorReport& r, const std::string& text) {
  for (const std::string& a : r.advice)
    if (a == text) return;
  r.advice.push_back(text);
}

DoctorCheck& Add(DoctorReport& r, const char* name, CheckResult result, std::string detail) {
  r.checks.push_back({name, result, std::move(detail)});
  return r.checks.back();
}

// The ECR's mode field, and whether it gives EPP.
const char* EcrModeName(unsigned mode, bool& epp) {
  static const char* const kNames[8] = {
      "standard (SPP)", "bidirectional (PS/2)", "parallel FIFO", "ECP", "EPP", "reserved",
      "test",           "configuration"};
  epp = mode == 4;
  return kNames[mode & 7];
}

// The kernel's modes of the port at `base` ("PCSPP,TRISTATE,EPP"), or empty.
std::string KernelModes(const std::string& root, std::int32_t base) {
#ifdef _WIN32
  (void)root, (void)base;
  return {};
#else
  for (const ParportInfo& port : FindParports(root)) {
    if (port.base != base) continue;
    std::ifstream in(std::filesystem::path(root) / "proc/sys/dev/parport" / port.name / "modes");
    std::string modes;
    if (in && std::getline(in, modes)) return port.name + ": " + modes;
  }
  return {};
#endif
}

void CheckPort(Core& core, const DoctorSetup& setup, DoctorReport& r) {
  Link& link = core.link;
  if (link.DataPort == static_cast<std::int32_t>(kLpt3Base)) {
    Add(r, "port", CheckResult::Ok, "LPT3 at 0x3BC: SPP only, EPP is never tried there");
    return;
  }
  std::string detail;
  bool noEpp = false;
  if (setup.ecrReachable) {
    const std::uint8_t ecr = link.Io().PortReadByte(static_cast<std::uint32_t>(link.DataPort) + 0x402);
    if (ecr == 0xFF) {
      detail = "no extended control register at base+0x402 (not an ECP port)";
    } else {
      bool epp = false;
      const char* name = EcrModeName(ecr >> 5, epp);
      detail = "ECP port, ECR " + Hex(ecr, 2) + ": mode " + name + (epp ? ", EPP available" : ", no EPP");
      noEpp = !epp;
    }
  } else {
    detail = "the extended control register at base+0x402 cannot be reached through this back end";
  }
  if (!setup.kernelRoot.empty()) {
    const std::string modes = KernelModes(setup.kernelRoot, link.DataPort);
    if (modes.empty()) {
      detail += "; the kernel does not describe this port";
    } else {
      detail += "; kernel " + modes;
      if (modes.find("EPP") == std::string::npos) noEpp = true;
    }
  }
  Add(r, "port", noEpp ? CheckResult::Fault : CheckResult::Ok, detail);
  if (noEpp)
    AddAdvice(r,
              "set the printer port to EPP (or ECP+EPP, EPP 1.9) in the BIOS setup; in its present mode only "
              "the slow SPP cycles work");
}

struct Detections {
  bool spp = false;
  bool eppFast = false;  // EPP test with EPP writes (speeds "4", "3")
  bool eppSlow = false;  // EPP test with SPP writes (speeds "2", "1")
};

Detections Detect(Link& link) {
  Detections d;
  link.Mode = LinkMode::SPP;
  link.SpeedSetting = 0;
  d.spp = TestAdapterPattern(link);
  if (link.DataPort != static_cast<std::int32_t>(kLpt3Base)) {
    link.Mode = LinkMode::EPP;
    d.eppFast = TestAdapterPattern(link);
    link.SpeedSetting = 2;
    d.eppSlow = TestAdapterPattern(link);
  }
  link.ReleaseLink();
  return d;
}

// Detection as every command runs it. An adapter found only in SPP works, at SPP's pace: on any
// port but LPT3 that is a fault to be fixed, most often the port's mode in the BIOS.
void CheckAdapter(const Detections& d, bool lpt3, DoctorReport& r) {
  std::string detail = std::string("detection in SPP ") + (d.spp ? "answers" : "gets no answer");
  if (lpt3) {
    detail += ", EPP is not tried on LPT3";
  } else {
    detail += std::string(", in EPP ") + (d.eppFast && d.eppSlow ? "answers"
                                          : d.eppFast            ? "answers with EPP writes only"
                                          : d.eppSlow            ? "answers with SPP writes only"
                                                                 : "gets no answer");
  }
  const bool found = d.spp || d.eppFast || d.eppSlow;
  const bool eppMissing = !lpt3 && d.spp && !d.eppFast && !d.eppSlow;
  Add(r, "adapter", found && !eppMissing ? CheckResult::Ok : CheckResult::Fault, detail);
  if (eppMissing)
    AddAdvice(r,
              "the adapter answers only in SPP: set the printer port to EPP (or ECP+EPP) in the BIOS setup; "
              "until then every speed runs the slow SPP cycles");
}

void CheckWires(const WireVerdict& v, DoctorReport& r) {
  std::string passing, failing;
  for (int p = 0; p < kWirePathCount; ++p) {
    std::string& list = v.pathOk[p] ? passing : failing;
    list += (list.empty() ? "" : ", ") + std::string(WirePathName(static_cast<WirePath>(p)));
  }
  if (!v.faults.empty()) {
    std::string names;
    for (const LineFault& f : v.faults) names += (names.empty() ? "" : "; ") + DescribeFault(f);
    Add(r, "wires", CheckResult::Fault, names + (failing.empty() ? "" : " (fails: " + failing + ")"));
    r.faults = v.faults;
    AddAdvice(r, kCableAdvice);
    return;
  }
  if (v.noAnswer) {
    Add(r, "wires", CheckResult::Fault, "no cycle type gets an answer from the adapter");
    AddAdvice(r,
              "the adapter does not answer: check that it is powered, that the cable is plugged in at both "
              "ends, that the cart is seated, and that --port or --base names the port it is on");
    return;
  }
  if (v.unexplained) {
    Add(r, "wires", CheckResult::Fault, "read-backs wrong in " + failing + ", not explained by one line");
    AddAdvice(r, kCableAdvice);
    return;
  }
  Add(r, "wires", CheckResult::Ok,
      "every pattern reads back through " + passing +
          (failing.empty() ? "" : "; no EPP answer in " + failing));
}

// Whether `speed` runs EPP cycles after detection (speed "1" never does).
bool EppCyclesAt(int speed, const Detections& d, bool lpt3) {
  return !lpt3 && (speed <= 1 ? d.eppFast : d.eppSlow) && speed != 3;
}

// Which speeds work: the cycle types each speed would use after detection, every one passing.
bool SpeedWorks(int speed, const Detections& d, const WireVerdict& v, bool lpt3) {
  const bool epp = !lpt3 && (speed <= 1 ? d.eppFast : d.eppSlow);
  const auto ok = [&v](WirePath p) { return v.pathOk[static_cast<int>(p)]; };
  if (epp) {
    switch (speed) {
      case 0:
        return ok(WirePath::EppByte) && ok(WirePath::EppWord);
      case 1:
        return ok(WirePath::EppByte);
      case 2:
        return ok(WirePath::Mixed);
      default:
        return ok(WirePath::Spp);
    }
  }
  return d.spp && ok(WirePath::Spp);
}

void CheckSpeeds(const Detections& d, const WireVerdict& v, bool lpt3, DoctorReport& r) {
  std::string passing;
  for (int speed = 0; speed < 4; ++speed) {
    if (!SpeedWorks(speed, d, v, lpt3)) continue;
    passing += (passing.empty() ? "" : " ") + std::string(SpeedCaption(speed));
    if (r.fastestSpeed < 0) r.fastestSpeed = speed;
  }
  if (r.fastestSpeed < 0) {
    Add(r, "speed", CheckResult::Fault, "no speed works");
    return;
  }
  const bool eppAtFastest = EppCyclesAt(r.fastestSpeed, d, lpt3);
  Add(r, "speed", r.fastestSpeed == 0 ? CheckResult::Ok : CheckResult::Fault,
      "speeds that work: " + passing + "; the fastest is " + SpeedCaption(r.fastestSpeed) +
          (eppAtFastest ? " (EPP)" : " (SPP cycles)"));
  if (r.fastestSpeed > 0)
    AddAdvice(r, std::string("choose speed ") + SpeedCaption(r.fastestSpeed) + " (--speed " +
                     SpeedCaption(r.fastestSpeed) + ", or the window's Speed group)");
}

std::string HeaderText(const TransferBuffer& b, std::uint32_t offset, std::uint32_t length) {
  std::string text;
  for (std::uint32_t i = 0; i < length; ++i) {
    const std::uint8_t c = b.data()[offset + i];
    if (c == 0) break;
    text += c >= 0x20 && c < 0x7F ? static_cast<char>(c) : '?';
  }
  return text;
}

void CheckCart(Core& core, const Detections& d, DoctorReport& r) {
  if (r.fastestSpeed < 0) {
    Add(r, "cart", CheckResult::Skipped, "the adapter must answer at some speed first");
    return;
  }
  Link& link = core.link;
  OperationFrame& frame = core.frame;
  const bool lpt3 = link.DataPort == static_cast<std::int32_t>(kLpt3Base);
  link.SpeedSetting = static_cast<std::int8_t>(r.fastestSpeed);
  const bool epp = EppCyclesAt(r.fastestSpeed, d, lpt3);
  link.Mode = epp ? LinkMode::EPP : LinkMode::SPP;
  link.PrepareLink();
  std::string detail;
  const bool flash = IdentifyFlash(link, frame, core.cart);
  detail = flash ? "flash " + std::to_string(core.cart.FlashSize >> 20) + " MB (query answered)"
                 : "no flash chip answers the query";
  ReadHeaderWords(link, frame.Buffer);
  const TransferBuffer& b = frame.Buffer;
  bool logo = true;
  for (std::size_t i = 0; i < HeaderLogo.size(); ++i)
    if (b.data()[kHeaderLogoOffset + i] != HeaderLogo[i]) logo = false;
  if (logo)
    detail += ", header \"" + HeaderText(b, kHeaderTitleOffset, 12) + "\" code " +
              HeaderText(b, kHeaderCodeOffset, 4);
  else
    detail += ", no game header";
  const bool save = ReadSaveUnit(link, frame.Buffer, 0) == kResultDone;
  detail += save ? ", save memory reads the same twice" : ", save memory absent or unstable";
  link.SetRomAccessMode();
  link.ReleaseLink();
  // An erased flash cart has no header; a game cart has no flash chip. Neither answering means
  // no cart, or one that is not seated.
  const bool seated = flash || logo;
  Add(r, "cart", seated ? CheckResult::Ok : CheckResult::Fault, detail);
  if (!seated)
    AddAdvice(r,
              "push the cart fully into the adapter's slot (label facing as the adapter shows) and clean its "
              "contacts");
}

}  // namespace

const char* CheckResultText(CheckResult result) {
  switch (result) {
    case CheckResult::Ok:
      return "ok";
    case CheckResult::Fault:
      return "FAULT";
    case CheckResult::Skipped:
      break;
  }
  return "skipped";
}

bool DoctorReport::Passed() const {
  for (const DoctorCheck& c : checks)
    if (c.result != CheckResult::Ok) return false;
  return !checks.empty();
}

std::string DoctorLine(const DoctorCheck& check) {
  return check.name + ": " + CheckResultText(check.result) + " - " + check.detail;
}

const char* SpeedCaption(int speedIndex) {
  return speedIndex >= 0 && speedIndex < static_cast<int>(std::size(kSpeedItems)) ? kSpeedItems[speedIndex]
                                                                                  : "";
}

DoctorReport RunDoctor(Core& core, const DoctorSetup& setup) {
  OperationFrame& frame = core.frame;
  core.CommandSeparator();
  frame.ClearOperationDisplay();
  DoctorReport r;
  if (!setup.portOpen) {
    // The advice's first line says what failed; the rest is what to do.
    const std::size_t nl = setup.portAccess.find('\n');
    Add(r, "port-access", CheckResult::Fault, setup.portAccess.substr(0, nl));
    for (std::size_t at = nl; at != std::string::npos;) {
      const std::size_t next = setup.portAccess.find('\n', at + 1);
      AddAdvice(r, setup.portAccess.substr(at + 1, next == std::string::npos ? next : next - at - 1));
      at = next;
    }
    for (const char* name : {"port", "adapter", "wires", "cart", "speed"})
      Add(r, name, CheckResult::Skipped, "the port cannot be reached");
  } else {
    Add(r, "port-access", CheckResult::Ok, setup.portAccess);
    CheckPort(core, setup, r);
    const bool lpt3 = core.link.DataPort == static_cast<std::int32_t>(kLpt3Base);
    const Detections d = Detect(core.link);
    CheckAdapter(d, lpt3, r);
    const WireVerdict wires = DecodeWires(RunWireTest(core.link));
    CheckWires(wires, r);
    CheckSpeeds(d, wires, lpt3, r);
    // Speed comes last in the report, after the cart it made possible.
    DoctorCheck speed = r.checks.back();
    r.checks.pop_back();
    CheckCart(core, d, r);
    if (r.fastestSpeed >= 0 && setup.speedFigures) {
      const bool epp = EppCyclesAt(r.fastestSpeed, d, lpt3);
      speed.detail += "; " + setup.speedFigures(r.fastestSpeed, epp);
    }
    r.checks.push_back(speed);
  }
  for (const std::string& line : DoctorReportLines(r)) frame.LogLine(line);
  frame.SetStatus(r.Passed() ? "Doctor Ok" : "Error!!!");
  return r;
}

std::vector<std::string> DoctorReportLines(const DoctorReport& report) {
  std::vector<std::string> lines;
  int failed = 0;
  for (const DoctorCheck& c : report.checks) {
    lines.push_back(DoctorLine(c));
    failed += c.result == CheckResult::Fault ? 1 : 0;
  }
  lines.push_back(report.Passed() ? std::string("verdict: all is well")
                                  : "verdict: " + std::to_string(failed) +
                                        (failed == 1 ? " check" : " checks") + " failed");
  for (const std::string& a : report.advice) lines.push_back("advice: " + a);
  return lines;
}

}  // namespace brevomat
