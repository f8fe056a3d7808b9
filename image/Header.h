// Header check and repair of an image on its way into the flash. The file is never changed.
#pragma once

#include "base/TransferBuffer.h"

namespace brevomat {

class OperationFrame;

// Repairs the header in the first 192 bytes of the buffer: logo, fixed byte 0xB2 = 0x96 and the
// complement check at 0xBD.
void FixHeader(TransferBuffer& buffer);

enum class HeaderReview {
  Checked,   // the logo is right: the header goes in as it is
  Fixed,     // the user agreed to the repair, which is done in the transfer buffer
  Declined,  // the user declined the repair: the image is not written
};

// The writer's decision procedure on an image's first chunk (checkFirst = true) or on the only,
// partial chunk of a short image (checkFirst = false), in the frame's transfer buffer.
HeaderReview ReviewImageHeader(OperationFrame& frame, bool checkFirst);

}  // namespace brevomat
