#include "sim/WallClockPort.h"

#include <chrono>
#include <limits>
#include <thread>
#include <utility>

namespace brevomat::sim {

WallClockPort::Clock WallClockPort::Clock::Steady() {
  return {[] {
            using namespace std::chrono;
            return static_cast<std::uint64_t>(
                duration_cast<nanoseconds>(steady_clock::now().time_since_epoch()).count());
          },
          [](std::uint64_t ns) { std::this_thread::sleep_for(std::chrono::nanoseconds(ns)); }};
}

WallClockPort::WallClockPort(VirtualAdapter& adapter, Pace pace, Clock clock)
    : adapter_(adapter),
      pace_(pace),
      clock_(std::move(clock)),
      lastWallNs_(clock_.nowNs()),
      startWallNs_(lastWallNs_),
      startVirtualNs_(adapter.NowNs()),
      waitAtNs_(pace == Pace::Realtime ? adapter.NowNs() + kWaitStepNs
                                       : std::numeric_limits<std::uint64_t>::max()) {}

void WallClockPort::CatchUp() {
  const std::uint64_t wall = clock_.nowNs();
  if (pace_ == Pace::Fast) {
    adapter_.AdvanceNs(wall - lastWallNs_);
    lastWallNs_ = wall;
    return;
  }
  const std::uint64_t due = startVirtualNs_ + (wall - startWallNs_);
  if (adapter_.NowNs() < due) adapter_.AdvanceNs(due - adapter_.NowNs());
  waitAtNs_ = adapter_.NowNs() + kWaitStepNs;
}

void WallClockPort::Resume() {
  if (pace_ != Pace::Realtime) return;
  startWallNs_ = clock_.nowNs();
  startVirtualNs_ = adapter_.NowNs();
  waitAtNs_ = startVirtualNs_ + kWaitStepNs;
}

void WallClockPort::Wait() {
  // The simulation has come this far; the wall clock must get there too.
  const std::uint64_t due = startWallNs_ + (adapter_.NowNs() - startVirtualNs_);
  const std::uint64_t wall = clock_.nowNs();
  if (wall < due) clock_.sleepNs(due - wall);
  waitAtNs_ = adapter_.NowNs() + kWaitStepNs;
}

}  // namespace brevomat::sim
