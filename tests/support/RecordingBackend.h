// A port back end that records every call and answers reads from a script.
#pragma once

#include <cstdint>
#include <deque>
#include <ostream>
#include <vector>

#include "port/Port.h"

namespace brevomat::testing {

struct PortCall {
  enum Kind : std::uint8_t { ReadByte, WriteByte, ReadWord, WriteWord };
  Kind kind;
  std::uint16_t port;
  std::uint16_t value;  // value written, or value answered to a read
  bool operator==(const PortCall&) const = default;
};

inline std::ostream& operator<<(std::ostream& os, const PortCall& c) {
  static const char* names[] = {"rb", "wb", "rw", "ww"};
  return os << names[c.kind] << "(0x" << std::hex << c.port << ",0x" << c.value << std::dec << ")";
}

inline PortCall Wb(std::uint16_t port, std::uint16_t value) { return {PortCall::WriteByte, port, value}; }
inline PortCall Ww(std::uint16_t port, std::uint16_t value) { return {PortCall::WriteWord, port, value}; }
inline PortCall Rb(std::uint16_t port, std::uint16_t value) { return {PortCall::ReadByte, port, value}; }
inline PortCall Rw(std::uint16_t port, std::uint16_t value) { return {PortCall::ReadWord, port, value}; }

class RecordingBackend final : public PortBackend {
 public:
  std::vector<PortCall> calls;
  std::deque<std::uint16_t> answers;  // consumed by reads in order; 0xFF / 0xFFFF when empty

  std::uint8_t ReadByte(std::uint16_t port) override {
    const std::uint8_t v = static_cast<std::uint8_t>(Next(0xFF));
    calls.push_back({PortCall::ReadByte, port, v});
    return v;
  }
  void WriteByte(std::uint16_t port, std::uint8_t value) override {
    calls.push_back({PortCall::WriteByte, port, value});
  }
  std::uint16_t ReadWord(std::uint16_t port) override {
    const std::uint16_t v = Next(0xFFFF);
    calls.push_back({PortCall::ReadWord, port, v});
    return v;
  }
  void WriteWord(std::uint16_t port, std::uint16_t value) override {
    calls.push_back({PortCall::WriteWord, port, value});
  }
  // Every recorded access takes one microsecond of cable time.
  std::uint64_t ClockNs() override { return calls.size() * 1000; }

 private:
  std::uint16_t Next(std::uint16_t fallback) {
    if (answers.empty()) return fallback;
    const std::uint16_t v = answers.front();
    answers.pop_front();
    return v;
  }
};

}  // namespace brevomat::testing
