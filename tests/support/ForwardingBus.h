// A cart bus that passes every access on to another: the base of test buses that watch or change
// what crosses the cartridge bus.
#pragma once

#include "sim/CartBus.h"

namespace brevomat::testing {

class ForwardingBus : public sim::CartBus {
 public:
  explicit ForwardingBus(sim::CartBus& inner) : inner_(inner) {}
  std::uint16_t ReadRom(std::uint32_t a, std::uint64_t now) override { return inner_.ReadRom(a, now); }
  void WriteRom(std::uint32_t a, std::uint16_t v, std::uint64_t now) override { inner_.WriteRom(a, v, now); }
  std::uint8_t ReadSave(std::uint16_t a, std::uint64_t now) override { return inner_.ReadSave(a, now); }
  void WriteSave(std::uint16_t a, std::uint8_t v, std::uint64_t now) override { inner_.WriteSave(a, v, now); }

 private:
  sim::CartBus& inner_;
};

}  // namespace brevomat::testing
