#include "dump/Trim.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "base/FileAccess.h"

namespace brevomat {

bool TrimFile(const std::string& name, const Digests& kept, const Digests& whole, UnusedTail tail,
              std::string& error) {
  if (kept.size == 0 || kept.size >= whole.size) {
    error = "nothing to cut";
    return false;
  }
  std::vector<std::uint8_t> bytes(kept.size);
  {
    errno = 0;
    const UniqueFile file(OpenRegularFile(name.c_str()));
    if (!file) {
      error = std::string("cannot read it back: ") + std::strerror(errno);
      return false;
    }
    Checksums all;
    Digests headDigests, allDigests;
    if (std::fread(bytes.data(), 1, bytes.size(), file.get()) != bytes.size()) {
      error = "it is shorter than the read-out";
      return false;
    }
    all.Update(bytes.data(), bytes.size());
    const bool headHashed = all.Peek(headDigests);
    // The rest is read in blocks and judged as the used size judged it, byte for byte.
    std::uint8_t block[0x8000];
    std::uint64_t offset = kept.size;
    bool tailAsSaid = true;
    for (std::size_t got = 0; (got = std::fread(block, 1, sizeof block, file.get())) > 0; offset += got) {
      all.Update(block, got);
      for (std::size_t i = 0; i < got && tailAsSaid && tail != UnusedTail::None; ++i)
        tailAsSaid = block[i] == (tail == UnusedTail::Blank ? 0xFF : bytes[(offset + i) % kept.size]);
    }
    if (std::ferror(file.get())) {
      error = std::string("cannot read it back: ") + std::strerror(errno != 0 ? errno : EIO);
      return false;
    }
    if (!headHashed || !all.Peek(allDigests)) {
      error = "the checksums of the file could not be computed";
      return false;
    }
    // The file on the disk must be the read-out itself: anything else (changed or replaced since)
    // is no ground for cutting it.
    if (!(headDigests == kept) || !(allDigests == whole)) {
      error = "it no longer holds exactly what was read from the cart";
      return false;
    }
    if (!tailAsSaid) {
      error = std::string("its bytes after the first ") + std::to_string(kept.size) + " bytes" + " are not " +
              (tail == UnusedTail::Blank ? "all 0xFF" : "a repetition of them");
      return false;
    }
  }
  if (!ReplaceFileContents(name.c_str(), bytes.data(), bytes.size())) {
    error = std::string("cannot replace it: ") + std::strerror(errno);
    return false;
  }
  return true;
}

}  // namespace brevomat
