// Pieces that more than one virtual cartridge is built from: the decoder that watches the bus for
// the cart control sequences, and the read noise of a poor contact.
#pragma once

#include <cstdint>

namespace brevomat::sim {

// The cartridge's sequence decoder. It watches every cart write for the long preamble (matched
// exactly: every address, every value, every repeat count) and then looks at the one write that
// follows it. Anything that deviates starts the match again from the beginning, so a garbled
// sequence leaves the cart as it was.
class ControlSequenceMatcher {
 public:
  enum class Result : std::uint8_t { None, EnableFlash, SelectBank };

  // Feeds one cart write. On SelectBank, `bank` receives the bank number 0..3.
  Result Feed(std::uint32_t address, std::uint16_t value, int& bank);
  bool InProgress() const { return step_ != 0 || count_ != 0; }

 private:
  bool MatchesStep(std::uint32_t address, std::uint16_t value) const;
  void Advance();
  void Restart(std::uint32_t address, std::uint16_t value);

  unsigned step_ = 0;   // index into the preamble; the preamble's length means "final write next"
  unsigned count_ = 0;  // writes of the current step seen so far
};

// A flaky cable or a dirty contact: flips a bit in the Nth read transfer (1-based, 0 = never), and
// flips a random bit of any read transfer with a seeded probability.
class ReadNoise {
 public:
  std::uint16_t Apply(std::uint16_t value, std::uint64_t flipRead, double probability, std::uint64_t seed);
  std::uint64_t Reads() const { return reads_; }

 private:
  std::uint64_t Next();

  std::uint64_t reads_ = 0;
  std::uint64_t state_ = 0;
  std::uint64_t seededWith_ = 0;
  bool seeded_ = false;
};

// A well-mixed 64-bit hash (splitmix64 finaliser), for values that must look random but repeat.
inline std::uint64_t Mix64(std::uint64_t x) {
  x += 0x9E3779B97F4A7C15ull;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
  return x ^ (x >> 31);
}

}  // namespace brevomat::sim
