// The four printer-port operations through which every adapter access passes.
//
// Each operation is one immediate access at a 16-bit I/O address, forwarded in call order to the
// back end that is attached at the moment. The adapter is clocked by the order of the control
// register writes, so nothing here may buffer, reorder, log or check. A back end that is not open
// (no driver, no permission) is replaced by the closed back end: reads give 0xFF, writes vanish.
//
// A run is a row of transfers at one port with nothing between them, as the link moves the words
// of a cart run through the EPP data register. By default a run is exactly the loop of single
// operations it stands for, so a back end whose single access is the bus cycle itself issues the
// same cycles either way. A back end that pays per call (the kernel's device: a system call and a
// time-out check each) moves the run as one call, and says so with MovesRunsWhole(). Runs carry
// their words as little-endian byte pairs, the order in which they cross the cable.
#pragma once

#include <cstddef>
#include <cstdint>

namespace brevomat {

class AccessTape;

class PortBackend {
 public:
  virtual ~PortBackend() = default;
  virtual std::uint8_t ReadByte(std::uint16_t port) = 0;
  virtual void WriteByte(std::uint16_t port, std::uint8_t value) = 0;
  virtual std::uint16_t ReadWord(std::uint16_t port) = 0;
  virtual void WriteWord(std::uint16_t port, std::uint16_t value) = 0;
  // `count` byte or 16-bit accesses at `port` in a row. A run that does not come through whole
  // leaves 0xFF in the bytes it did not get, as a floating bus reads.
  virtual void ReadBytes(std::uint16_t port, std::uint8_t* bytes, std::size_t count);
  virtual void WriteBytes(std::uint16_t port, const std::uint8_t* bytes, std::size_t count);
  virtual void ReadWords(std::uint16_t port, std::uint8_t* bytes, std::size_t count);
  virtual void WriteWords(std::uint16_t port, const std::uint8_t* bytes, std::size_t count);
  // True when a run costs less than its single operations. A caller that may stop a run early (a
  // comparison) then reads it whole first; otherwise it reads word by word and stops where it stops.
  virtual bool MovesRunsWhole() const { return false; }
  // The time on this port's side, in nanoseconds from an arbitrary start. The flash waits use it
  // to give a slow chip its datasheet time however fast the polls come. A real port runs on the
  // host's steady clock; a simulated one on its own clock, which moves with the simulated cable.
  virtual std::uint64_t ClockNs();
  // A back end that notes its own accesses on the tape of a record (port/AccessTape.h) takes it
  // here and says true; null ends it. One that does not is wrapped by the recorder instead, one
  // call more per access.
  virtual bool NotesInto(AccessTape* tape) {
    static_cast<void>(tape);
    return false;
  }
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
  void PortReadBytes(std::uint32_t port, std::uint8_t* bytes, std::size_t count) {
    backend_->ReadBytes(static_cast<std::uint16_t>(port), bytes, count);
  }
  void PortWriteBytes(std::uint32_t port, const std::uint8_t* bytes, std::size_t count) {
    backend_->WriteBytes(static_cast<std::uint16_t>(port), bytes, count);
  }
  void PortReadWords(std::uint32_t port, std::uint8_t* bytes, std::size_t count) {
    backend_->ReadWords(static_cast<std::uint16_t>(port), bytes, count);
  }
  void PortWriteWords(std::uint32_t port, const std::uint8_t* bytes, std::size_t count) {
    backend_->WriteWords(static_cast<std::uint16_t>(port), bytes, count);
  }
  bool MovesRunsWhole() const { return backend_->MovesRunsWhole(); }
  std::uint64_t ClockNs() { return backend_->ClockNs(); }

 private:
  PortBackend* backend_ = &ClosedPortBackend::Instance();
};

}  // namespace brevomat
