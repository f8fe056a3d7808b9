#include "cli/Probe.h"

#include <cstdio>
#include <string>
#include <tuple>

#include "base/Operation.h"
#include "cart/CartState.h"
#include "cart/Erase.h"
#include "cart/Flash.h"
#include "cart/Program.h"
#include "cart/SaveMemory.h"
#include "commands/Captions.h"
#include "commands/Core.h"
#include "link/Detection.h"
#include "link/Link.h"
#include "sim/FlashCart.h"
#include "sim/VirtualAdapter.h"

namespace brevomat::cli {

namespace {

constexpr int kRounds = 2000;  // register writes and read-backs per mode
constexpr std::uint64_t kFlashBytes = 8u << 20;
constexpr std::uint64_t kSaveBytes = 256u << 10;

// Passes every access on and counts it by kind.
class CountingPort final : public PortBackend {
 public:
  CountingPort(PortBackend& inner, std::uint32_t base) : inner_(inner), base_(base) {}
  AccessCounts counts;

  std::uint8_t ReadByte(std::uint16_t port) override {
    CountByte(port);
    return inner_.ReadByte(port);
  }
  void WriteByte(std::uint16_t port, std::uint8_t value) override {
    CountByte(port);
    inner_.WriteByte(port, value);
  }
  std::uint16_t ReadWord(std::uint16_t port) override {
    ++counts.eppWords;
    return inner_.ReadWord(port);
  }
  void WriteWord(std::uint16_t port, std::uint16_t value) override {
    ++counts.eppWords;
    inner_.WriteWord(port, value);
  }
  std::uint64_t ClockNs() override { return inner_.ClockNs(); }

 private:
  void CountByte(std::uint16_t port) {
    if (port - base_ < 3)
      ++counts.registerAccesses;
    else
      ++counts.eppBytes;
  }
  PortBackend& inner_;
  std::uint32_t base_;
};

// The virtual adapter with the measured cost of each kind of access on its clock (its own cost
// per access is set to nothing), so that the chip's busy times overlap the polls as they do on the
// hardware.
class CostedModelPort final : public PortBackend {
 public:
  CostedModelPort(sim::VirtualAdapter& adapter, const AccessCosts& costs)
      : adapter_(adapter),
        registerPs_(Ps(costs.registerUs)),
        eppBytePs_(Ps(costs.eppByteUs)),
        eppWordPs_(Ps(costs.eppWordUs)) {}

  std::uint8_t ReadByte(std::uint16_t port) override {
    Take(ByteCost(port));
    return adapter_.ReadByte(port);
  }
  void WriteByte(std::uint16_t port, std::uint8_t value) override {
    Take(ByteCost(port));
    adapter_.WriteByte(port, value);
  }
  std::uint16_t ReadWord(std::uint16_t port) override {
    Take(eppWordPs_);
    return adapter_.ReadWord(port);
  }
  void WriteWord(std::uint16_t port, std::uint16_t value) override {
    Take(eppWordPs_);
    adapter_.WriteWord(port, value);
  }
  std::uint64_t ClockNs() override { return adapter_.ClockNs(); }

