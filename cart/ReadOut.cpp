#include "cart/ReadOut.h"

#include <string>

#include "base/Operation.h"
#include "cart/CartState.h"
#include "cart/Flash.h"
#include "cart/Program.h"
#include "image/CartHeader.h"
#include "link/Link.h"

namespace brevomat {

namespace {

constexpr std::uint32_t kRunsPerChunk = kChunkWords / kRunWords;  // 64

int CloseWith(OperationFrame& frame, int result) {
  frame.CloseCurrentFile();
  return result;
}

}  // namespace

bool ChunkReadsOpenBus(Link& link, TransferBuffer& buffer, std::uint32_t n) {
  // Where nothing drives the bus, word k of a chunk that starts on a 64K-word boundary reads k.
  for (std::uint32_t k = 0; k < kChunkWords; ++k) buffer.SetWord(k, static_cast<std::uint16_t>(k));
  for (std::uint32_t p = 0; p < kRunsPerChunk; ++p) {
    StartReadRun(link, n, p);
    link.StartWordRun(kRunWords);
    for (std::uint32_t k = 0; k < kRunWords; ++k) {
      if (link.NextRunWord() != buffer.Word(p * kRunWords + k)) return false;
    }
  }
  return true;
}

std::int32_t ProbeCartSize(Link& link, TransferBuffer& buffer) {
  for (const std::int32_t chunks : {32, 64, 128, 256}) {
    if (ChunkReadsOpenBus(link, buffer, static_cast<std::uint32_t>(chunks))) return chunks;
  }
  return 512;
}

int ReadCartToFile(Link& link, OperationFrame& frame, CartState& cart, std::int32_t& CartSizeChunks) {
  cart.OutputFileCreated = false;
  cart.UnstableChunk = -1;
  ReadHeaderWords(link, frame.Buffer);
  if (!CheckCartHeader(frame)) {
    frame.LogLine("Rom Header Error!!!");
    return kResultFailed;
  }

  // A flash chip is read whole, whatever part of it the game fills; a plain game cart as far as
  // its memory answers. Identification logs nothing when it finds no chip.
  std::int32_t proposed = ProbeCartSize(link, frame.Buffer);
  if (IdentifyFlash(link, frame, cart)) proposed = static_cast<std::int32_t>(cart.FlashSize / kChunkBytes);

  // The dialog gives a size or nothing (CANCEL, no item, the close box).
  CartSizeChunks = frame.ChooseCartSize(CartSizeItemOf(proposed)).value_or(0);
  const int chosen = CartSizeItemOf(CartSizeChunks);
  if (chosen < 0) {
    frame.LogLine("Backup Cancel");
    frame.LogLine("");
    return kResultFailed;
  }
  frame.LogLine(std::string("Cart Size = ") + kCartSizeNames[chosen]);

  if (frame.OpenOutputFile() != 0) return kResultCancelled;
  cart.OutputFileCreated = true;
  frame.SetStatus("Reading...");
  frame.BeginOperation();

  const auto chunks = static_cast<std::uint32_t>(CartSizeChunks);
  for (std::uint32_t i = 0; i < chunks; ++i) {
    if (frame.PollStop()) return CloseWith(frame, kResultCancelled);
    frame.SetProgress(i, chunks);
    ReadChunk(link, frame.Buffer, i);
    frame.ProcessMessages();
    // The second read is the only proof that the first one came across the cable intact.
    if (!VerifyChunk(link, frame, i, kChunkBytes)) {
      cart.UnstableChunk = static_cast<std::int32_t>(i);
      return CloseWith(frame, kResultFailed);
    }
    frame.ChunkConfirmed(kChunkBytes);
    if (!frame.WriteFileBlock(kChunkBytes)) return CloseWith(frame, kResultFailed);
  }
  if (!frame.CloseOutputFile()) return kResultFailed;
  frame.SetStatus("Read Flash ok");
  frame.ProgressPercent = 100;
  frame.UpdateProgressBar();
  frame.ProcessMessages();
  return kResultDone;
}

}  // namespace brevomat
