#include "port/Port.h"

#include <chrono>

namespace brevomat {

std::uint64_t PortBackend::ClockNs() {
  using namespace std::chrono;
  return static_cast<std::uint64_t>(
      duration_cast<nanoseconds>(steady_clock::now().time_since_epoch()).count());
}

ClosedPortBackend& ClosedPortBackend::Instance() {
  static ClosedPortBackend instance;
  return instance;
}

}  // namespace brevomat
