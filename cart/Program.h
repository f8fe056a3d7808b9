// Programming an image into the flash and proving it: erase when due, 16-word buffered
// programming, an immediate read-back of every chunk, and a verify pass over the whole file.
#pragma once

#include <cstdint>

#include "base/TransferBuffer.h"

namespace brevomat {

class Link;
class OperationFrame;
struct CartState;
struct IpsPatch;

// Loads the address of run p (256 words) of chunk n, selects the data register and sets the read
// level: the next ReadCartWord returns the run's first word.
void StartReadRun(Link& link, std::uint32_t n, std::uint32_t p);
// Reads chunk n (32 KB at word address n * 0x4000) into the transfer buffer.
void ReadChunk(Link& link, TransferBuffer& buffer, std::uint32_t n);
// Reads the first byteCount / 512 runs of chunk n again and compares them with the transfer buffer.
bool VerifyChunk(Link& link, OperationFrame& frame, std::uint32_t n, std::uint32_t byteCount);
// Programs the 16 buffer words from word offset o at chunk word address c.
bool WriteFlashBuffer(Link& link, OperationFrame& frame, std::uint32_t c, std::uint32_t o);
// Erases when due, programs byteCount / 32 buffers of chunk n, then reads the chunk back.
bool ProgramChunk(Link& link, OperationFrame& frame, CartState& cart, std::uint32_t n,
                  std::uint32_t byteCount);
// ProgramChunk after its erase step: programs chunk n (blank in the flash) and reads it back.
bool ProgramChunkData(Link& link, OperationFrame& frame, std::uint32_t n, std::uint32_t byteCount);

// Asks for an IPS patch (OpenDialog3) and loads it; cart.IpsActive tells whether it will be applied.
// The seconds counter pauses while the dialog is open.
void OfferIpsPatch(OperationFrame& frame, CartState& cart, IpsPatch& ips);
// Runs the header review on the image data in the transfer buffer and records its verdict in
// cart.HeaderChecked / cart.HeaderFixed; false when the user declined the repair.
bool ReviewHeader(OperationFrame& frame, CartState& cart, bool checkFirst);

// Writes the open file (CurrentFile) of `size` bytes from chunk `startChunk` on. With `offerIps`
// the user is asked for a patch first (the IPS switch is on and the image may be patched).
// With cart.Changed.Enabled only the blocks that need it are erased and programmed
// (WriteChangedBlocks). Returns 0, 254 or -1.
int WriteImage(Link& link, OperationFrame& frame, CartState& cart, IpsPatch& ips, std::uint32_t size,
               std::uint32_t startChunk, bool offerIps);
// Reads chunk i of the open image (a whole one while i < count, else the last `rest` bytes) into
// the transfer buffer and makes it the bytes the flash is to hold: header step, a short chunk
// padded with 0xFF, the patch. With `review` the header review runs with its question and log
// lines (the first reading of the file); without, the repair it chose is repeated silently.
// Returns 0, 254 (repair declined) or -1 (file read error); the file stays open.
int LoadImageChunk(OperationFrame& frame, CartState& cart, IpsPatch& ips, std::uint32_t i,
                   std::uint32_t count, std::uint32_t rest, bool review);
// The verify pass of a write of `size` bytes: reopens the file, prepares every chunk again (header
// repair, padding, patch) and compares it with the flash from chunk `startChunk` on, the short last
// chunk included; "Write Cart ok" when all agree. Closes the file. Returns 0, 254 or -1.
int VerifyWrittenImage(Link& link, OperationFrame& frame, CartState& cart, IpsPatch& ips, std::uint32_t size,
                       std::uint32_t startChunk);

}  // namespace brevomat
