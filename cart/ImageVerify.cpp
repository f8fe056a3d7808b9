#include "cart/ImageVerify.h"

#include <cstring>

#include "base/Operation.h"
#include "cart/CartState.h"
#include "cart/Flash.h"
#include "cart/Program.h"
#include "image/Ips.h"
#include "link/Link.h"

namespace brevomat {

namespace {

constexpr std::uint32_t kRunsPerChunk = kChunkWords / kRunWords;  // 64

struct WordDifference {
  std::uint32_t index = kChunkWords;  // kChunkWords: the whole chunk agrees
  std::uint16_t found = 0;            // what the cart gave there
};

// One read of chunk n, compared with the transfer buffer up to the first word that differs.
WordDifference FirstDifferentWord(Link& link, const TransferBuffer& b, std::uint32_t n) {
  link.SetRomAccessMode();
  for (std::uint32_t p = 0; p < kRunsPerChunk; ++p) {
    StartReadRun(link, n, p);
    link.StartWordRun(kRunWords);
    for (std::uint32_t k = 0; k < kRunWords; ++k) {
      const std::uint16_t word = link.NextRunWord();
      if (word != b.Word(p * kRunWords + k)) return {p * kRunWords + k, word};
    }
  }
  return {};
}

enum class Comparison { Equal, Different, Unstable };

// Reads chunk n twice. A difference counts only when both reads show it at the same word with the
// same value; reads that disagree with each other say nothing about the flash.
Comparison CompareChunkTwice(Link& link, OperationFrame& frame, CartState& cart, std::uint32_t n) {
  frame.UpdateProgressBar();
  const WordDifference first = FirstDifferentWord(link, frame.Buffer, n);
  frame.ProcessMessages();
  const WordDifference second = FirstDifferentWord(link, frame.Buffer, n);
  if (first.index != second.index || first.found != second.found) {
    cart.UnstableChunk = static_cast<std::int32_t>(n);
    return Comparison::Unstable;
  }
  if (first.index == kChunkWords) return Comparison::Equal;
  const std::uint16_t expected = frame.Buffer.Word(first.index);
  const std::uint32_t highByte = ((expected ^ first.found) & 0xFF) == 0 ? 1 : 0;
  cart.FirstDifference = std::int64_t{n} * kChunkBytes + 2 * first.index + highByte;
  return Comparison::Different;
}

int CloseWith(OperationFrame& frame, int result) {
  frame.CloseCurrentFile();
  return result;
}

}  // namespace

int VerifyImage(Link& link, OperationFrame& frame, CartState& cart, IpsPatch& ips, std::uint32_t size,
                bool offerIps) {
  TransferBuffer& buffer = frame.Buffer;
  const std::uint32_t count = size / kChunkBytes;
  const std::uint32_t rest = size - count * kChunkBytes;
  const std::uint32_t total = count + (rest != 0 ? 1 : 0);
  cart.IpsActive = 0;
  cart.FirstDifference = -1;
  cart.UnstableChunk = -1;
  if (offerIps) OfferIpsPatch(frame, cart, ips);
  // The ready wait before the file was opened left the chip answering reads with its status.
  link.WriteCartWord(0, flash::kReadArray);
  link.WriteControl(control::kReadLevel);

  for (std::uint32_t n = 0; n < total; ++n) {
    if (frame.PollStop()) return CloseWith(frame, kResultCancelled);
    frame.SetProgress(n, total);
    const bool whole = n < count;
    if (!frame.ReadFileBlock(whole ? kChunkBytes : rest)) return CloseWith(frame, kResultFailed);
    // The header is judged exactly where the writer judges it, so that the same answer gives the
    // same bytes: on the first whole chunk, or on the lone partial chunk of a short image.
    if (whole ? n == 0 : !cart.HeaderFixed && !cart.HeaderChecked) {
      if (!ReviewHeader(frame, cart, whole)) return CloseWith(frame, kResultCancelled);
    }
    if (n == 0) frame.SetStatus("Verifying...");
    frame.ProcessMessages();
    if (!whole) std::memset(buffer.data() + rest, 0xFF, kChunkBytes - rest);
    if (cart.IpsActive) ApplyIpsToChunk(ips, n, buffer);
    switch (CompareChunkTwice(link, frame, cart, n)) {
      case Comparison::Equal:
        // Both reads gave exactly the buffer's bytes: that is what the flash holds here.
        frame.ChunkConfirmed(kChunkBytes);
        break;
      case Comparison::Different:
        frame.LogLine("Verify Flash Error!!!(" + NumberToText(static_cast<std::int32_t>(n)) + ")");
        return CloseWith(frame, kResultFailed);
      case Comparison::Unstable:
        return CloseWith(frame, kResultFailed);
    }
  }
  frame.CloseCurrentFile();
  frame.SetStatus("Verify Cart ok");
  frame.ProgressPercent = 100;
  frame.UpdateProgressBar();
  frame.ProcessMessages();
  return kResultDone;
}

}  // namespace brevomat
