// Host cost of the port layer and the link: ns per port operation into a back end that does
// nothing, and per cart word against the virtual adapter.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include "FakeWindow.h"
#include "commands/Core.h"
#include "link/Link.h"
#include "port/ParportDevice.h"
#include "sim/RamCart.h"
#include "sim/VirtualAdapter.h"

namespace {

using namespace brevomat;

// Does nothing. Every benchmark hands it over through an opaque pointer so the compiler cannot see
// through the virtual call, as it cannot for a real back end.
class NullBackend final : public PortBackend {
 public:
  std::uint8_t ReadByte(std::uint16_t port) override { return static_cast<std::uint8_t>(port); }
  void WriteByte(std::uint16_t, std::uint8_t value) override { sink_ += value; }
  std::uint16_t ReadWord(std::uint16_t port) override { return port; }
  void WriteWord(std::uint16_t, std::uint16_t value) override { sink_ += value; }
  unsigned sink_ = 0;
};

void BM_BackendDirectWrite(benchmark::State& state) {
  NullBackend backend;
  PortBackend* b = &backend;
  benchmark::DoNotOptimize(b);
  std::uint8_t v = 0;
  for (auto _ : state) b->WriteByte(0x378, ++v);
  benchmark::DoNotOptimize(backend.sink_);
}
BENCHMARK(BM_BackendDirectWrite);

void BM_PortLayerWrite(benchmark::State& state) {
  NullBackend backend;
  PortBackend* opaque = &backend;
  benchmark::DoNotOptimize(opaque);
  PortIo io(opaque);
  std::uint8_t v = 0;
  for (auto _ : state) io.PortWriteByte(0x378, ++v);
  benchmark::DoNotOptimize(backend.sink_);
}
BENCHMARK(BM_PortLayerWrite);

void BM_PortLayerRead(benchmark::State& state) {
  NullBackend backend;
  PortBackend* opaque = &backend;
  benchmark::DoNotOptimize(opaque);
  PortIo io(opaque);
  unsigned sum = 0;
  for (auto _ : state) sum += io.PortReadByte(0x379);
  benchmark::DoNotOptimize(sum);
}
BENCHMARK(BM_PortLayerRead);

// WriteCartWord into a null back end: 13 (EPP) or 32 (SPP) port accesses of link logic.
void BM_LinkWriteCartWordNull(benchmark::State& state) {
  NullBackend backend;
  PortBackend* opaque = &backend;
  benchmark::DoNotOptimize(opaque);
  PortIo io(opaque);
  Link link(io);
  link.Mode = state.range(0) ? LinkMode::SPP : LinkMode::EPP;
  std::uint32_t a = 0;
  for (auto _ : state) {
    ++a;
    link.WriteCartWord(a, static_cast<std::uint16_t>(a));
  }
  state.counters["accesses/op"] = state.range(0) ? 32 : 13;
  benchmark::DoNotOptimize(backend.sink_);
}
BENCHMARK(BM_LinkWriteCartWordNull)->Arg(0)->Arg(1)->ArgName("spp");

void BM_VirtualWriteCartWord(benchmark::State& state) {
  sim::RamCart cart;
  sim::VirtualAdapter adapter(sim::AdapterConfig{}, cart);
  PortIo io(&adapter);
  Link link(io);
  link.Mode = state.range(0) ? LinkMode::SPP : LinkMode::EPP;
  link.SetRomAccessMode();
  std::uint32_t a = 0;
  for (auto _ : state) {
    ++a;
    link.WriteCartWord(a & 0xFFFF, static_cast<std::uint16_t>(a));
  }
}
BENCHMARK(BM_VirtualWriteCartWord)->Arg(0)->Arg(1)->ArgName("spp");

void BM_VirtualReadCartWord(benchmark::State& state) {
  sim::RamCart cart;
  sim::VirtualAdapter adapter(sim::AdapterConfig{}, cart);
  PortIo io(&adapter);
  Link link(io);
  link.Mode = state.range(0) ? LinkMode::SPP : LinkMode::EPP;
  link.SetRomAccessMode();
  link.SetCartAddress(0);
  link.SelectAdapterRegister(3);
  link.WriteControl(0);
  unsigned sum = 0;
  for (auto _ : state) sum += link.ReadCartWord();
  benchmark::DoNotOptimize(sum);
}
BENCHMARK(BM_VirtualReadCartWord)->Arg(0)->Arg(1)->ArgName("spp");

// --- the parallel-port device back end --------------------------------------------------------
// Its own host cost: the routing by address, the mode bookkeeping and the call into the device,
// here a device that does nothing. The ioperm back end's counterpart is BM_PortLayerWrite above:
// its in/out instruction is the bus cycle itself, with no software between.

// Does nothing but count the calls: each would be one system call on a real device.
class NullDevice final : public ParportCalls {
 public:
  int Open(const std::string&) override { return 3; }
  int Close(int) override { return 0; }
  int Ioctl(int, unsigned long request, void*) override {
    sink_ += static_cast<unsigned>(request);
    ++calls_;
    return 0;
  }
  long Read(int, void*, std::size_t count) override {
    ++calls_;
    return static_cast<long>(count);
  }
  long Write(int, const void*, std::size_t count) override {
    sink_ += static_cast<unsigned>(count);
    ++calls_;
    return static_cast<long>(count);
  }
  unsigned sink_ = 0;
  std::uint64_t calls_ = 0;
};

// One port operation through PortIo into the device back end: 0 data write (an ioctl), 1 status
// read (an ioctl), 2 EPP data byte write (a write()), 3 EPP data word write (one write() of two
// bytes), 4 EPP address and data writes in turn (a mode switch before every access).
void BM_DevicePortOperation(benchmark::State& state) {
  NullDevice device;
  ParportDeviceBackend backend(device);
  backend.OpenDevice("/dev/null-parport");
  PortBackend* opaque = &backend;
  benchmark::DoNotOptimize(opaque);
  PortIo io(opaque);
  std::uint8_t v = 0;
  unsigned sum = 0;
  const auto kind = state.range(0);
  for (auto _ : state) {
    switch (kind) {
      case 0:
        io.PortWriteByte(0x378, ++v);
        break;
      case 1:
        sum += io.PortReadByte(0x379);
        break;
      case 2:
        io.PortWriteByte(0x37C, ++v);
        break;
      case 3:
        io.PortWriteWord(0x37C, ++v);
        break;
      default:
        ++v;
        io.PortWriteByte(v & 1 ? 0x37B : 0x37C, v);
        break;
    }
  }
  benchmark::DoNotOptimize(sum);
  benchmark::DoNotOptimize(device.sink_);
}
BENCHMARK(BM_DevicePortOperation)->DenseRange(0, 4)->ArgName("op");

// WriteCartWord (13 port accesses in EPP, 32 in SPP) and ReadCartWord in a run (1 in EPP, 12 in
// SPP) through the device back end, with the device calls each one makes. kind: 0 EPP write,
// 1 SPP write, 2 EPP read, 3 SPP read.
void BM_DeviceCartWord(benchmark::State& state) {
  NullDevice device;
  ParportDeviceBackend backend(device);
  backend.OpenDevice("/dev/null-parport");
  PortIo io(&backend);
  Link link(io);
  const bool spp = state.range(0) & 1, read = state.range(0) & 2;
  link.Mode = spp ? LinkMode::SPP : LinkMode::EPP;
  link.WriteControl(0);
  device.calls_ = 0;
  std::uint32_t a = 0;
  unsigned sum = 0;
  for (auto _ : state) {
    if (read) {
      sum += link.ReadCartWord();
    } else {
      ++a;
      link.WriteCartWord(a, static_cast<std::uint16_t>(a));
    }
  }
  state.counters["calls/op"] = static_cast<double>(device.calls_) / static_cast<double>(state.iterations());
  benchmark::DoNotOptimize(sum);
  benchmark::DoNotOptimize(device.sink_);
}
BENCHMARK(BM_DeviceCartWord)->DenseRange(0, 3)->ArgName("kind");

// What every real device access adds: one system call. 0: an ioctl on a pipe (FIONREAD), the
// cheapest kind ppdev's register calls are; 1: a two-byte write() to /dev/null, like an EPP word.
void BM_SystemCall(benchmark::State& state) {
  int fds[2];
  if (::pipe(fds) != 0) return state.SkipWithError("pipe");
  const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
  if (null < 0) return state.SkipWithError("/dev/null");
  int pending = 0;
  const unsigned char bytes[2] = {0x34, 0x12};
  long sum = 0;
  for (auto _ : state) {
    if (state.range(0) == 0)
      sum += ::ioctl(fds[0], FIONREAD, &pending);
    else
      sum += ::write(null, bytes, 2);
  }
  benchmark::DoNotOptimize(sum);
  ::close(null);
  ::close(fds[0]);
  ::close(fds[1]);
}
BENCHMARK(BM_SystemCall)->Arg(0)->Arg(1)->ArgName("write");

}  // namespace

BENCHMARK_MAIN();
