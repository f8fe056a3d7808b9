// Header check and repair of an image on its way into the flash. The file is never changed.
#pragma once

#include "shell/TransferBuffer.h"

namespace brevomat {

struct Core;

// Repairs the header in the first 192 bytes of the buffer: logo, fixed byte 0xB2 = 0x96 and the
// complement check at 0xBD.
void FixHeader(TransferBuffer& buffer);

// The writer's decision procedure on an image's first chunk (checkFirst = true) or on the only,
// partial chunk of a short image (checkFirst = false). Returns true to go on, false when the user
// declined the repair.
bool ReviewImageHeader(Core& core, bool checkFirst);

}  // namespace brevomat
