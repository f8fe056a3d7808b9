// IPS patches applied to an image on its way into the flash, chunk by chunk, in place in the
// transfer buffer. The patch file itself lives in one fixed 32 KB buffer and a 1024-entry table;
// nothing is allocated.
#pragma once

#include <array>
#include <cstdint>

#include "base/Operation.h"
#include "base/TransferBuffer.h"

namespace brevomat {

inline constexpr std::uint32_t kIpsMaxSize = 0x8000;
inline constexpr std::uint32_t kIpsMinSize = 14;
inline constexpr std::uint32_t kIpsMaxRecords = 1024;

struct IpsRecord {
  std::uint32_t Offset = 0;   // image offset of the next byte to place
  std::uint16_t Size = 0;     // bytes not yet placed
  std::uint16_t DataPos = 0;  // index in IpsData of the next byte to place
};

struct IpsPatch {
  char IpsFileName[kFileNameBytes] = {};
  std::array<std::uint8_t, kIpsMaxSize> IpsData{};
  std::uint32_t IpsSize = 0;
  std::array<IpsRecord, kIpsMaxRecords> IpsRecordTable{};
  std::uint16_t IpsRecordCount = 0;
};

enum class IpsLoad {
  Ok,
  Unreadable,  // missing, unreadable, or no regular file (errno tells)
  BadSize,     // shorter than 14 or longer than 32,768 bytes
  NotIps,      // no "PATCH" at the start or no "EOF" at the end
  BadRecords,  // the records do not fit the file, or more than 1024 of them
};

// Loads IpsFileName into IpsData and parses it, without a word to the user.
IpsLoad ReadIpsPatch(IpsPatch& patch);

// Loads IpsFileName into IpsData and parses it; logs the outcome. 0 or -1. On -1 the patch holds
// no records (IpsSize and IpsRecordCount are 0), whatever an earlier load left there.
int LoadIpsPatch(IpsPatch& patch, OperationFrame& frame);
// (Re)builds the record table from IpsData / IpsSize. 0 or -1; IpsSize is never changed, and on
// -1 IpsRecordCount is 0. A size outside 14..32,768 is refused without reading IpsData.
int ParseIpsRecords(IpsPatch& patch);
// Places every pending byte that falls into chunk n (counted from the image's first byte). Bytes
// a record would place beyond the 24-bit offset range are never placed.
void ApplyIpsToChunk(IpsPatch& patch, std::uint32_t n, TransferBuffer& buffer);
// Places entry i's pending bytes up to the end of the chunk its Offset lies in. Does nothing for
// i beyond IpsRecordCount; never reads past IpsSize, whatever the entry holds.
void ApplyIpsRecord(IpsPatch& patch, std::uint32_t i, TransferBuffer& buffer);

}  // namespace brevomat
