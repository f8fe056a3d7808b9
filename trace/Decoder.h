// What a record of port accesses means, at three levels, each built on the one below:
//  - cycles: the printer-port cycles that reach the adapter (SPP address and data cycles driven
//    on the control register, nibble reads on the status lines, EPP address and data cycles);
//  - link: the adapter's registers (register writes, cart address loads, words and save bytes
//    moved through register 3 with the cart address the adapter holds for each);
//  - cart: what the cart is told (the control sequences, flash commands by name, status polls
//    summed up, reads and writes as address ranges, save memory by bank and range).
// The decoder follows the adapter the way the adapter itself follows the cable: a strobe is an
// edge of the control register, register 0 advances after every transfer.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "trace/RecordReader.h"

namespace brevomat::trace {

enum class Level { Cycles, Link, Cart };

// One command of the record, from its start mark to its end mark.
struct CommandSpan {
  std::string name;
  std::string status;  // the end mark's text after the name
  std::string link;    // the link mode and speed the command ran with
  std::uint64_t startUs = 0, endUs = 0;
  std::uint64_t accesses = 0;
  bool ended = false;
};

struct FlashCounts {
  std::uint64_t blockErase = 0, writeToBuffer = 0, wordProgram = 0, readIdentifier = 0, cfiQuery = 0,
                clearStatus = 0, readArray = 0;
};

struct Summary {
  std::uint64_t accesses = 0, reads = 0, writes = 0;
  FlashCounts flash;
  std::vector<CommandSpan> commands;
  bool stoppedAtLimit = false;
  int queryDevice = -1;  // the device code of the first query answer, -1 before one
};

// A line of the decoded record: the first access it stands for (0 for a mark), its time.
struct DecodedLine {
  std::uint64_t seq = 0;
  std::uint64_t us = 0;
  std::string text;
};

class Decoder {
 public:
  using Sink = std::function<void(const DecodedLine&)>;
  Decoder(Level level, Sink sink);
  ~Decoder();
  Decoder(const Decoder&) = delete;
  Decoder& operator=(const Decoder&) = delete;

  // Told of every word read from the cart and every save byte read, with the cart address the
  // adapter held for it (the check learns the cart's contents from them).
  std::function<void(bool save, std::uint32_t address, std::uint16_t value)> OnRead;

  void Feed(const Event& event);
  // The end of the record: what is still summed up is said.
  void Finish();
  const Summary& summary() const { return summary_; }

  struct Stages;

 private:
  Summary summary_;
  std::unique_ptr<Stages> stages_;
};

// The raw line of one access: "seq time_us R|W offset bits value".
std::string RawLine(const Access& access);

}  // namespace brevomat::trace
