#include "trace/Check.h"

#include <algorithm>
#include <cstdio>
#include <deque>
#include <memory>

#include "sim/FlashCart.h"
#include "sim/VirtualAdapter.h"

namespace brevomat::trace {

namespace {

constexpr std::size_t kContextLines = 6;
constexpr std::size_t kRawContext = 8;
// After the parting access the record is decoded this much further for the context after it.
constexpr std::uint64_t kAccessesAfter = 4000;

// The cart behind one model adapter. Before the chip answers with its status, it is let finish
// what it started: the model is never slower than the hardware.
class ReplayBus final : public sim::CartBus {
 public:
  explicit ReplayBus(sim::FlashCart& cart) : cart_(cart) {}
  std::uint16_t ReadRom(std::uint32_t wordAddress, std::uint64_t nowNs) override {
    statusAnswer_ = !cart_.AnswersData();
    arrayAnswer_ = cart_.AnswersArray();
    if (statusAnswer_) {
      cart_.FinishStarted();
      arrayAnswer_ = cart_.AnswersArray();
    }
    ++romReads_;
    return cart_.ReadRom(wordAddress, nowNs);
  }
  void WriteRom(std::uint32_t wordAddress, std::uint16_t value, std::uint64_t nowNs) override {
    cart_.WriteRom(wordAddress, value, nowNs);
  }
  std::uint8_t ReadSave(std::uint16_t byteAddress, std::uint64_t nowNs) override {
    statusAnswer_ = false;
    return cart_.ReadSave(byteAddress, nowNs);
  }
  void WriteSave(std::uint16_t byteAddress, std::uint8_t value, std::uint64_t nowNs) override {
    cart_.WriteSave(byteAddress, value, nowNs);
  }
  // The last word read from the cart was its status.
  bool StatusAnswer() const { return statusAnswer_; }
  // The last word read from the cart came from its array (not the status, query or identifier).
  bool ArrayAnswer() const { return arrayAnswer_; }
  std::uint64_t RomReads() const { return romReads_; }

 private:
  sim::FlashCart& cart_;
  bool statusAnswer_ = false;
  bool arrayAnswer_ = false;
  std::uint64_t romReads_ = 0;
};

// One model: an adapter, a cart whose contents start as `fill`.
struct Model {
  Model(sim::FlashChip chip, std::uint16_t base, std::uint8_t fill)
      : cart(chip, sim::ChipTiming::Datasheet(), sim::SaveMemory::Sram),
        bus(cart),
        adapter(Config(base), bus) {
    std::fill(cart.Flash().begin(), cart.Flash().end(), fill);
    std::fill(cart.Save().begin(), cart.Save().end(), fill);
  }
  static sim::AdapterConfig Config(std::uint16_t base) {
    sim::AdapterConfig config;
    config.base = base;
    return config;
  }
  std::uint16_t Port(const Access& a) const {
    if (a.reg <= 4) return static_cast<std::uint16_t>(adapter.config().base + a.reg);
    if (a.reg == record::kEcrRegister)
      return static_cast<std::uint16_t>(adapter.config().base + record::kEcrOffset);
    return a.port;
  }
  std::uint16_t Replay(const Access& a) {
    const std::uint16_t port = Port(a);
    if (a.write) {
      if (a.word)
        adapter.WriteWord(port, a.value);
      else
        adapter.WriteByte(port, static_cast<std::uint8_t>(a.value));
      return 0;
    }
    return a.word ? adapter.ReadWord(port) : adapter.ReadByte(port);
  }
  sim::FlashCart cart;
  ReplayBus bus;
  sim::VirtualAdapter adapter;
};

std::uint16_t ParseBase(const std::string& text) {
  unsigned long base = 0x378;
  if (!text.empty()) base = std::strtoul(text.c_str(), nullptr, 16);
  return base == 0 || base > 0xFFF8 ? 0x378 : static_cast<std::uint16_t>(base);
}

// Which chip the record talked to: the first query answer names it; a chip the model does not
// know is checked as the 8 MB one, and its answer then parts from the model's.
sim::FlashChip ChipOfRecord(const std::string& path) {
  RecordReader reader;
  std::string error;
  if (!reader.Open(path, error)) return sim::FlashChip::J3_64Mbit;
  Decoder decoder(Level::Cart, {});
  Event event;
  for (std::uint64_t n = 0; n < 4'000'000 && decoder.summary().queryDevice < 0 && reader.Next(event); ++n)
    decoder.Feed(event);
  return decoder.summary().queryDevice == 0x16 ? sim::FlashChip::J3_32Mbit : sim::FlashChip::J3_64Mbit;
}

class Checker {
 public:
  Checker(sim::FlashChip chip, std::uint16_t base, CheckResult& result)
      : zeros_(chip, base, 0x00), ones_(chip, base, 0xFF), result_(result) {
    decoder_ = std::make_unique<Decoder>(Level::Cart, [this](const DecodedLine& line) { Line(line); });
    decoder_->OnRead = [this](bool save, std::uint32_t address, std::uint16_t value) {
      Learn(save, address, value);
    };
  }

