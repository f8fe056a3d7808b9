#include "cart/Erase.h"

#include "base/Operation.h"
#include "cart/Flash.h"
#include "link/Link.h"

namespace brevomat {

namespace {

constexpr std::uint32_t kReadyPolls = 0x8000;
constexpr std::uint32_t kPhasePolls = 0x80000;

enum class Poll { Done, Stopped, TimedOut };

// Counts one unsuccessful poll; every 1024 polls lets the window breathe and honours Stop.
Poll CountPoll(OperationFrame& frame, PollLimit& limit) {
  const bool spent = limit.Spent();
  if ((limit.Polls() & flash::kPumpMask) == 0 && frame.PollStopInWait()) return Poll::Stopped;
  return spent ? Poll::TimedOut : Poll::Done;
}

// Polls the status the chip answers with until it reads exactly 0x80 (ready, no error bits).
// In the set-up phase the set-up command is written again after every other answer (a chip that
// was busy answers the early set-up with a command sequence error). After the erase itself, ready
// with an error bit is the chip's verdict and ends the wait at once. A phase that fails clears
// the status at the block; after the erase itself it also returns the chip to read array.
bool PollPhase(Link& link, OperationFrame& frame, std::uint32_t a, bool setupPhase) {
  for (PollLimit limit(link, kPhasePolls, flash::kEraseWaitNs);;) {
    const std::uint8_t s = PeekFlashStatus(link);
    if (s == flash::kReadyClean) return true;
    const bool failed = !setupPhase && (s & flash::kReadyBit);
    const Poll p = failed ? Poll::TimedOut : CountPoll(frame, limit);
    if (p == Poll::Stopped) return false;
    if (p == Poll::TimedOut) {
      link.WriteCartWord(a, flash::kClearStatus);
      if (!setupPhase) link.WriteCartWord(0, flash::kReadArray);
      return false;
    }
    if (setupPhase) link.WriteCartWord(a, flash::kBlockEraseSetup);
  }
}

// Reads the 128 KB block at word address `a` back: a status register is one byte on a cable that
// may garble it, the data is the proof. Leaves the chip in read array mode.
bool BlockIsBlank(Link& link, std::uint32_t a) {
  link.WriteCartWord(0, flash::kReadArray);
  link.SetRomAccessMode();
  const std::uint32_t firstChunk = a / kChunkWords;
  for (std::uint32_t n = firstChunk; n < firstChunk + kBlockBytes / kChunkBytes; ++n) {
    for (std::uint32_t p = 0; p < kChunkWords / kRunWords; ++p) {
      link.LoadChunkRunAddress(n, p);
      link.SelectAdapterRegister(adapter::kData);
      link.WriteControl(control::kReadLevel);
      link.StartWordRun(kRunWords);
      for (std::uint32_t k = 0; k < kRunWords; ++k)
        if (link.NextRunWord() != 0xFFFF) return false;
    }
  }
  return true;
}

}  // namespace

bool EraseFlashBlock(Link& link, OperationFrame& frame, std::uint32_t a) {
  // The chip must be ready before it takes a new command.
  for (PollLimit limit(link, kReadyPolls, flash::kEraseWaitNs);;) {
    if (ReadFlashStatus(link) & flash::kReadyBit) break;
    const Poll p = CountPoll(frame, limit);
    if (p == Poll::Stopped) return false;
    if (p == Poll::TimedOut) {
      link.WriteCartWord(a, flash::kClearStatus);
      link.WriteCartWord(0, flash::kReadArray);
      return false;
    }
  }

  // Erase set-up, repeated until the chip reports ready and clean; then confirm and wait.
  link.WriteCartWord(a, flash::kBlockEraseSetup);
  if (!PollPhase(link, frame, a, true)) return false;
  link.CartWritten = true;
  link.WriteCartWord(a, flash::kConfirm);
  if (!PollPhase(link, frame, a, false)) return false;

  // A clean status after the erase is the only proof it worked.
  if (ReadFlashStatus(link) == flash::kReadyClean) return true;
  link.WriteCartWord(a, flash::kClearStatus);
  link.WriteCartWord(0, flash::kReadArray);
  link.WriteCartWord(0, flash::kReadArray);
  return false;
}

bool EraseAllBlocks(Link& link, OperationFrame& frame, std::uint32_t flashSize) {
  const std::uint32_t n = flashSize / kBlockBytes;
  frame.BeginOperation();
  frame.SetStatus("Cart Erasing...");
  for (std::uint32_t k = 0; k < n; ++k) {
    if (frame.PollStop()) return false;
    frame.SetProgress(k, n);
    frame.UpdateProgressBar();
    frame.ProcessMessages();
    const std::uint32_t a = k * (kBlockBytes / 2);
    if (!EraseFlashBlock(link, frame, a) || !BlockIsBlank(link, a)) return false;
  }
  return true;
}

}  // namespace brevomat
