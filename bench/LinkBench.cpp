// Host cost of the port layer and the link: ns per port operation into a back end that does
// nothing, and per cart word against the virtual adapter. Then whole commands through the kernel's
// parallel-port device beside direct access: system calls, bus cycles and modelled time.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <linux/parport.h>
#include <linux/ppdev.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include "CartRig.h"
#include "FakeWindow.h"
#include "commands/Commands.h"
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

// --- whole commands through the device, beside direct access ----------------------------------
// The kernel behind the device back end, as far as its cost on the cable goes: each register call
// (PPWDATA, PPRSTATUS, PPWCONTROL ...) is one byte cycle on the port; each EPP read() or write()
// is its bytes' cycles and then one read of the status register, where the kernel checks the
// time-out bit (once per call, with the fast EPP flags the back end sets); PPSETMODE and PPCLAIM
// touch no register. The cycles reach the virtual adapter, whose clock advances 1 us per byte
// cycle as for direct access; the status check advances it by one cycle more, and every call by
// `callNs` of system-call overhead.
class KernelModel final : public ParportCalls {
 public:
  KernelModel(sim::VirtualAdapter& adapter, std::uint64_t callNs) : adapter_(adapter), callNs_(callNs) {}
  std::uint64_t calls = 0, statusChecks = 0;

  int Open(const std::string&) override { return 3; }
  int Close(int) override { return 0; }
  int Ioctl(int, unsigned long request, void* argument) override {
    Call();
    const std::uint16_t base = adapter_.config().base;
    auto* byte = static_cast<std::uint8_t*>(argument);
    switch (request) {
      case PPSETMODE:
        mode_ = *static_cast<int*>(argument);
        break;
      case PPWDATA:
        adapter_.WriteByte(base, *byte);
        break;
      case PPWCONTROL:
        adapter_.WriteByte(static_cast<std::uint16_t>(base + 2), *byte);
        break;
      case PPRDATA:
        *byte = adapter_.ReadByte(base);
        break;
      case PPRSTATUS:
        *byte = adapter_.ReadByte(static_cast<std::uint16_t>(base + 1));
        break;
      case PPRCONTROL:
        *byte = adapter_.ReadByte(static_cast<std::uint16_t>(base + 2));
        break;
      default:
        break;
    }
    return 0;
  }
  long Read(int, void* buffer, std::size_t count) override {
    auto* bytes = static_cast<std::uint8_t*>(buffer);
    const std::uint16_t port = EppPort();
    for (std::size_t i = 0; i < count; ++i) bytes[i] = adapter_.ReadByte(port);
    return Transferred(count);
  }
  long Write(int, const void* buffer, std::size_t count) override {
    const auto* bytes = static_cast<const std::uint8_t*>(buffer);
    const std::uint16_t port = EppPort();
    for (std::size_t i = 0; i < count; ++i) adapter_.WriteByte(port, bytes[i]);
    return Transferred(count);
  }

 private:
  void Call() {
    ++calls;
    adapter_.AdvanceNs(callNs_);
  }
  std::uint16_t EppPort() const {
    return static_cast<std::uint16_t>(adapter_.config().base + ((mode_ & IEEE1284_ADDR) ? 3 : 4));
  }
  // The status read after the transfer: one byte cycle, the adapter not involved (it would see a
  // status read outside a nibble read, which it does not decode).
  long Transferred(std::size_t count) {
    Call();
    ++statusChecks;
    adapter_.AdvanceNs(adapter_.config().nsPerByteAccess);
    return static_cast<long>(count);
  }
  sim::VirtualAdapter& adapter_;
  std::uint64_t callNs_;
  int mode_ = 0;
};

// The device as it was before runs: every transfer of a run its own read() or write().
class OneByOne final : public PortBackend {
 public:
  explicit OneByOne(PortBackend& inner) : inner_(inner) {}
  std::uint8_t ReadByte(std::uint16_t port) override { return inner_.ReadByte(port); }
  void WriteByte(std::uint16_t port, std::uint8_t value) override { inner_.WriteByte(port, value); }
  std::uint16_t ReadWord(std::uint16_t port) override { return inner_.ReadWord(port); }
  void WriteWord(std::uint16_t port, std::uint16_t value) override { inner_.WriteWord(port, value); }
  std::uint64_t ClockNs() override { return inner_.ClockNs(); }

 private:
  PortBackend& inner_;
};

// An 8 MB write (every block, as --every-block) or an 8 MB read-out (Backup Game of the whole
// chip, every chunk read twice) on the virtual cart with the chip's datasheet times, at one speed,
// direct or through the device. The counters: modelled seconds, system calls and bus cycles per
// command. args: command (0 write, 1 read-out); speed item (0 = "4" .. 3 = "1"); 0 direct access,
// 1 the device one transfer per call (as before runs), 2 the device a run per call; nanoseconds
// of overhead per system call on the modelled clock.
void BM_Command(benchmark::State& state) {
  const bool read = state.range(0) == 1;
  const int speed = static_cast<int>(state.range(1));
  const auto side = state.range(2);
  constexpr std::uint32_t kImage = 0x800000;
  for (auto _ : state) {
    brevomat::testing::CartRig rig({.timing = sim::ChipTiming::Datasheet()});
    rig.window.recordProgress = false;
    rig.tee.recording = false;
    rig.window.radioSpeed = speed;
    KernelModel kernel(rig.adapter, static_cast<std::uint64_t>(state.range(3)));
    ParportDeviceBackend device(kernel);
    OneByOne oneByOne(device);
    if (side != 0) {
      device.OpenDevice("/dev/parport0");
      rig.core.port.Attach(side == 1 ? static_cast<PortBackend*>(&oneByOne) : &device);
    }
    std::string expected;
    if (read) {
      rig.cart.Flash() = brevomat::testing::MakeImage(rig.cart.Flash().size());
      rig.window.saveDialog1 = {(rig.dir / "dump.gba").string()};
      ReadClick(rig.core);
      expected = "Read Flash ok";
    } else {
      rig.window.openDialog1 = {
          std::vector<std::string>{rig.File("image.gba", brevomat::testing::MakeImage(kImage))}};
      rig.core.cart.Changed.Enabled = false;
      WriteClick(rig.core);
      expected = "Write Cart ok";
    }
    if (rig.window.status != expected) {
      state.SkipWithError(("ended with \"" + rig.window.status + "\"").c_str());
      break;
    }
    const sim::AdapterCounters& c = rig.adapter.counters();
    state.counters["modelled_s"] = static_cast<double>(rig.adapter.NowNs()) / 1e9;
    state.counters["syscalls"] = static_cast<double>(kernel.calls);
    state.counters["bus_cycles"] = static_cast<double>(
        c.byteReads + c.byteWrites + 2 * (c.wordReads + c.wordWrites) + kernel.statusChecks);
  }
}
void CommandArgs(benchmark::internal::Benchmark* b) {
  for (int read : {0, 1})
    for (int speed = 0; speed < 4; ++speed) {
      b->Args({read, speed, 0, 0});
      for (int side : {1, 2})
        for (int callNs : {0, 200}) b->Args({read, speed, side, callNs});
    }
}
BENCHMARK(BM_Command)
    ->Apply(CommandArgs)
    ->ArgNames({"read", "speed", "device", "call_ns"})
    ->Iterations(1)
    ->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
