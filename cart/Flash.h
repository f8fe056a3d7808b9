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
inline constexpr std::uint8_t kErrorBits = 0x7F;

// The chip's worst cases (28F320J3/28F640J3 datasheet: block erase 5 s, a 32-byte buffer
// 654 us), with a margin. A wait gives up only once it has both used up its poll count and lasted
// this long, so a slow but healthy chip is not failed because the link polls fast.
inline constexpr std::uint64_t kEraseWaitNs = 6'000'000'000;
inline constexpr std::uint64_t kProgramWaitNs = 1'000'000;
inline constexpr std::uint32_t kPumpMask = 0x3FF;  // pump messages every 1024 polls
}  // namespace flash

// Counts the polls of one wait and tells when it may give up: after `polls` polls, and not before
// `minNs` have passed on the port's clock.
class PollLimit {
 public:
  PollLimit(Link& link, std::uint32_t polls, std::uint64_t minNs);
  // Counts one poll; true when the wait has run out.
  bool Spent();
  std::uint32_t Polls() const { return polls_; }

 private:
  Link& link_;
  std::uint32_t polls_ = 0;
  std::uint32_t limit_;
  std::uint64_t startNs_;
  std::uint64_t minNs_;
};

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
