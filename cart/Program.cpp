#include "cart/Program.h"

#include <cstring>
#include <string>

#include "base/Operation.h"
#include "cart/CartState.h"
#include "cart/ChangedBlocks.h"
#include "cart/Erase.h"
#include "cart/Flash.h"
#include "image/Header.h"
#include "image/Ips.h"
#include "link/Link.h"

namespace brevomat {

namespace {
constexpr std::uint32_t kRunsPerChunk = kChunkWords / kRunWords;  // 64
}  // namespace

void StartReadRun(Link& link, std::uint32_t n, std::uint32_t p) {
  link.LoadChunkRunAddress(n, p);
  link.SelectAdapterRegister(adapter::kData);
  link.WriteControl(control::kReadLevel);
}

void ReadChunk(Link& link, TransferBuffer& b, std::uint32_t n) {
  link.SetRomAccessMode();
  for (std::uint32_t p = 0; p < kRunsPerChunk; ++p) {
    StartReadRun(link, n, p);
    link.ReadCartWords(b.data() + 2 * p * kRunWords, kRunWords);
  }
}

bool VerifyChunk(Link& link, OperationFrame& frame, std::uint32_t n, std::uint32_t byteCount) {
  const TransferBuffer& b = frame.Buffer;
  link.SetRomAccessMode();
  frame.UpdateProgressBar();
  const std::uint32_t runs = byteCount / (kRunWords * 2);
  for (std::uint32_t p = 0; p < runs; ++p) {
    StartReadRun(link, n, p);
    link.StartWordRun(kRunWords);
    for (std::uint32_t k = 0; k < kRunWords; ++k) {
      if (link.NextRunWord() != b.Word(p * kRunWords + k)) return false;
    }
  }
  return true;
}

bool WriteFlashBuffer(Link& link, OperationFrame& frame, std::uint32_t c, std::uint32_t o) {
  const std::uint32_t a = c + o;
  link.WriteCartWord(a, flash::kWriteToBuffer);
  link.WriteControl(control::kReadLevel);
  // The chip answers the write-to-buffer command with bit 7 set once a buffer is free.
  for (PollLimit limit(link, 0x4000, flash::kProgramWaitNs); (link.ReadCartWord() & flash::kReadyBit) == 0;) {
    if (limit.Spent()) return false;
    link.WriteCartWord(a, flash::kWriteToBuffer);
    link.WriteControl(control::kReadLevel);
  }
  link.WriteCartWord(a, flash::kBufferWords - 1);
  link.SetCartAddress(a);
  link.SelectAdapterRegister(adapter::kData);
  const TransferBuffer& b = frame.Buffer;
  link.CartWritten = true;
  link.WriteDataWords(b.data() + 2 * o, flash::kBufferWords);
  link.WriteDataWord(flash::kConfirm);  // lands at a + 16: the adapter advanced past the data
  return WaitFlashReady(link, frame);
}

bool ProgramChunk(Link& link, OperationFrame& frame, CartState& cart, std::uint32_t n,
                  std::uint32_t byteCount) {
  link.SetRomAccessMode();
  const std::uint32_t a = n * kChunkWords;

  // The first chunk of a block always erases it; a write that starts inside a block erases that
  // block unless it was the last one erased in this command.
  const auto blockStart = static_cast<std::int32_t>(n & ~3u);
  if (n % 4 == 0 || blockStart != cart.LastErasedBlock) {
    if (!EraseFlashBlock(link, frame, a)) return false;
    cart.LastErasedBlock = blockStart;
  }
  return ProgramChunkData(link, frame, n, byteCount);
}

bool ProgramChunkData(Link& link, OperationFrame& frame, std::uint32_t n, std::uint32_t byteCount) {
  const std::uint32_t a = n * kChunkWords;
  frame.UpdateProgressBar();

  // Programming can only clear bits, so a buffer of sixteen 0xFFFF words would leave the flash as
  // it is: it is not sent. Game images are often padded with 0xFF to the cartridge's size, and an
  // erased block already reads 0xFFFF there. The read-back below still compares those words, so a
  // cell that did not erase fails the chunk all the same.
  const TransferBuffer& b = frame.Buffer;
  const std::uint32_t buffers = byteCount / (flash::kBufferWords * 2);
  for (std::uint32_t i = 0; i < buffers; ++i) {
    const std::uint32_t o = i * flash::kBufferWords;
    bool blank = true;
    for (std::uint32_t k = 0; k < flash::kBufferWords && blank; ++k) blank = b.Word(o + k) == 0xFFFF;
    if (!blank && !WriteFlashBuffer(link, frame, a, o)) return false;
  }
  if (!WaitStatusReady(link)) return false;
  if ((ReadFlashStatus(link) & flash::kReadyBit) == 0) return false;
  link.WriteCartWord(0, flash::kReadArray);
  link.WriteControl(control::kReadLevel);
  return VerifyChunk(link, frame, n, byteCount);
}

namespace {

int FailChunk(OperationFrame& frame, std::uint32_t index) {
  frame.LogLine("Write Flash Error!!!(" + NumberToText(static_cast<std::int32_t>(index)) + ")");
  frame.CloseCurrentFile();
  return kResultFailed;
}

int CloseWith(OperationFrame& frame, int result) {
  frame.CloseCurrentFile();
  return result;
}

}  // namespace

void OfferIpsPatch(OperationFrame& frame, CartState& cart, IpsPatch& ips) {
  frame.PauseTimer1();
  std::string name;
  if (frame.ChooseIpsFile(name)) {
    StoreFileName(ips.IpsFileName, name);
    frame.LogLine("IpsFileName = " + name);
    if (LoadIpsPatch(ips, frame) == 0) cart.IpsActive = 1;
  }
  frame.ResumeTimer1();
}

bool ReviewHeader(OperationFrame& frame, CartState& cart, bool checkFirst) {
  switch (ReviewImageHeader(frame, checkFirst)) {
    case HeaderReview::Checked:
      cart.HeaderChecked = 1;
      return true;
    case HeaderReview::Fixed:
      cart.HeaderFixed = 1;
      return true;
    case HeaderReview::Declined:
      break;
  }
  return false;
}

int LoadImageChunk(OperationFrame& frame, CartState& cart, IpsPatch& ips, std::uint32_t i,
                   std::uint32_t count, std::uint32_t rest, bool review) {
  TransferBuffer& buffer = frame.Buffer;
  const bool whole = i < count;
  if (!frame.ReadFileBlock(whole ? kChunkBytes : rest)) return kResultFailed;
  if (whole) {
    frame.ProcessMessages();
    if (i == 0 && review) {
      if (!ReviewHeader(frame, cart, true)) return kResultCancelled;
      frame.SetStatus("Writing... ");
    } else if (i == 0 && cart.HeaderFixed) {
      FixHeader(buffer);
    }
  } else {
    if (review && !cart.HeaderFixed && !cart.HeaderChecked) {
      if (!ReviewHeader(frame, cart, false)) return kResultCancelled;
    } else if (!review && count == 0 && cart.HeaderFixed) {
      FixHeader(buffer);
    }
    frame.ProcessMessages();
    std::memset(buffer.data() + rest, 0xFF, kChunkBytes - rest);  // PadChunk
  }
  if (cart.IpsActive) ApplyIpsToChunk(ips, i, buffer);
  return kResultDone;
}

int WriteImage(Link& link, OperationFrame& frame, CartState& cart, IpsPatch& ips, std::uint32_t size,
               std::uint32_t s, bool offerIps) {
  const std::uint32_t count = size / kChunkBytes;
  const std::uint32_t rest = size - count * kChunkBytes;
  const std::uint32_t total = count + (rest != 0 ? 1 : 0);
  cart.IpsActive = 0;
  if (offerIps) OfferIpsPatch(frame, cart, ips);
  if (cart.Changed.Enabled && s + total <= kMaxFlashChunks)
    return WriteChangedBlocks(link, frame, cart, ips, size, s);

  for (std::uint32_t i = 0; i < total; ++i) {
    if (i < count) {  // a short last chunk follows its predecessor without a pause
      if (frame.PollStop()) return CloseWith(frame, kResultCancelled);
      frame.SetProgress(i, count);
    }
    if (const int loaded = LoadImageChunk(frame, cart, ips, i, count, rest, true); loaded != kResultDone)
      return CloseWith(frame, loaded);
    if (!ProgramChunk(link, frame, cart, s + i, kChunkBytes)) return FailChunk(frame, i);
  }
  return VerifyWrittenImage(link, frame, cart, ips, size, s);
}

int VerifyWrittenImage(Link& link, OperationFrame& frame, CartState& cart, IpsPatch& ips, std::uint32_t size,
                       std::uint32_t s) {
  const std::uint32_t count = size / kChunkBytes;
  const std::uint32_t rest = size - count * kChunkBytes;
  const std::uint32_t total = count + (rest != 0 ? 1 : 0);
  // Verify pass: read the file again from the start, repeat the header repair and the patch on
  // the fresh copy, and compare every chunk with the flash once more. A short last chunk is
  // compared too, padded as it was written: "Write Cart ok" means every byte has been read back
  // twice, the last chunk's as well as the others'.
  frame.CloseCurrentFile();
  if (frame.OpenInputFile() != 0) return kResultFailed;
  if (cart.IpsActive) ParseIpsRecords(ips);
  frame.SetStatus("Verifying...");
  for (std::uint32_t i = 0; i < total; ++i) {
    if (frame.PollStop()) return CloseWith(frame, kResultCancelled);
    if (i < count) frame.SetProgress(i, count);
    if (const int loaded = LoadImageChunk(frame, cart, ips, i, count, rest, false); loaded != kResultDone)
      return CloseWith(frame, loaded);
    if (!VerifyChunk(link, frame, s + i, kChunkBytes)) {
      frame.LogLine("Verify Flash Error!!!(" + NumberToText(static_cast<std::int32_t>(i)) + ")");
      return CloseWith(frame, kResultFailed);
    }
  }
  frame.CloseCurrentFile();
  frame.SetStatus("Write Cart ok");
  frame.ProgressPercent = 100;
  frame.UpdateProgressBar();
  frame.ProcessMessages();
  return kResultDone;
}

}  // namespace brevomat
