#include "image/Ips.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "base/FileAccess.h"

namespace brevomat {

namespace {

constexpr std::uint32_t kMagicBytes = 5;       // "PATCH"
constexpr std::uint32_t kEndMarkerBytes = 3;   // "EOF"
constexpr std::uint32_t kRecordHeadBytes = 5;  // 3 offset bytes, 2 length bytes
// The smallest further record needs its 5 head bytes and 1 data byte, and "EOF" must still follow:
// with 8 bytes or fewer left there is no record, only up to five stray bytes before the marker.
constexpr std::uint32_t kNoRecordLeft = 8;
// Offsets are 24-bit: 512 chunks of 32 KB. A record that runs beyond the last of them has nowhere
// to put its remaining bytes (they must not wrap round into chunk 0).
constexpr std::uint32_t kOffsetLimit = 0x1000000;

// Nothing of a patch that failed to load may be applied.
void Forget(IpsPatch& patch) {
  patch.IpsSize = 0;
  patch.IpsRecordCount = 0;
}

std::uint32_t RecordCount(const IpsPatch& patch) {
  return std::min<std::uint32_t>(patch.IpsRecordCount, kIpsMaxRecords);
}

}  // namespace

IpsLoad ReadIpsPatch(IpsPatch& patch) {
  Forget(patch);
  // The name must end inside its field; an unterminated one names no file.
  if (std::memchr(patch.IpsFileName, '\0', sizeof patch.IpsFileName) == nullptr) return IpsLoad::Unreadable;
  std::FILE* file = OpenRegularFile(patch.IpsFileName);
  if (file == nullptr) return IpsLoad::Unreadable;

  struct stat st {};
  if (fstat(fileno(file), &st) != 0 || st.st_size < 0) {
    std::fclose(file);
    return IpsLoad::Unreadable;
  }
  // Judge the full length before narrowing it: a file of 4 GB and a few bytes is not a small one.
  const auto length = static_cast<unsigned long long>(st.st_size);
  if (length > kIpsMaxSize || length < kIpsMinSize) {
    std::fclose(file);
    return IpsLoad::BadSize;
  }
  const auto size = static_cast<std::uint32_t>(length);
  const std::size_t got = std::fread(patch.IpsData.data(), 1, size, file);
  std::fclose(file);
  if (got != size) return IpsLoad::Unreadable;

  const std::uint8_t* d = patch.IpsData.data();
  if (std::memcmp(d, "PATCH", kMagicBytes) != 0 || std::memcmp(d + size - kEndMarkerBytes, "EOF", 3) != 0)
    return IpsLoad::NotIps;

  patch.IpsSize = size;
  if (ParseIpsRecords(patch) != 0) {
    Forget(patch);
    return IpsLoad::BadRecords;
  }
  return IpsLoad::Ok;
}

int LoadIpsPatch(IpsPatch& patch, OperationFrame& frame) {
  switch (ReadIpsPatch(patch)) {
    case IpsLoad::Ok:
      // The patch is ready; its bytes are placed chunk by chunk as the image passes.
      frame.LogLine("-->Ips Applied<--");
      return 0;
    case IpsLoad::BadSize:
      frame.LogLine("***** Ips Size Error *****");
      break;
    case IpsLoad::BadRecords:
      frame.LogLine("***** Ips Data Error *****");
      break;
    // The user chose a file and must learn that the image goes in unpatched.
    case IpsLoad::Unreadable:
      frame.LogLine("Ips File Open Error: not applied");
      break;
    case IpsLoad::NotIps:
      frame.LogLine("Not an IPS patch: not applied");
      break;
  }
  return -1;
}

int ParseIpsRecords(IpsPatch& patch) {
  patch.IpsRecordCount = 0;
  const std::uint32_t size = patch.IpsSize;
  if (size < kIpsMinSize || size > kIpsMaxSize) return -1;

  const std::uint8_t* d = patch.IpsData.data();
  std::uint32_t p = kMagicBytes;  // parse position
  std::uint32_t left = size - p;  // bytes from p to the end of the file, "EOF" included
  std::uint32_t count = 0;
  while (count < kIpsMaxRecords && left > kNoRecordLeft) {
    const std::uint32_t offset = (d[p] << 16) | (d[p + 1] << 8) | d[p + 2];
    const std::uint32_t length = (d[p + 3] << 8) | d[p + 4];
    // Length 0 is the run-length form, which is not taken. The data and the final "EOF" must both
    // fit in what is left, so no record's bytes ever reach into the end marker or past the data.
    if (length == 0 || length > left - kNoRecordLeft) return -1;
    IpsRecord& e = patch.IpsRecordTable[count];
    e.Offset = offset;
    e.Size = static_cast<std::uint16_t>(length);
    e.DataPos = static_cast<std::uint16_t>(p + kRecordHeadBytes);  // below 0x8000
    p += kRecordHeadBytes + length;
    left -= kRecordHeadBytes + length;
    ++count;
  }
  // The table is full and more than five stray bytes stand before the marker: more records.
  if (left > kNoRecordLeft) return -1;
  patch.IpsRecordCount = static_cast<std::uint16_t>(count);
  return 0;
}

void ApplyIpsToChunk(IpsPatch& patch, std::uint32_t n, TransferBuffer& buffer) {
  const std::uint32_t count = RecordCount(patch);
  for (std::uint32_t i = 0; i < count; ++i) {
    const IpsRecord& e = patch.IpsRecordTable[i];
    // Chunks count from the image's first byte; a record placed partly in an earlier chunk now
    // points at this chunk's first byte with the rest of its data.
    if (e.Size != 0 && e.Offset < kOffsetLimit && (e.Offset / kChunkBytes) == n)
      ApplyIpsRecord(patch, i, buffer);
  }
}

void ApplyIpsRecord(IpsPatch& patch, std::uint32_t i, TransferBuffer& buffer) {
  if (i >= RecordCount(patch)) return;
  IpsRecord& e = patch.IpsRecordTable[i];
  if (e.Size == 0 || e.Offset >= kOffsetLimit) return;
  const std::uint32_t dataEnd = std::min(patch.IpsSize, kIpsMaxSize);
  if (e.DataPos >= dataEnd) {
    e.Size = 0;  // a table that does not describe IpsData: place nothing
    return;
  }
  // Place the record's bytes up to the end of this chunk; the rest waits for the next one.
  const std::uint32_t pos = e.Offset % kChunkBytes;
  const std::uint32_t take =
      std::min({static_cast<std::uint32_t>(e.Size), kChunkBytes - pos, dataEnd - e.DataPos});
  std::memcpy(buffer.data() + pos, patch.IpsData.data() + e.DataPos, take);
  e.Size = static_cast<std::uint16_t>(e.Size - take);
  e.DataPos = static_cast<std::uint16_t>(e.DataPos + take);
  e.Offset += take;
  if (e.DataPos >= dataEnd) e.Size = 0;
}

}  // namespace brevomat
