// Feeds arbitrary bytes to the DAT reader and looks a read-out up in what it accepted: it must
// never crash, every refusal names the file, and a game it names always has a name.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "dump/Dat.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  brevomat::DatFile dat;
  std::string error;
  if (!dat.Parse(text, "fuzz.dat", error)) {
    if (error.find("fuzz.dat") == std::string::npos || dat.RomCount() != 0 || dat.Stopped()) std::abort();
    return 0;
  }
  if (dat.RomCount() == 0) std::abort();
  // Look up the sizes and CRCs the bytes themselves spell, as a read-out's digests would be.
  brevomat::Digests digests;
  for (std::size_t at = 0; at + 12 <= size; at += 12) {
    std::uint32_t size32 = 0, crc = 0;
    std::memcpy(&size32, data + at, 4);
    std::memcpy(&crc, data + at + 4, 4);
    digests.size = size32;
    digests.crc32 = crc;
    digests.sha1.fill(data[at + 8]);
    if (const std::string* game = dat.Find(digests); game != nullptr && game->empty()) std::abort();
  }
  return 0;
}
