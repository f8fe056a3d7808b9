// Comparing the flash with an image file, the way Write Flash would have put the image there:
// header repaired when the user agrees to it, IPS patch applied, a short last chunk padded with
// 0xFF. Nothing is written to the cart; every chunk is read twice, as the read-out does.
#pragma once

#include <cstdint>

namespace brevomat {

class Link;
class OperationFrame;
struct CartState;
struct IpsPatch;

// Compares the open file (CurrentFile) of `size` bytes with the flash from chunk 0 on. With
// `offerIps` the user is asked for a patch first, as the writer asks. Preconditions as for
// WriteImage: flash identified, frame open, header flags cleared. Returns kResultDone when every
// byte agrees; kResultCancelled for Stop or a declined header repair; kResultFailed otherwise,
// with cart.FirstDifference set when the flash holds other bytes (logged as "Verify Flash Error!!!"
// and the chunk) and cart.UnstableChunk when the two reads of a chunk differed.
int VerifyImage(Link& link, OperationFrame& frame, CartState& cart, IpsPatch& ips, std::uint32_t size,
                bool offerIps);

}  // namespace brevomat
