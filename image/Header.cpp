#include "image/Header.h"

#include <algorithm>

#include "base/Operation.h"
#include "image/CartHeader.h"

namespace brevomat {

namespace {
// The complement check covers the title up to the software version: bytes 0xA0..0xBC.
constexpr std::uint32_t kComplementFirst = kHeaderTitleOffset;
constexpr std::uint32_t kComplementLast = 0xBC;
constexpr std::uint8_t kComplementBase = 0x19;
constexpr std::uint8_t kFixedValue = 0x96;
}  // namespace

void FixHeader(TransferBuffer& buffer) {
  std::copy(HeaderLogo.begin(), HeaderLogo.end(), buffer.data() + kHeaderLogoOffset);
  // The fixed byte goes in first: it is one of the bytes the complement sums.
  buffer[kHeaderFixedOffset] = kFixedValue;
  std::uint8_t sum = kComplementBase;
  for (std::uint32_t i = kComplementFirst; i <= kComplementLast; ++i)
    sum = static_cast<std::uint8_t>(sum + buffer[i]);
  buffer[kHeaderComplementOffset] = static_cast<std::uint8_t>(0u - sum);
}

HeaderReview ReviewImageHeader(OperationFrame& frame, bool checkFirst) {
  if (checkFirst && CheckCartHeader(frame)) return HeaderReview::Checked;
  // Either the logo is wrong (the check has said so) or the image is too short to have been
  // checked: the user decides whether the header is repaired on its way into the flash.
  if (!frame.Ask("Do You want to fix header problem?", "Fix Header")) return HeaderReview::Declined;
  FixHeader(frame.Buffer);
  frame.LogLine("Header fixed");
  return HeaderReview::Fixed;
}

}  // namespace brevomat
