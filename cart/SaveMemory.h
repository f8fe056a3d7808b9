// The cartridge's byte-wide save memory: 256 KB in four 64 KB banks, moved in 32 KB save units.
//
// Unit u lies in bank u >> 1, in its lower half when u is even and its upper half when u is odd.
// The cart picks the bank from the last write of its bank-select control sequence; the adapter, in
// save access mode, takes register 0 as address bits 0..7 and register 1 as bits 8..15 of a byte
// address within that bank (register 2 is written 0). Save memory is plain byte memory: a written
// byte is taken at once, with no command words, no status polling and no delay.
//
// A unit is moved as 128 blocks of 256 single-byte transfers, the address reloaded for every
// block. There are no 16-bit transfers in save access mode. Nothing on the cable reports an
// error, so every read is confirmed by reading the unit again and every write is verified by
// reading it back; a missing or unpowered save memory shows up only as a failed comparison.
#pragma once

#include <cstdint>
#include <string>

#include "base/TransferBuffer.h"

namespace brevomat {

class Link;
class OperationFrame;
struct CartState;

inline constexpr std::uint32_t kSaveUnitBytes = 0x8000;  // one save unit: 32 KB
inline constexpr int kSaveUnits = 8;                     // 256 KB of save memory

// The unit operations. Each selects the bank of unit `u` (0..7), switches the adapter to save
// access mode and runs the unit's 128 blocks against the first 32 KB of `buffer`. They return
// kResultDone when every byte agreed and kResultFailed at the first difference (or for a unit
// number outside 0..7, for which nothing is sent). The adapter is left in save access mode.
int ReadSaveUnit(Link& link, TransferBuffer& buffer, std::int8_t u);           // read, then confirm
int CompareSaveUnit(Link& link, const TransferBuffer& buffer, std::int8_t u);  // stops at a difference
int WriteSaveUnit(Link& link, const TransferBuffer& buffer, std::int8_t u);    // write, then verify

// True when the first unit of bank 0 reads the same twice over. A cart without save memory
// leaves the data lines floating, and floating lines never read the same twice.
bool ProbeSaveMemory(Link& link, TransferBuffer& buffer);

// Save memory into SaveDialog1's file: creates the file, opens the operation frame and reads
// cart.SaveUnitCount units from cart.SaveStartUnit on. Returns kResultDone, kResultCancelled
// (Stop, or a file that could not be created) or kResultFailed. Does not close the frame.
int BackupSaveToFile(Link& link, OperationFrame& frame, CartState& cart);

// The open CurrentFile into save memory: cart.InputFileSize / 32 KB units from
// cart.SaveStartUnit on, each verified. The caller has opened the file, set InputFileSize to a
// whole number of units and opened the frame. Returns kResultDone, kResultCancelled (Stop) or
// kResultFailed. Does not close the frame.
int RestoreSaveFromFile(Link& link, OperationFrame& frame, CartState& cart);

// Reads `count` units from unit `first` on, each confirmed as a backup's are, into the new file
// `name`. The file appears only complete, and never in the place of a file that exists. Returns
// kResultDone, or kResultFailed with the reason in `error` (logs nothing: the caller says in one
// line why nothing was written). Uses the transfer buffer; opens no frame.
int KeepSaveUnits(Link& link, OperationFrame& frame, std::int8_t first, std::uint32_t count,
                  const std::string& name, std::string& error);

}  // namespace brevomat
