// What recording every port access (--trace) costs: host time of Write Flash of an 8 MB image on
// the virtual cart without and with the record, the record's size, and the cost of one cart word
// written through the link with and without it. The virtual adapter notes its own accesses, as
// the program records it; "wrapped" puts the recorder around it instead, as around a real port.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "CartRig.h"
#include "commands/Commands.h"
#include "link/Link.h"
#include "port/PortRecorder.h"
#include "sim/RamCart.h"

namespace {

using namespace brevomat;

// recorded 0: no record; 1: recorded into a file beside the image; 2: the same, the recorder
// wrapped around the adapter. compared 0: every block erased and programmed (--every-block);
// 1: the write as it is usually made, onto the erased cart: each block read first, then only
// programmed, since it is blank.
void BM_Write8MB(benchmark::State& state) {
  const bool record = state.range(0) != 0;
  const bool wrapped = state.range(0) == 2;
  const bool compared = state.range(1) != 0;
  const std::vector<std::uint8_t> image = brevomat::testing::MakeImage(8 << 20);
  std::uint64_t recordBytes = 0, accesses = 0;
  for (auto _ : state) {
    state.PauseTiming();
    brevomat::testing::CartRigOptions o;
    o.timing = sim::ChipTiming::Datasheet();
    auto rig = std::make_unique<brevomat::testing::CartRig>(o);
    rig->window.recordProgress = false;
    rig->window.openDialog1 = {std::vector<std::string>{rig->File("image.gba", image)}};
    rig->core.cart.Changed.Enabled = compared;
    // The adapter itself, as the program attaches it (the rig's tee is for tests).
    rig->core.port.Attach(&rig->adapter);
    PortRecorder recorder;
    const std::string path = (rig->dir / "write.rec").string();
    std::string error;
    if (record) {
      if (!recorder.Open(path, error)) state.SkipWithError(error.c_str());
      PortBackend& noted = recorder.Start(rig->adapter, {"bench", "virtual cart", 0x378, "EPP", "4"});
      rig->core.port.Attach(&noted);
      if (wrapped) {
        rig->adapter.NotesInto(nullptr);  // as a back end that does not note its own accesses
        rig->core.port.Attach(&recorder);
      }
    }
    state.ResumeTiming();
    WriteClick(rig->core);
    if (record) recorder.Close(error);
    state.PauseTiming();
    if (rig->window.status != "Write Cart ok") state.SkipWithError(rig->window.status.c_str());
    if (record) recordBytes = std::filesystem::file_size(path);
    const auto& c = rig->adapter.counters();
    accesses = c.byteReads + c.byteWrites + c.wordReads + c.wordWrites;
    rig.reset();
    state.ResumeTiming();
  }
  state.counters["accesses"] = static_cast<double>(accesses);
  state.counters["record_MB"] = static_cast<double>(recordBytes) / (1 << 20);
}
BENCHMARK(BM_Write8MB)
    ->ArgsProduct({{0, 1, 2}, {0, 1}})
    ->ArgNames({"recorded", "compared"})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);

// One WriteCartWord (13 port accesses in EPP, 32 in SPP) on the virtual adapter, recorded into
// the null device or not: the recorder's own cost per access, the compression included.
void BM_RecordedWriteCartWord(benchmark::State& state) {
  sim::RamCart cart;
  sim::VirtualAdapter adapter(sim::AdapterConfig{}, cart);
  PortRecorder recorder;
  std::string error;
  const bool record = state.range(0) != 0;
  PortIo io(&adapter);
  if (record) {
    if (!recorder.OpenStream(std::fopen("/dev/null", "wb"), error)) state.SkipWithError(error.c_str());
    io.Attach(&recorder.Start(adapter, {"bench", "virtual adapter", 0x378, "EPP", "4"}));
  }
  Link link(io);
  link.Mode = state.range(1) ? LinkMode::SPP : LinkMode::EPP;
  link.SetRomAccessMode();
  std::uint32_t a = 0;
  for (auto _ : state) {
    ++a;
    link.WriteCartWord(a & 0xFFFF, static_cast<std::uint16_t>(a * 2654435761u >> 7));
  }
  recorder.Close(error);
}
BENCHMARK(BM_RecordedWriteCartWord)->ArgsProduct({{0, 1}, {0, 1}})->ArgNames({"recorded", "spp"});

}  // namespace

BENCHMARK_MAIN();
