#include "link/ControlSequences.h"

#include "link/Link.h"

namespace brevomat {

void CartControlSequence(Link& link) {
  link.SetRomAccessMode();
  for (const SequenceStep& step : kCartControlPreamble) {
    // Every repeat is a complete cart write: the address is loaded again each time.
    for (std::uint16_t i = 0; i < step.times; ++i) link.WriteCartWord(step.address, step.value);
  }
}

void EnableFlashAccess(Link& link) {
  CartControlSequence(link);
  link.WriteCartWord(kFlashEnableAddress, kFlashEnableValue);
}

void SelectSaveBank(Link& link, std::int8_t unit) {
  if (unit < 0 || unit > 7) return;
  CartControlSequence(link);
  link.WriteCartWord(kSaveBankAddress, static_cast<std::uint16_t>(unit >> 1));
}

}  // namespace brevomat