  // False once the two have parted and the context after it is complete.
  bool Feed(const Event& event) {
    if (event.isMark) {
      decoder_->Feed(event);
      return true;
    }
    const Access& a = event.access;
    ++result_.accesses;
    if (parted_) {
      if (result_.rawAfter.size() < kRawContext) result_.rawAfter.push_back(a);
      decoder_->Feed(event);
      return result_.after.size() < kContextLines && a.seq < result_.first.seq + kAccessesAfter;
    }
    const std::uint64_t romReadsBefore = zeros_.bus.RomReads();
    const std::uint16_t z = zeros_.Replay(a);
    const std::uint16_t o = ones_.Replay(a);
    if (a.IsWrite(2) && zeros_.bus.RomReads() != romReadsBefore) freshNibbleWord_ = true;
    if (!a.write) Compare(a, z, o, zeros_.bus.RomReads() != romReadsBefore);
    raw_.push_back(a);
    if (raw_.size() > kRawContext) raw_.pop_front();
    decoder_->Feed(event);
    return true;
  }

  void Finish() {
    decoder_->Finish();
    result_.modelViolation = zeros_.adapter.FirstViolation();
  }

 private:
  void Line(const DecodedLine& line) {
    if (parted_) {
      if (result_.after.size() < kContextLines) result_.after.push_back(line);
      return;
    }
    context_.push_back(line);
    if (context_.size() > kContextLines) context_.pop_front();
  }

  // The read of a word the models do not know yet teaches both what the hardware holds there.
  void Learn(bool save, std::uint32_t address, std::uint16_t value) {
    if (save) {
      const std::size_t index =
          std::size_t(zeros_.cart.SaveBank()) * sim::FlashCart::kBankBytes + (address & 0xFFFF);
      auto& a = zeros_.cart.Save();
      auto& b = ones_.cart.Save();
      if (index >= a.size() || a[index] == b[index]) return;
      const auto known = static_cast<std::uint8_t>(~(a[index] ^ b[index]));
      a[index] = b[index] = static_cast<std::uint8_t>((a[index] & known) | (value & ~known));
      return;
    }
    if (!zeros_.bus.ArrayAnswer()) return;
    auto& a = zeros_.cart.Flash();
    auto& b = ones_.cart.Flash();
    const std::size_t index = 2 * (address % (a.size() / 2));
    for (int half = 0; half < 2; ++half) {
      std::uint8_t& x = a[index + half];
      std::uint8_t& y = b[index + half];
      const auto known = static_cast<std::uint8_t>(~(x ^ y));
      const auto hardware = static_cast<std::uint8_t>(value >> (8 * half));
      x = y = static_cast<std::uint8_t>((x & known) | (hardware & ~known));
    }
  }

  void Part(const Access& a, std::uint16_t model, std::uint16_t mask) {
    parted_ = true;
    result_.agrees = false;
    result_.first = a;
    result_.model = model;
    result_.mask = mask;
    result_.before.assign(context_.begin(), context_.end());
    result_.rawBefore.assign(raw_.begin(), raw_.end());
  }

  void Judge(const Access& a, std::uint16_t model, std::uint16_t mask) {
    if (mask == 0) {
      ++result_.unknown;
      return;
    }
    ++result_.compared;
    if ((a.value & mask) != (model & mask)) Part(a, model, mask);
  }

