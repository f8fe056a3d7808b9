#include "cart/ChangedBlocks.h"

#include <algorithm>

#include "base/Operation.h"
#include "cart/CartState.h"
#include "cart/Erase.h"
#include "cart/Flash.h"
#include "cart/Program.h"
#include "image/Ips.h"
#include "link/Link.h"

namespace brevomat {

namespace {

using Plan = ChangedBlocks::Plan;

constexpr std::uint32_t kRunsPerChunk = kChunkWords / kRunWords;  // 64
constexpr std::uint16_t kBlankWord = 0xFFFF;

enum class Holds { Target, Blank, Other };

// Reads chunk n only as far as it takes to tell what it holds: the bytes in `target`, nothing but
// 0xFFFF (erased), or something else; the first word that is neither ends the read. Without a
// target the chunk is only tested for blank.
Holds ReadWhatChunkHolds(Link& link, const TransferBuffer* target, std::uint32_t n) {
  link.SetRomAccessMode();
  bool same = target != nullptr, blank = true;
  for (std::uint32_t p = 0; p < kRunsPerChunk; ++p) {
    StartReadRun(link, n, p);
    link.StartWordRun(kRunWords);
    for (std::uint32_t k = 0; k < kRunWords; ++k) {
      const std::uint16_t word = link.NextRunWord();
      same = same && word == target->Word(p * kRunWords + k);
      blank = blank && word == kBlankWord;
      if (!same && !blank) return Holds::Other;
    }
  }
  return same ? Holds::Target : Holds::Blank;
}

// Chunks [from, to) all read 0xFFFF.
bool ChunksBlank(Link& link, std::uint32_t from, std::uint32_t to) {
  for (std::uint32_t n = from; n < to; ++n)
    if (ReadWhatChunkHolds(link, nullptr, n) != Holds::Blank) return false;
  return true;
}

std::uint32_t BlockStart(std::uint32_t n) { return n & ~(kChunksPerBlock - 1); }

int CloseWith(OperationFrame& frame, int result) {
  frame.CloseCurrentFile();
  return result;
}

// The number is the chunk's index within the image, as a full write reports it.
int FailChunk(OperationFrame& frame, std::uint32_t i) {
  frame.LogLine("Write Flash Error!!!(" + NumberToText(static_cast<std::int32_t>(i)) + ")");
  return CloseWith(frame, kResultFailed);
}

// First pass: the plan for every block chunks s .. end - 1 touch. A full write erases a block
// before its first chunk, so what it leaves there is the image's chunks and 0xFF in the block's
// other chunks; a block is kept only when each of its chunks holds that or is blank. A block that
// an earlier image of this command erased or kept (only the first block of an image that starts
// inside a block) holds that image's chunks before s and blank chunks after them.
int PlanBlocks(Link& link, OperationFrame& frame, CartState& cart, IpsPatch& ips, std::uint32_t count,
               std::uint32_t rest, std::uint32_t s, std::uint32_t end) {
  ChangedBlocks& changed = cart.Changed;
  // The ready wait after identification leaves the chip answering reads with its status.
  link.WriteCartWord(0, flash::kReadArray);
  link.WriteControl(control::kReadLevel);
  for (std::uint32_t n = s; n < end; ++n) {
    const std::uint32_t i = n - s;
    if (frame.PollStop()) return kResultCancelled;
    if (i < count) frame.SetProgress(i, count);
    if (const int loaded = LoadImageChunk(frame, cart, ips, i, count, rest, true); loaded != kResultDone)
      return loaded;
    frame.UpdateProgressBar();

    const std::uint32_t first = BlockStart(n);
    Plan& plan = changed.BlockPlan[n / kChunksPerBlock];
    changed.ChunkHeld[n] = false;
    if (n == s || n == first) {
      const auto block = static_cast<std::int32_t>(first);
      if (n != first && (block == cart.LastErasedBlock || block == changed.LastKeptBlock))
        plan = Plan::Shared;
      else
        plan = ChunksBlank(link, first, n) ? Plan::Keep : Plan::Erase;
    }
    if (plan == Plan::Keep) {
      switch (ReadWhatChunkHolds(link, &frame.Buffer, n)) {
        case Holds::Target:
          changed.ChunkHeld[n] = true;
          break;
        case Holds::Blank:
          break;
        case Holds::Other:
          plan = Plan::Erase;
          break;
      }
    }
    if (n + 1 == end && plan == Plan::Keep && !ChunksBlank(link, end, first + kChunksPerBlock))
      plan = Plan::Erase;
  }
  return kResultDone;
}

// Second pass: the file again from the start, the patch table rebuilt, each block dealt with as
// planned when its first chunk of this image comes.
int ProgramPlannedBlocks(Link& link, OperationFrame& frame, CartState& cart, IpsPatch& ips,
                         std::uint32_t count, std::uint32_t rest, std::uint32_t s, std::uint32_t end) {
  ChangedBlocks& changed = cart.Changed;
  frame.CloseCurrentFile();
  if (frame.OpenInputFile() != 0) return kResultFailed;
  if (cart.IpsActive) ParseIpsRecords(ips);
  for (std::uint32_t n = s; n < end; ++n) {
    const std::uint32_t i = n - s;
    if (frame.PollStop()) return CloseWith(frame, kResultCancelled);
    if (i < count) frame.SetProgress(i, count);
    if (const int loaded = LoadImageChunk(frame, cart, ips, i, count, rest, false); loaded != kResultDone)
      return CloseWith(frame, loaded);

    const std::uint32_t first = BlockStart(n);
    const Plan plan = changed.BlockPlan[n / kChunksPerBlock];
    const bool held = plan == Plan::Keep && changed.ChunkHeld[n];
    if (!held) link.SetRomAccessMode();
    if (n == s || n == first) {
      const std::uint32_t blockEnd = std::min(end, first + kChunksPerBlock);
      switch (plan) {
        case Plan::Erase:
          if (!EraseFlashBlock(link, frame, n * kChunkWords)) return FailChunk(frame, i);
          cart.LastErasedBlock = static_cast<std::int32_t>(first);
          ++changed.Erased;
          break;
        case Plan::Keep: {
          changed.LastKeptBlock = static_cast<std::int32_t>(first);
          bool allHeld = true;
          for (std::uint32_t c = n; c < blockEnd; ++c) allHeld = allHeld && changed.ChunkHeld[c];
          ++(allHeld ? changed.Skipped : changed.Programmed);
          break;
        }
        case Plan::Shared:
          break;
      }
    }
    if (held) {
      frame.UpdateProgressBar();
      continue;
    }
    // Every chunk programmed is read back at once, whether its block was erased or the first pass
    // read it blank: that read may have been wrong (a flaky cable), and programming over a word
    // that was not blank leaves the AND of old and new, which the chip does not report.
    if (!ProgramChunkData(link, frame, n, kChunkBytes)) return FailChunk(frame, i);
  }
  return kResultDone;
}

}  // namespace

int WriteChangedBlocks(Link& link, OperationFrame& frame, CartState& cart, IpsPatch& ips, std::uint32_t size,
                       std::uint32_t s) {
  const std::uint32_t count = size / kChunkBytes;
  const std::uint32_t rest = size - count * kChunkBytes;
  const std::uint32_t end = s + count + (rest != 0 ? 1 : 0);
  if (const int planned = PlanBlocks(link, frame, cart, ips, count, rest, s, end); planned != kResultDone)
    return CloseWith(frame, planned);
  if (const int written = ProgramPlannedBlocks(link, frame, cart, ips, count, rest, s, end);
      written != kResultDone)
    return written;
  return VerifyWrittenImage(link, frame, cart, ips, size, s);
}

}  // namespace brevomat
