// The four printer-port operations through which every adapter access passes.
//
// Each operation is one immediate access at a 16-bit I/O address, forwarded in call order to the
// back end that is attached at the moment. The adapter is clocked by the order of the control
// register writes, so nothing here may buffer, reorder, log or check. A back end that is not open
// (no driver, no permission) is replaced by the closed back end: reads give 0xFF, writes vanish.
#pragma once

#include <cstdint>

namespace brevomat {

class PortBackend {
 public:
  virtual ~PortBackend() = default;
  virtual std::uint8_t ReadByte(std::uint16_t port) = 0;
  virtual void WriteByte(std::uint16_t port, std::uint8_t value) = 0;
  virtual std::uint16_t ReadWord(std::uint16_t port) = 0;
  virtual void WriteWord(std::uint16_t port, std::uint16_t value) = 0;
  // The time on this port's side, in nanoseconds from an arbitrary start. The flash waits use it
  // to give a slow chip its datasheet time however fast the polls come. A real port runs on the
  // host's steady clock; a simulated one on its own clock, which moves with the simulated cable.
  virtual std::uint64_t ClockNs();
};

// What the port looks like with nothing behind it: a floating bus.
class ClosedPortBackend final : public PortBackend {
 public:
  std::uint8_t ReadByte(std::uint16_t) override { return 0xFF; }
  void WriteByte(std::uint16_t, std::uint8_t) override {}
  std::uint16_t ReadWord(std::uint16_t) override { return 0xFFFF; }
  void WriteWord(std::uint16_t, std::uint16_t) override {}
  static ClosedPortBackend& Instance();
};

class PortIo {
 public:
  PortIo() = default;
  explicit PortIo(PortBackend* backend) { Attach(backend); }

  // nullptr detaches: the port then behaves as the closed back end.
  void Attach(PortBackend* backend) { backend_ = backend ? backend : &ClosedPortBackend::Instance(); }
  void Detach() { backend_ = &ClosedPortBackend::Instance(); }
  bool Attached() const { return backend_ != &ClosedPortBackend::Instance(); }
  PortBackend& Backend() const { return *backend_; }

  // Callers keep port addresses in 32-bit integers; only the low 16 bits reach the bus.
  std::uint8_t PortReadByte(std::uint32_t port) {
    return backend_->ReadByte(static_cast<std::uint16_t>(port));
  }
  void PortWriteByte(std::uint32_t port, std::uint8_t value) {
    backend_->WriteByte(static_cast<std::uint16_t>(port), value);
  }
  std::uint16_t PortReadWord(std::uint32_t port) {
    return backend_->ReadWord(static_cast<std::uint16_t>(port));
  }
  void PortWriteWord(std::uint32_t port, std::uint16_t value) {
    backend_->WriteWord(static_cast<std::uint16_t>(port), value);
  }
  std::uint64_t ClockNs() { return backend_->ClockNs(); }

 private:
  PortBackend* backend_ = &ClosedPortBackend::Instance();
};

}  // namespace brevomat
