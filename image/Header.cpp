#include "image/Header.h"

#include <algorithm>

#include "base/Operation.h"
#include "image/CartHeader.h"

namespace brevomat {

void FixHeader(TransferBuffer& buffer) {
  std::copy(HeaderLogo.begin(), HeaderLogo.end(), buffer.data() + kHeaderLogoOffset);
  // The fixed byte goes in first: it is one of the bytes the complement sums.
  buffer[kHeaderFixedOffset] = kHeaderFixedValue;
  buffer[kHeaderComplementOffset] = HeaderComplement(buffer);
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
