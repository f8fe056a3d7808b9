#include "cart/Flash.h"

#include "base/Operation.h"
#include "cart/CartState.h"
#include "cart/FlashChips.h"
#include "link/ControlSequences.h"
#include "link/Link.h"

namespace brevomat {

namespace {

std::uint8_t ReadLowByte(Link& link) {
  link.WriteControl(control::kReadLevel);
  return static_cast<std::uint8_t>(link.ReadCartWord());
}

// Reads 256 words from word address 0 into the transfer buffer.
void ReadFirstRun(Link& link, TransferBuffer& buffer) {
  link.SelectAdapterRegister(adapter::kData);
  link.WriteControl(control::kReadLevel);
  link.ReadCartWords(buffer.data(), kRunWords);
}

}  // namespace

PollLimit::PollLimit(Link& link, std::uint32_t polls, std::uint64_t minNs)
    : link_(link), limit_(polls), startNs_(link.Io().ClockNs()), minNs_(minNs) {}

bool PollLimit::Spent() {
  if (polls_ < limit_) ++polls_;
  return polls_ >= limit_ && link_.Io().ClockNs() - startNs_ >= minNs_;
}

std::uint8_t ReadFlashStatus(Link& link) {
  link.WriteCartWord(0, flash::kReadStatus);
  return ReadLowByte(link);
}

std::uint8_t PeekFlashStatus(Link& link) { return ReadLowByte(link); }

bool WaitStatusReady(Link& link) {
  for (PollLimit limit(link, 0x2000, flash::kProgramWaitNs);;) {
    if (ReadFlashStatus(link) & flash::kReadyBit) return true;
    if (limit.Spent()) {
      link.WriteCartWord(0, flash::kClearStatus);
      return false;
    }
  }
}

bool WaitFlashReady(Link& link, OperationFrame& frame) {
  std::uint8_t s = ReadFlashStatus(link);
  if (s & flash::kReadyBit) {
    if ((s & flash::kErrorBits) == 0) return true;
  } else {
    for (PollLimit limit(link, 0x4000, flash::kProgramWaitNs);;) {
      s = ReadFlashStatus(link);
      if (s == flash::kReadyClean) return true;
      const bool spent = limit.Spent();
      if ((limit.Polls() & flash::kPumpMask) == 0 && frame.PollStopInWait()) return false;
      // Ready with an error bit: the operation has failed, polling on would change nothing.
      if (spent || (s & flash::kReadyBit)) break;
    }
  }
  // Clear the error bits with a bare data transfer at whatever address the adapter holds.
  link.WriteControl(control::kWriteLevel);
  link.WriteDataWord(flash::kClearStatus);
  return false;
}

bool IdentifyFlash(Link& link, OperationFrame& frame, CartState& cart) {
  EnableFlashAccess(link);
  WaitFlashReady(link, frame);
  link.WriteCartWord(0, flash::kReadQuery);
  link.SetCartAddress(0);
  ReadFirstRun(link, frame.Buffer);
  link.WriteCartWord(0, flash::kReadArray);

  const TransferBuffer& b = frame.Buffer;
  auto low = [&b](std::uint32_t word) { return static_cast<std::uint8_t>(b.Word(word)); };
  if (low(0x10) != 'Q' || low(0x11) != 'R' || low(0x12) != 'Y') return false;
  const FlashChipInfo* chip = FindFlashChip(low(0), low(1));
  if (chip == nullptr) return false;
  cart.FlashSize = chip->size;
  return true;
}

void ReadHeaderWords(Link& link, TransferBuffer& buffer) {
  link.WriteAdapterRegister(adapter::kAddressLow, 0);
  link.WriteAdapterRegister(adapter::kAddressMid, 0);
  link.WriteAdapterRegister(adapter::kAddressHigh, 0);
  ReadFirstRun(link, buffer);
}

}  // namespace brevomat