 private:
  static std::uint64_t Ps(double us) { return static_cast<std::uint64_t>(us * 1e6 + 0.5); }
  std::uint64_t ByteCost(std::uint16_t port) const {
    return port - adapter_.config().base < 3 ? registerPs_ : eppBytePs_;
  }
  // Picoseconds, so that fractions of a nanosecond add up.
  void Take(std::uint64_t ps) {
    carryPs_ += ps;
    adapter_.AdvanceNs(carryPs_ / 1000);
    carryPs_ %= 1000;
  }
  sim::VirtualAdapter& adapter_;
  std::uint64_t registerPs_, eppBytePs_, eppWordPs_;
  std::uint64_t carryPs_ = 0;
};

struct TimedRounds {
  AccessCounts counts;
  std::uint64_t ns = 0;
  int wrong = 0;  // read-backs that did not give what was written
};

// Register writes and read-backs in the link's current mode, as adapter detection does them.
TimedRounds RegisterRounds(Link& link, CountingPort& counter) {
  TimedRounds r;
  counter.counts = {};
  const std::uint64_t start = link.Io().ClockNs();
  for (int i = 0; i < kRounds; ++i) {
    const auto reg = static_cast<std::uint8_t>(i % 3);
    const auto value = static_cast<std::uint8_t>(i * 37 + 11);
    link.WriteAdapterRegister(reg, value);
    link.SelectAdapterRegister(reg);
    link.WriteControl(control::kReadLevel);
    if (link.ReadAdapterByte() != value) ++r.wrong;
  }
  r.ns = link.Io().ClockNs() - start;
  r.counts = counter.counts;
  return r;
}

// 16-bit writes and reads of the EPP data register with address register 0 selected: both bytes
// of a word land in that register, so neither the cart nor the adapter's mode is touched.
TimedRounds WordRounds(Link& link, CountingPort& counter) {
  TimedRounds r;
  link.SelectAdapterRegister(adapter::kAddressLow);
  counter.counts = {};
  const std::uint64_t start = link.Io().ClockNs();
  for (int i = 0; i < kRounds; ++i) {
    const auto value = static_cast<std::uint16_t>(i * 0x0101 + 0x1234);
    link.WriteControl(control::kWriteLevel);
    link.Io().PortWriteWord(static_cast<std::uint32_t>(link.EppDataPort), value);
    link.WriteControl(control::kReadLevel);
    const std::uint8_t high = static_cast<std::uint8_t>(value >> 8);
    if (link.Io().PortReadWord(static_cast<std::uint32_t>(link.EppDataPort)) != (high | high << 8)) ++r.wrong;
  }
  r.ns = link.Io().ClockNs() - start;
  r.counts = counter.counts;
  return r;
}

double PerAccessUs(std::uint64_t ns, std::uint64_t others, double othersUs, std::uint64_t accesses) {
  if (accesses == 0) return 0;
  const double us = (static_cast<double>(ns) / 1000.0 - static_cast<double>(others) * othersUs) /
                    static_cast<double>(accesses);
  return us > 0 ? us : 0;
}

std::string Fixed(double value, int decimals) {
  char text[32];
  std::snprintf(text, sizeof text, "%.*f", decimals, value);
  return text;
}

std::string Padded(const std::string& text, std::size_t width) {
  return text.size() >= width ? text : std::string(width - text.size(), ' ') + text;
}

}  // namespace

double EstimateSeconds(ProbedCommand command, int speedIndex, bool epp, const sim::ChipTiming& timing,
                       const AccessCosts& costs) {
  sim::FlashCart cart(sim::FlashChip::J3_64Mbit, timing, sim::SaveMemory::Sram);
  sim::VirtualAdapter adapter(
      sim::AdapterConfig{static_cast<std::uint16_t>(kLpt1Base), sim::AdapterAnswers::Both, 0, {}}, cart);
  CostedModelPort port(adapter, costs);
  PortIo io(&port);
  Link link(io);
  SilentWindow window;
  OperationFrame frame(window);
  CartState state;
  // As adapter detection leaves the link at this speed.
  link.SpeedSetting = static_cast<std::int8_t>(speedIndex);
  link.Mode = epp && speedIndex != 3 ? LinkMode::EPP : LinkMode::SPP;
  link.PrepareLink();
  if (!IdentifyFlash(link, frame, state)) return 0;
  for (std::uint32_t i = 0; i < kChunkBytes; ++i)
    frame.Buffer.data()[i] = static_cast<std::uint8_t>(i * 7 + 3);
  auto since = [&adapter](std::uint64_t startNs) {
    return static_cast<double>(adapter.NowNs() - startNs) / 1e9;
  };

  const std::uint64_t start = adapter.NowNs();
  switch (command) {
    case ProbedCommand::Write8M:
      // One block: erase, program and read back each chunk, then the verify pass over it.
      for (std::uint32_t n = 0; n < 4; ++n) ProgramChunk(link, frame, state, n, kChunkBytes);
      for (std::uint32_t n = 0; n < 4; ++n) VerifyChunk(link, frame, n, kChunkBytes);
      return since(start) * (kFlashBytes / kBlockBytes);
    case ProbedCommand::ReadOut8M:
      // Every chunk is read twice.
      ReadChunk(link, frame.Buffer, 0);
      VerifyChunk(link, frame, 0, kChunkBytes);
      return since(start) * (kFlashBytes / kChunkBytes);
    case ProbedCommand::Erase8M:
      EraseAllBlocks(link, frame, kBlockBytes);
      frame.EndOperation();
      return since(start) * (kFlashBytes / kBlockBytes);
    case ProbedCommand::SaveBackup256K: {
      // The presence probe before the bank dialog, then every unit read and confirmed.
      ProbeSaveMemory(link, frame.Buffer);
      const double probe = since(start);
      const std::uint64_t unitStart = adapter.NowNs();
      ReadSaveUnit(link, frame.Buffer, 0);
      return probe + since(unitStart) * (kSaveBytes / kSaveUnitBytes);
    }
  }
  return 0;
}

namespace {

// The cost of one access of each kind on the core's port, timed over register writes and
// read-backs (and, with `epp`, EPP data words), with the read-backs that came back wrong.
struct LinkTiming {
  AccessCosts costs;
  int sppWrong = 0, eppWrong = 0;
};

LinkTiming TimeLinkAccesses(Core& core, bool epp) {
  Link& link = core.link;
  LinkTiming timed;
  PortBackend& backend = core.port.Backend();
  CountingPort counter(backend, static_cast<std::uint32_t>(link.DataPort));
  core.port.Attach(&counter);
  // SPP rounds time the printer-port registers alone; they run whether or not the adapter answers
  // in SPP, which only decides whether their read-backs count.
  link.Mode = LinkMode::SPP;
  const TimedRounds sppRounds = RegisterRounds(link, counter);
  AccessCosts& costs = timed.costs;
  costs.registerUs = PerAccessUs(sppRounds.ns, 0, 0, sppRounds.counts.registerAccesses);
  timed.sppWrong = sppRounds.wrong;
  if (epp) {
    link.Mode = LinkMode::EPP;
    const TimedRounds eppRounds = RegisterRounds(link, counter);
    costs.eppByteUs = PerAccessUs(eppRounds.ns, eppRounds.counts.registerAccesses, costs.registerUs,
                                  eppRounds.counts.eppBytes);
    const TimedRounds wordRounds = WordRounds(link, counter);
    costs.eppWordUs = PerAccessUs(wordRounds.ns, wordRounds.counts.registerAccesses, costs.registerUs,
                                  wordRounds.counts.eppWords);
    timed.eppWrong = eppRounds.wrong;
  }
  link.ReleaseLink();
  core.port.Attach(&backend);
  return timed;
}

}  // namespace

int RunProbe(Core& core, const sim::ChipTiming& timing, RunFigures& figures) {
  OperationFrame& frame = core.frame;
  Link& link = core.link;
  frame.ClearOperationDisplay();

  link.SpeedSetting = 0;
  link.Mode = LinkMode::SPP;
  const bool spp = TestAdapterPattern(link);
  bool epp = false;
  // As detection does: the 0x3BC port of old display adapters has no EPP registers.
  if (link.DataPort != static_cast<std::int32_t>(kLpt3Base)) {
    link.Mode = LinkMode::EPP;
    epp = TestAdapterPattern(link);
  }
  if (!spp && !epp) {
    frame.LogLine("No Adaptor Found!");
    frame.SetStatus("Error!!!");
    return kResultFailed;
  }
  const std::string modes = spp && epp ? "SPP and EPP" : spp ? "SPP" : "EPP";
  frame.LogLine("Adapter answers in " + modes);
  figures.Set("adapter_modes", spp && epp ? "SPP EPP" : modes);

  const LinkTiming timed = TimeLinkAccesses(core, epp);
  const AccessCosts& costs = timed.costs;

  frame.LogLine("Port access, timed over " + std::to_string(kRounds) + " register writes and read-backs:");
  frame.LogLine("  printer-port register  " + Padded(Fixed(costs.registerUs, 3), 8) + " us");
  figures.Set("us_per_register_access", costs.registerUs);
  if (epp) {
    frame.LogLine("  EPP address/data byte  " + Padded(Fixed(costs.eppByteUs, 3), 8) + " us");
    frame.LogLine("  EPP 16-bit data word   " + Padded(Fixed(costs.eppWordUs, 3), 8) + " us");
    figures.Set("us_per_epp_byte", costs.eppByteUs);
    figures.Set("us_per_epp_word", costs.eppWordUs);
  }
  int wrong = 0;
  const std::tuple<bool, int, const char*> readBacks[] = {{spp, timed.sppWrong, "SPP"},
                                                          {epp, timed.eppWrong, "EPP"}};
  for (const auto& [answers, wrongInMode, name] : readBacks) {
    if (!answers || wrongInMode == 0) continue;
    wrong += wrongInMode;
    frame.LogLine(std::to_string(wrongInMode) + " of " + std::to_string(kRounds) + " read-backs in " + name +
                  " were wrong: check the cable, the port's mode in the BIOS and the adapter's power");
  }
  figures.Set("readback_errors", static_cast<std::int64_t>(wrong));

  frame.LogLine("Expected durations (chip: block erase " +
                Fixed(static_cast<double>(timing.blockEraseNs) / 1e9, 3) + " s, buffer program " +
                Fixed(static_cast<double>(timing.bufferProgramNs) / 1e3, 0) + " us):");
  frame.LogLine("speed  cycles        8 MB write  8 MB read-out  8 MB erase  256 KB save backup");
  static const char* const kEppCycles[] = {"EPP", "EPP bytes", "SPP writes", "SPP"};
  for (int speed = 0; speed < 4; ++speed) {
    const double write = EstimateSeconds(ProbedCommand::Write8M, speed, epp, timing, costs);
    const double read = EstimateSeconds(ProbedCommand::ReadOut8M, speed, epp, timing, costs);
    const double erase = EstimateSeconds(ProbedCommand::Erase8M, speed, epp, timing, costs);
    const double save = EstimateSeconds(ProbedCommand::SaveBackup256K, speed, epp, timing, costs);
    const std::string cycles = epp ? kEppCycles[speed] : "SPP";
    frame.LogLine("  " + std::string(kSpeedItems[speed]) + "    " + cycles +
                  std::string(12 - cycles.size(), ' ') + Padded(Fixed(write, 1) + " s", 12) +
                  Padded(Fixed(read, 1) + " s", 15) + Padded(Fixed(erase, 1) + " s", 12) +
                  Padded(Fixed(save, 2) + " s", 20));
    const std::string key = std::string("speed") + kSpeedItems[speed] + "_";
    figures.Set(key + "write_8m_seconds", write);
    figures.Set(key + "readout_8m_seconds", read);
    figures.Set(key + "erase_8m_seconds", erase);
    figures.Set(key + "save_backup_256k_seconds", save);
  }
  if (epp && !spp) frame.LogLine("(speed 1 runs SPP cycles, in which this adapter does not answer)");
  frame.SetStatus(wrong == 0 ? "Probe Ok" : "Error!!!");
  return wrong == 0 ? kResultDone : kResultFailed;
}

std::string DoctorSpeedFigures(Core& core, const sim::ChipTiming& timing, int speedIndex, bool epp,
                               RunFigures& figures) {
  const LinkTiming timed = TimeLinkAccesses(core, epp);
  const AccessCosts& costs = timed.costs;
  std::string text = "probe: " + Fixed(costs.registerUs, 3) + " us a printer-port register";
  figures.Set("us_per_register_access", costs.registerUs);
  if (epp) {
    text += ", " + Fixed(costs.eppByteUs, 3) + " us an EPP byte, " + Fixed(costs.eppWordUs, 3) +
            " us an EPP word";
    figures.Set("us_per_epp_byte", costs.eppByteUs);
    figures.Set("us_per_epp_word", costs.eppWordUs);
  }
  const double write = EstimateSeconds(ProbedCommand::Write8M, speedIndex, epp, timing, costs);
  const double read = EstimateSeconds(ProbedCommand::ReadOut8M, speedIndex, epp, timing, costs);
  figures.Set("write_8m_seconds", write);
  figures.Set("readout_8m_seconds", read);
  text += "; at that speed an 8 MB write takes about " + Fixed(write, 1) + " s, an 8 MB read-out " +
          Fixed(read, 1) + " s";
  const int wrong = timed.sppWrong + timed.eppWrong;
  if (wrong != 0) text += "; " + std::to_string(wrong) + " timed read-backs were wrong";
  return text;
}

}  // namespace brevomat::cli
