// Arbitrary bytes as an IPS patch: through the file loader or straight into the patch buffer,
// then parsed and applied over several chunks. Any read or write outside IpsData, the record
// table or the transfer buffer is caught by the sanitizers; placed bytes are checked against a
// plain model of the format.
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "base/Operation.h"
#include "base/Window.h"
#include "image/Ips.h"

namespace {

using namespace brevomat;

struct State {
  SilentWindow window;
  OperationFrame frame{window};
  IpsPatch patch;
  IpsPatch copy;
  std::string path;
  std::vector<std::uint8_t> model;  // the first kModelChunks chunks as the records should leave them
};

constexpr std::uint32_t kModelChunks = 4;

State& Shared() {
  static State* s = [] {
    auto* st = new State;
    char name[] = "/tmp/brevomat_ips_fuzz_XXXXXX";
    const int fd = mkstemp(name);
    if (fd < 0) std::abort();
    close(fd);
    st->path = name;
    std::atexit([] { std::remove(Shared().path.c_str()); });
    return st;
  }();
  return *s;
}

// Records in file order over a zero image of kModelChunks chunks.
void BuildModel(State& s) {
  s.model.assign(std::size_t{kModelChunks} * kChunkBytes, 0);
  for (std::uint32_t i = 0; i < s.patch.IpsRecordCount; ++i) {
    const IpsRecord& e = s.patch.IpsRecordTable[i];
    for (std::uint32_t k = 0; k < e.Size; ++k)
      if (e.Offset + k < s.model.size()) s.model[e.Offset + k] = s.patch.IpsData[e.DataPos + k];
  }
}

// One writer pass over chunks 0..3 (compared with the model) and then a few others.
void Pass(State& s, const std::uint8_t* extra, std::size_t extraCount) {
  TransferBuffer& buf = s.frame.Buffer;
  for (std::uint32_t n = 0; n < kModelChunks; ++n) {
    buf.bytes.fill(0);
    ApplyIpsToChunk(s.patch, n, buf);
    if (std::memcmp(buf.data(), s.model.data() + std::size_t{n} * kChunkBytes, kChunkBytes) != 0)
      std::abort();
  }
  // Every byte meant for chunks 0..3 is placed: running them again must change nothing.
  buf.bytes.fill(0x5A);
  for (std::uint32_t n = 0; n < kModelChunks; ++n) ApplyIpsToChunk(s.patch, n, buf);
  if (std::any_of(buf.bytes.begin(), buf.bytes.end(), [](std::uint8_t v) { return v != 0x5A; })) std::abort();
  for (std::size_t k = 0; k < extraCount; ++k) ApplyIpsToChunk(s.patch, extra[k] * 3u, buf);
  ApplyIpsToChunk(s.patch, 511, buf);
  ApplyIpsToChunk(s.patch, 512, buf);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  State& s = Shared();
  int result;
  // Inputs ending in an odd byte go through the file; the others straight into the buffer, so
  // that both the loader's checks and the parser behind them are exercised.
  if (size > 0 && (data[size - 1] & 1) != 0) {
    std::FILE* f = std::fopen(s.path.c_str(), "wb");
    if (f == nullptr) return 0;
    std::fwrite(data, 1, size, f);
    std::fclose(f);
    if (!StoreFileName(s.patch.IpsFileName, s.path)) std::abort();
    result = LoadIpsPatch(s.patch, s.frame);
  } else {
    s.patch.IpsData.fill(0xEE);
    std::memcpy(s.patch.IpsData.data(), data, std::min<std::size_t>(size, kIpsMaxSize));
    // Sizes out of range are given too: the parser must refuse them without reading.
    s.patch.IpsSize = static_cast<std::uint32_t>(size);
    result = ParseIpsRecords(s.patch);
  }
  if (result != 0) {
    if (s.patch.IpsRecordCount != 0) std::abort();
    ApplyIpsToChunk(s.patch, 0, s.frame.Buffer);
    return 0;
  }
  if (s.patch.IpsRecordCount == 0 || s.patch.IpsRecordCount > kIpsMaxRecords) std::abort();
  const std::uint32_t keptSize = s.patch.IpsSize;
  s.copy.IpsRecordTable = s.patch.IpsRecordTable;
  BuildModel(s);

  const std::size_t extraCount = std::min<std::size_t>(size, 8);
  Pass(s, data, extraCount);
  // Re-parsing gives back the very same table, and a second pass the same bytes.
  if (ParseIpsRecords(s.patch) != 0 || s.patch.IpsSize != keptSize) std::abort();
  for (std::uint32_t i = 0; i < s.patch.IpsRecordCount; ++i) {
    const IpsRecord& a = s.patch.IpsRecordTable[i];
    const IpsRecord& b = s.copy.IpsRecordTable[i];
    if (a.Offset != b.Offset || a.Size != b.Size || a.DataPos != b.DataPos) std::abort();
  }
  Pass(s, data, extraCount);
  return 0;
}
