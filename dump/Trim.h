// Cutting a backup down to the game it holds: the read-out of a whole size item ends in erased
// flash or in mirrors of the game, and --trim keeps only the game's bytes. The file is cut only
// when it still holds exactly what was read from the cart.
#pragma once

#include <string>

#include "dump/Checksums.h"
#include "dump/DumpDigest.h"

namespace brevomat {

// Replaces `name`, which must hold exactly the `whole` read-out, by its first `kept.size` bytes.
// Those must have the digests `kept`, the whole file those of `whole`, and the bytes after the kept
// ones must be as `tail` says (UnusedTail::None: not judged). The file is replaced in one step
// (a temporary file beside it, flushed to the disk, renamed over it). False with the reason in
// `error` when any of that does not hold; `name` is then as it was.
bool TrimFile(const std::string& name, const Digests& kept, const Digests& whole, UnusedTail tail,
              std::string& error);

}  // namespace brevomat
