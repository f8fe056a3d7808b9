// Forwards every port call to a real back end and decodes what crossed the port into adapter
// register writes and cart word writes, so tests can check command sequences against the
// virtual cart.
#pragma once

#include <cstdint>
#include <vector>

#include "port/Port.h"

namespace brevomat::testing {

struct CartWrite {
  std::uint32_t address;
  std::uint16_t value;
  bool operator==(const CartWrite&) const = default;
};

class TeeBackend final : public PortBackend {
 public:
  TeeBackend(PortBackend& inner, std::uint16_t base) : inner_(inner), base_(base) {}

  bool recording = true;
  std::vector<CartWrite> cartWrites;  // words written to register 3 (fast EPP or SPP cycles)
  std::uint64_t controlWrites4 = 0;   // times the link was released (control := 4)

  std::uint8_t ReadByte(std::uint16_t port) override { return inner_.ReadByte(port); }
  std::uint16_t ReadWord(std::uint16_t port) override { return inner_.ReadWord(port); }
  std::uint64_t ClockNs() override { return inner_.ClockNs(); }
  void WriteByte(std::uint16_t port, std::uint8_t value) override {
    if (recording) Observe(port, value, false);
    inner_.WriteByte(port, value);
  }
  void WriteWord(std::uint16_t port, std::uint16_t value) override {
    if (recording) Observe(port, value, true);
    inner_.WriteWord(port, value);
  }

 private:
  void Register(std::uint8_t value) {
    if (selected_ <= 2) {
      regs_[selected_] = value;
      wordPhase_ = false;
    } else if (selected_ == 3) {
      if (!wordPhase_) {
        low_ = value;
        wordPhase_ = true;
      } else {
        Word(static_cast<std::uint16_t>(value << 8 | low_));
        wordPhase_ = false;
      }
    }
  }
  void Word(std::uint16_t value) {
    cartWrites.push_back({static_cast<std::uint32_t>(regs_[2] << 16 | regs_[1] << 8 | regs_[0]), value});
    regs_[0] = static_cast<std::uint8_t>(regs_[0] + 1);
  }
  void Observe(std::uint16_t port, std::uint16_t value, bool word) {
    const int offset = port - base_;
    if (offset == 0) {
      data_ = static_cast<std::uint8_t>(value);
    } else if (offset == 2) {
      if (value == 9) {
        selected_ = data_;
        wordPhase_ = false;
      } else if (value == 3) {
        Register(data_);
      } else if (value == 4) {
        ++controlWrites4;
      }
    } else if (offset == 3) {
      selected_ = static_cast<std::uint8_t>(value);
      wordPhase_ = false;
    } else if (offset == 4) {
      if (word && selected_ == 3) {
        Word(value);
      } else {
        Register(static_cast<std::uint8_t>(value));
      }
    }
  }

  PortBackend& inner_;
  std::uint16_t base_;
  std::uint8_t data_ = 0, selected_ = 0, low_ = 0;
  bool wordPhase_ = false;
  std::uint8_t regs_[3] = {};
};

}  // namespace brevomat::testing
