#include "sim/CartParts.h"

#include <iterator>

namespace brevomat::sim {

namespace {

struct Step {
  std::uint32_t address;
  std::uint16_t value;
  std::uint16_t times;
};

// The preamble the cartridge's decoder is wired for: 1,508 writes.
constexpr Step kPreamble[] = {
    {0x987654, 0x5354, 1},   {0x012345, 0x1234, 500}, {0x007654, 0x5354, 1}, {0x012345, 0x5354, 1},
    {0x012345, 0x5678, 500}, {0x987654, 0x5354, 1},   {0x012345, 0x5354, 1}, {0x765400, 0x5678, 1},
    {0x013450, 0x1234, 1},   {0x012345, 0xABCD, 500}, {0x987654, 0x5354, 1},
};
constexpr unsigned kPreambleSteps = static_cast<unsigned>(std::size(kPreamble));
constexpr std::uint32_t kEnableAddress = 0xF12345;
constexpr std::uint16_t kEnableValue = 0x9413;
constexpr std::uint32_t kBankAddress = 0xA12345;

}  // namespace

bool ControlSequenceMatcher::MatchesStep(std::uint32_t address, std::uint16_t value) const {
  return kPreamble[step_].address == address && kPreamble[step_].value == value;
}

void ControlSequenceMatcher::Advance() {
  if (++count_ == kPreamble[step_].times) {
    ++step_;
    count_ = 0;
  }
}

// A deviating write may itself be the first write of a new sequence.
void ControlSequenceMatcher::Restart(std::uint32_t address, std::uint16_t value) {
  step_ = 0;
  count_ = 0;
  if (MatchesStep(address, value)) Advance();
}

ControlSequenceMatcher::Result ControlSequenceMatcher::Feed(std::uint32_t address, std::uint16_t value,
                                                            int& bank) {
  if (step_ < kPreambleSteps) {
    if (MatchesStep(address, value))
      Advance();
    else
      Restart(address, value);
    return Result::None;
  }
  // The preamble is complete: this write decides.
  Result result = Result::None;
  if (address == kEnableAddress && value == kEnableValue) {
    result = Result::EnableFlash;
  } else if (address == kBankAddress && value <= 3) {
    result = Result::SelectBank;
    bank = value;
  }
  if (result != Result::None) {
    step_ = 0;
    count_ = 0;
  } else {
    Restart(address, value);
  }
  return result;
}

std::uint64_t ReadNoise::Next() {
  state_ += 0x9E3779B97F4A7C15ull;
  return Mix64(state_);
}

std::uint16_t ReadNoise::Apply(std::uint16_t value, std::uint64_t flipRead, double probability,
                               std::uint64_t seed) {
  ++reads_;
  if (flipRead != 0 && reads_ == flipRead) value ^= 0x0001;
  if (probability > 0.0) {
    if (!seeded_ || seededWith_ != seed) {
      state_ = seed;
      seededWith_ = seed;
      seeded_ = true;
    }
    const std::uint64_t r = Next();
    // 53 random bits as a fraction in [0, 1).
    const double u = static_cast<double>(r >> 11) * (1.0 / 9007199254740992.0);
    if (u < probability) value ^= static_cast<std::uint16_t>(1u << (r & 15));
  }
  return value;
}

}  // namespace brevomat::sim
