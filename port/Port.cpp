#include "port/Port.h"

#include <chrono>

namespace brevomat {

std::uint64_t PortBackend::ClockNs() {
  using namespace std::chrono;
  return static_cast<std::uint64_t>(
      duration_cast<nanoseconds>(steady_clock::now().time_since_epoch()).count());
}

void PortBackend::ReadBytes(std::uint16_t port, std::uint8_t* bytes, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) bytes[i] = ReadByte(port);
}

void PortBackend::WriteBytes(std::uint16_t port, const std::uint8_t* bytes, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) WriteByte(port, bytes[i]);
}

void PortBackend::ReadWords(std::uint16_t port, std::uint8_t* bytes, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) {
    const std::uint16_t word = ReadWord(port);
    bytes[2 * i] = static_cast<std::uint8_t>(word);
    bytes[2 * i + 1] = static_cast<std::uint8_t>(word >> 8);
  }
}

void PortBackend::WriteWords(std::uint16_t port, const std::uint8_t* bytes, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i)
    WriteWord(port, static_cast<std::uint16_t>(bytes[2 * i] | bytes[2 * i + 1] << 8));
}

ClosedPortBackend& ClosedPortBackend::Instance() {
  static ClosedPortBackend instance;
  return instance;
}

}  // namespace brevomat
