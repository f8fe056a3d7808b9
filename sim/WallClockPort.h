// The virtual adapter held to the wall clock, for a program that a person works with.
//
// The adapter's clock moves only with port accesses (1 us per byte on the cable). Between two
// commands nothing reaches the port, so a flash block left busy by a stopped erase would stay busy
// however long the user waits, and the next command would find no flash chip; a real chip
// finishes in its own time. CatchUp, which the program calls whenever it handles an event, moves
// the virtual clock on by the wall time that has passed, so it never lags behind the wall clock.
//
// With the pace Fast the simulation runs as fast as the host allows (an 8 MB erase that takes
// 64 s on the hardware is over in about a second). With Realtime the port also waits whenever the
// simulation has run ahead of the wall clock, so modelled time and wall time agree and Stop, the
// seconds counter and the progress bar can be watched at work. Only the waiting costs a look at
// the wall clock, once per millisecond of modelled time; an access otherwise costs one compare.
#pragma once

#include <cstdint>
#include <functional>

#include "port/Port.h"
#include "sim/CartConf.h"
#include "sim/VirtualAdapter.h"

namespace brevomat::sim {

class WallClockPort final : public brevomat::PortBackend {
 public:
  // The wall clock in nanoseconds and a way to let it pass; tests bring their own.
  struct Clock {
    std::function<std::uint64_t()> nowNs;
    std::function<void(std::uint64_t)> sleepNs;
    static Clock Steady();
  };

  WallClockPort(VirtualAdapter& adapter, Pace pace, Clock clock = Clock::Steady());

  std::uint8_t ReadByte(std::uint16_t port) override {
    const std::uint8_t value = adapter_.ReadByte(port);
    Keep();
    return value;
  }
  void WriteByte(std::uint16_t port, std::uint8_t value) override {
    adapter_.WriteByte(port, value);
    Keep();
  }
  std::uint16_t ReadWord(std::uint16_t port) override {
    const std::uint16_t value = adapter_.ReadWord(port);
    Keep();
    return value;
  }
  void WriteWord(std::uint16_t port, std::uint16_t value) override {
    adapter_.WriteWord(port, value);
    Keep();
  }
  std::uint64_t ClockNs() override { return adapter_.ClockNs(); }
  bool NotesInto(brevomat::AccessTape* tape) override { return adapter_.NotesInto(tape); }

  // Moves the virtual clock on by the wall time that has passed since the last call (Fast), or up
  // to the wall clock (Realtime).
  void CatchUp();
  // Realtime: the wall time since the last access belongs to nobody's command (the user took it to
  // answer a question); the pace goes on from here, without running fast to make up for it.
  void Resume();

 private:
  static constexpr std::uint64_t kWaitStepNs = 1'000'000;
  void Keep() {
    if (adapter_.NowNs() >= waitAtNs_) Wait();
  }
  void Wait();

  VirtualAdapter& adapter_;
  Pace pace_;
  Clock clock_;
  std::uint64_t lastWallNs_;  // Fast: the wall clock at the last catch-up
  // Realtime: the two clocks at the start; from then on they advance alike.
  std::uint64_t startWallNs_;
  std::uint64_t startVirtualNs_;
  std::uint64_t waitAtNs_;  // virtual time of the next look at the wall clock
};

}  // namespace brevomat::sim
