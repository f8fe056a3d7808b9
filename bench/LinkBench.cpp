// Host cost of the port layer and the link: ns per port operation into a back end that does
// nothing, and per cart word against the virtual adapter.
#include <benchmark/benchmark.h>

#include "FakeWindow.h"
#include "commands/Core.h"
#include "link/Link.h"
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

}  // namespace

BENCHMARK_MAIN();
