#include "cart/Flash.h"

#include "link/ControlSequences.h"
#include "shell/Core.h"

namespace brevomat {

namespace {

constexpr std::uint32_t kPumpMask = 0x3FF;  // pump messages every 1024 polls

std::uint8_t ReadLowByte(Link& link) {
  link.WriteControl(control::kReadLevel);
  return static_cast<std::uint8_t>(link.ReadCartWord());
}

// Reads 256 words from word address 0 into the transfer buffer.
void ReadFirstRun(Core& core) {
  Link& link = core.link;
  link.SelectAdapterRegister(adapter::kData);
  link.WriteControl(control::kReadLevel);
  for (std::uint32_t k = 0; k < kRunWords; ++k) core.frame.Buffer.SetWord(k, link.ReadCartWord());
}

}  // namespace

std::uint8_t ReadFlashStatus(Core& core) {
  core.link.WriteCartWord(0, flash::kReadStatus);
  return ReadLowByte(core.link);
}

std::uint8_t PeekFlashStatus(Core& core) { return ReadLowByte(core.link); }

bool WaitStatusReady(Core& core) {
  for (std::uint32_t counter = 0x2000;;) {
    if (ReadFlashStatus(core) & flash::kReadyBit) return true;
    if (--counter == 0) {
      core.link.WriteCartWord(0, flash::kClearStatus);
      return false;
    }
  }
}

bool WaitFlashReady(Core& core) {
  std::uint8_t s = ReadFlashStatus(core);
  if (s & flash::kReadyBit) {
    if ((s & 0x7F) == 0) return true;
  } else {
    for (std::uint32_t counter = 0x4000;;) {
      s = ReadFlashStatus(core);
      if (s == flash::kReadyClean) return true;
      --counter;
      if ((counter & kPumpMask) == 0 && core.frame.PollStopInWait()) return false;
      if (counter == 0 || (s & flash::kReadyBit)) break;
    }
  }
  // Clear the error bits with a bare data transfer at whatever address the adapter holds.
  core.link.WriteControl(control::kWriteLevel);
  core.link.WriteDataWord(flash::kClearStatus);
  return false;
}

bool IdentifyFlash(Core& core) {
  Link& link = core.link;
  EnableFlashAccess(link);
  WaitFlashReady(core);
  link.WriteCartWord(0, flash::kReadQuery);
  link.SetCartAddress(0);
  ReadFirstRun(core);
  link.WriteCartWord(0, flash::kReadArray);

  const TransferBuffer& b = core.frame.Buffer;
  auto low = [&b](std::uint32_t word) { return static_cast<std::uint8_t>(b.Word(word)); };
  if (low(0x10) != 'Q' || low(0x11) != 'R' || low(0x12) != 'Y') return false;
  if (low(0) != 0x89) return false;
  if (low(1) == 0x16) {
    core.cart.FlashSize = kFlash4M;
    return true;
  }
  if (low(1) == 0x17) {
    core.cart.FlashSize = kFlash8M;
    return true;
  }
  return false;
}

void ReadHeaderWords(Core& core) {
  Link& link = core.link;
  link.WriteAdapterRegister(adapter::kAddressLow, 0);
  link.WriteAdapterRegister(adapter::kAddressMid, 0);
  link.WriteAdapterRegister(adapter::kAddressHigh, 0);
  ReadFirstRun(core);
}

}  // namespace brevomat
