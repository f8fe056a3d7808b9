#include "cart/Flash.h"

#include "base/Operation.h"
#include "cart/CartState.h"
#include "cart/FlashChips.h"
#include "link/ControlSequences.h"
#include "link/Link.h"

namespace brevomat {

namespace {

constexpr std::uint32_t kPumpMask = 0x3FF;  // pump messages every 1024 polls

std::uint8_t ReadLowByte(Link& link) {
  link.WriteControl(control::kReadLevel);
  return static_cast<std::uint8_t>(link.ReadCartWord());
}

// Reads 256 words from word address 0 into the transfer buffer.
void ReadFirstRun(Link& link, TransferBuffer& buffer) {
  link.SelectAdapterRegister(adapter::kData);
  link.WriteControl(control::kReadLevel);
  for (std::uint32_t k = 0; k < kRunWords; ++k) buffer.SetWord(k, link.ReadCartWord());
}

}  // namespace

std::uint8_t ReadFlashStatus(Link& link) {
  link.WriteCartWord(0, flash::kReadStatus);
  return ReadLowByte(link);
}

std::uint8_t PeekFlashStatus(Link& link) { return ReadLowByte(link); }

bool WaitStatusReady(Link& link) {
  for (std::uint32_t counter = 0x2000;;) {
    if (ReadFlashStatus(link) & flash::kReadyBit) return true;
    if (--counter == 0) {
      link.WriteCartWord(0, flash::kClearStatus);
      return false;
    }
  }
}

bool WaitFlashReady(Link& link, OperationFrame& frame) {
  std::uint8_t s = ReadFlashStatus(link);
  if (s & flash::kReadyBit) {
    if ((s & 0x7F) == 0) return true;
  } else {
    for (std::uint32_t counter = 0x4000;;) {
      s = ReadFlashStatus(link);
      if (s == flash::kReadyClean) return true;
      --counter;
      if ((counter & kPumpMask) == 0 && frame.PollStopInWait()) return false;
      if (counter == 0 || (s & flash::kReadyBit)) break;
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
