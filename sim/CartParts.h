// Pieces that more than one virtual cartridge is built from: the faults a cartridge can be given,
// the decoder that watches the bus for the cart control sequences, and the read noise of a poor
// contact.
#pragma once

#include <cstdint>

namespace brevomat::sim {

// Faults to inject; all off by default. They can be changed at any time through the cart's Faults().
// A game cart has only the read faults and the stuck save byte; the rest belong to the flash chip.
struct FlashFaults {
  int eraseErrorBlock = -1;              // erasing this block ends with the erase error bit (0x20)
  std::int64_t programErrorWord = -1;    // programming this word address ends with 0x10; word kept
  bool neverReady = false;               // erase and program never finish
  std::uint32_t setupStatusB0Polls = 0;  // after erase set-up the status reads 0xB0 this many times
  std::uint64_t flipRead = 0;            // flip bit 0 of the Nth ROM read transfer (1-based, 0 = off)
  double readNoise = 0.0;                // probability of a flipped bit in any ROM read transfer
  std::uint64_t seed = 1;                // seed of the read noise
  std::int32_t saveStuckByte = -1;       // save byte (0..0x3FFFF) that does not take writes
  std::int64_t eraseStuckBit = -1;       // flash bit (byte address * 8 + bit) that an erase leaves 0
};

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
