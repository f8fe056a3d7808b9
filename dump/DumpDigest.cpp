#include "dump/DumpDigest.h"

#include <zlib.h>

#include <algorithm>

namespace brevomat {

namespace {

bool IsPrefixSize(std::uint64_t size) { return size >= kSmallestGame && (size & (size - 1)) == 0; }

bool AllErased(const std::uint8_t* data, std::uint32_t size) {
  return std::all_of(data, data + size, [](std::uint8_t b) { return b == 0xFF; });
}

}  // namespace

void DumpDigest::ChunkConfirmed(const std::uint8_t* data, std::uint32_t size) {
  whole_.Update(data, size);
  // The used size is judged in whole chunks; anything else (never sent by the read-out) ends
  // the judging, and the read-out then counts as used to its end.
  if (size == kChunkBytes && chunks_ >= 0 && chunks_ < kMaxChunks) {
    ChunkPrint& print = prints_[static_cast<std::size_t>(chunks_++)];
    print.crc = static_cast<std::uint32_t>(crc32_z(crc32_z(0L, Z_NULL, 0), data, size));
    print.adler = static_cast<std::uint32_t>(adler32_z(adler32_z(0L, Z_NULL, 0), data, size));
    print.blank = AllErased(data, size);
  } else {
    chunks_ = -1;
  }
  size_ += size;
  // A prefix is taken where the data reaches a power of two; it is no more than a snapshot of
  // the running hashes, so the data is hashed once however many prefixes there are.
  if (IsPrefixSize(size_) && prefixCount_ < kMaxPrefixes) {
    if (!whole_.Peek(prefixes_[static_cast<std::size_t>(prefixCount_++)])) ok_ = false;
  }
}

const Digests* DumpDigest::Prefix(std::uint64_t size) const {
  for (int i = 0; i < prefixCount_; ++i)
    if (prefixes_[static_cast<std::size_t>(i)].size == size) return &prefixes_[static_cast<std::size_t>(i)];
  return nullptr;
}

UsedSize DumpDigest::Used() const {
  if (chunks_ <= 0 || size_ != std::uint64_t(chunks_) * kChunkBytes) return {};
  const auto n = static_cast<std::size_t>(chunks_);
  for (std::size_t m = kSmallestGame / kChunkBytes; m < n; m *= 2) {
    bool blank = true, mirror = true;
    for (std::size_t j = m; j < n && (blank || mirror); ++j) {
      blank = blank && prints_[j].blank;
      mirror = mirror && prints_[j] == prints_[j % m];
    }
    if (blank) return {m * kChunkBytes, UnusedTail::Blank};
    if (mirror) return {m * kChunkBytes, UnusedTail::Mirror};
  }
  return {};
}

}  // namespace brevomat