  void Compare(const Access& a, std::uint16_t z, std::uint16_t o, bool freshWord) {
    const std::uint16_t width = a.word ? 0xFFFF : 0x00FF;
    const std::uint16_t known = static_cast<std::uint16_t>(~(z ^ o) & width);
    const bool cartData = zeros_.adapter.SelectedRegister() == 3;
    const bool status = cartData && !zeros_.adapter.SaveAccess() && zeros_.bus.StatusAnswer();
    switch (a.reg) {
      case 3:
        return Judge(a, z, known);
      case 4:
        if (!status) return Judge(a, z, known);
        // The status is the low byte of the word; only a ready one is compared.
        if ((a.word || freshWord) && (a.value & 0x80) != 0)
          return Judge(a, z, static_cast<std::uint16_t>(known & 0x00FF));
        ++result_.unknown;
        return;
      case 1: {
        const std::uint8_t control = zeros_.adapter.ControlValue();
        if (control != 2 && control != 6) {
          ++result_.unknown;  // no nibble on the lines: the status bits float
          return;
        }
        const auto nibbleMask = static_cast<std::uint16_t>(known & 0x78);
        if (!status) return Judge(a, z, nibbleMask);
        if (!freshNibbleWord_) {
          ++result_.unknown;  // the status word's high byte
          return;
        }
        if (control == 2) {
          lowNibble_ = a;
          lowModel_ = z;
          lowMask_ = nibbleMask;
          return;
        }
        freshNibbleWord_ = false;
        // Bit 6 of the high half is the status's bit 7: ready, and so comparable.
        if ((a.value & 0x40) == 0) {
          result_.unknown += 2;
          return;
        }
        Judge(lowNibble_, lowModel_, lowMask_);
        if (!parted_) Judge(a, z, nibbleMask);
        return;
      }
      default:
        ++result_.unknown;  // the port's own registers, not the adapter's answer
        return;
    }
  }

  Model zeros_, ones_;
  CheckResult& result_;
  std::unique_ptr<Decoder> decoder_;
  std::deque<DecodedLine> context_;
  std::deque<Access> raw_;
  bool parted_ = false;
  bool freshNibbleWord_ = false;
  Access lowNibble_;
  std::uint16_t lowModel_ = 0, lowMask_ = 0;
};

}  // namespace

CheckResult CheckRecord(const std::string& path) {
  CheckResult result;
  const sim::FlashChip chip = ChipOfRecord(path);
  RecordReader reader;
  if (!reader.Open(path, result.error)) return result;
  result.opened = true;
  auto checker = std::make_unique<Checker>(chip, ParseBase(reader.HeaderValue("base")), result);
  Event event;
  while (reader.Next(event))
    if (!checker->Feed(event)) break;
  checker->Finish();
  result.cutShort = reader.CutShort();
  result.problem = reader.Problem();
  return result;
}

std::vector<std::string> CheckReport(const CheckResult& r) {
  std::vector<std::string> lines;
  auto decoded = [](const DecodedLine& line) {
    char head[48];
    std::snprintf(head, sizeof head, "%10llu %12llu  ", static_cast<unsigned long long>(line.seq),
                  static_cast<unsigned long long>(line.us));
    return std::string(head) + line.text;
  };
  if (r.agrees) {
    lines.push_back("agrees");
    lines.push_back(std::to_string(r.compared) + " of " + std::to_string(r.accesses) +
                    " accesses compared with the model, " + std::to_string(r.unknown) +
                    " reads it cannot know");
  } else {
    char text[160];
    std::snprintf(text, sizeof text,
                  "hardware and model part at access %llu (%llu us): read 0x%0*X, the model answers 0x%0*X "
                  "(bits compared 0x%0*X)",
                  static_cast<unsigned long long>(r.first.seq), static_cast<unsigned long long>(r.first.us),
                  r.first.word ? 4 : 2, r.first.value, r.first.word ? 4 : 2, r.model, r.first.word ? 4 : 2,
                  r.mask);
    lines.push_back(text);
    lines.push_back("decoded, before it:");
    for (const DecodedLine& line : r.before) lines.push_back(decoded(line));
    lines.push_back("decoded, from it on:");
    for (const DecodedLine& line : r.after) lines.push_back(decoded(line));
    lines.push_back("accesses around it (seq time_us R|W offset bits value):");
    for (const Access& a : r.rawBefore) lines.push_back("  " + RawLine(a));
    lines.push_back("> " + RawLine(r.first));
    for (const Access& a : r.rawAfter) lines.push_back("  " + RawLine(a));
  }
  if (!r.modelViolation.empty())
    lines.push_back("the model adapter saw a protocol violation: " + r.modelViolation);
  if (r.cutShort) lines.push_back("note: " + r.problem);
  return lines;
}

}  // namespace brevomat::trace
