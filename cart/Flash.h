// The flash command layer: Intel StrataFlash (28F320J3 / 28F640J3) commands written as 16-bit
// words through the adapter in ROM access mode, status reads, the two ready waits, and chip
// identification by the CFI query.
#pragma once

#include <cstdint>

#include "base/TransferBuffer.h"

namespace brevomat {

class Link;
class OperationFrame;
struct CartState;

namespace flash {
inline constexpr std::uint16_t kReadQuery = 0x98;
inline constexpr std::uint16_t kReadArray = 0xFF;
inline constexpr std::uint16_t kReadStatus = 0x70;
inline constexpr std::uint16_t kClearStatus = 0x50;
inline constexpr std::uint16_t kBlockEraseSetup = 0x20;
inline constexpr std::uint16_t kConfirm = 0xD0;
inline constexpr std::uint16_t kWriteToBuffer = 0xE8;
inline constexpr std::uint16_t kBufferWords = 16;
inline constexpr std::uint8_t kReadyClean = 0x80;
inline constexpr std::uint8_t kReadyBit = 0x80;
}  // namespace flash

std::uint8_t ReadFlashStatus(Link& link);  // 0x70 at word 0, then one read
std::uint8_t PeekFlashStatus(Link& link);  // one read: a busy chip answers with its status
bool WaitStatusReady(Link& link);          // up to 8192 status reads, no message pumping
// Up to 16384 polls; pumps messages and checks Stop every 1024.
bool WaitFlashReady(Link& link, OperationFrame& frame);
// Enable sequence + CFI query into the frame's transfer buffer; sets cart.FlashSize on success.
bool IdentifyFlash(Link& link, OperationFrame& frame, CartState& cart);
// First 256 words of the cart into the transfer buffer.
void ReadHeaderWords(Link& link, TransferBuffer& buffer);

}  // namespace brevomat
