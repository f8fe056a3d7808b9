#include "cart/Write.h"

#include <cstring>
#include <string>

#include "cart/Commands.h"
#include "cart/Erase.h"
#include "cart/Flash.h"
#include "image/Header.h"
#include "image/Ips.h"
#include "link/Detection.h"
#include "shell/Core.h"

namespace brevomat {

namespace {

constexpr std::uint32_t kRunsPerChunk = kChunkWords / kRunWords;  // 64

// Loads run p of chunk n, selects the data register and sets the read level.
void StartReadRun(Link& link, std::uint32_t n, std::uint32_t p) {
  link.LoadChunkRunAddress(n, p);
  link.SelectAdapterRegister(adapter::kData);
  link.WriteControl(control::kReadLevel);
}

}  // namespace

void ReadChunk(Core& core, std::uint32_t n) {
  Link& link = core.link;
  TransferBuffer& b = core.frame.Buffer;
  link.SetRomAccessMode();
  for (std::uint32_t p = 0; p < kRunsPerChunk; ++p) {
    StartReadRun(link, n, p);
    for (std::uint32_t k = 0; k < kRunWords; ++k) b.SetWord(p * kRunWords + k, link.ReadCartWord());
  }
}

bool VerifyChunk(Core& core, std::uint32_t n, std::uint32_t byteCount) {
  Link& link = core.link;
  const TransferBuffer& b = core.frame.Buffer;
  link.SetRomAccessMode();
  core.frame.UpdateProgressBar();
  const std::uint32_t runs = byteCount / (kRunWords * 2);
  for (std::uint32_t p = 0; p < runs; ++p) {
    StartReadRun(link, n, p);
    for (std::uint32_t k = 0; k < kRunWords; ++k) {
      if (link.ReadCartWord() != b.Word(p * kRunWords + k)) return false;
    }
  }
  return true;
}

bool WriteFlashBuffer(Core& core, std::uint32_t c, std::uint32_t o) {
  Link& link = core.link;
  const std::uint32_t a = c + o;
  link.WriteCartWord(a, flash::kWriteToBuffer);
  link.WriteControl(control::kReadLevel);
  // The chip answers the write-to-buffer command with bit 7 set once a buffer is free.
  for (std::uint32_t counter = 0x4000; (link.ReadCartWord() & flash::kReadyBit) == 0;) {
    if (--counter == 0) return false;
    link.WriteCartWord(a, flash::kWriteToBuffer);
    link.WriteControl(control::kReadLevel);
  }
  link.WriteCartWord(a, flash::kBufferWords - 1);
  link.SetCartAddress(a);
  link.SelectAdapterRegister(adapter::kData);
  const TransferBuffer& b = core.frame.Buffer;
  for (std::uint32_t k = 0; k < flash::kBufferWords; ++k) link.WriteDataWord(b.Word(o + k));
  link.WriteDataWord(flash::kConfirm);  // lands at a + 16: the adapter advanced past the data
  return WaitFlashReady(core);
}

bool ProgramChunk(Core& core, std::uint32_t n, std::uint32_t byteCount) {
  Link& link = core.link;
  CartState& cart = core.cart;
  link.SetRomAccessMode();
  const std::uint32_t a = n * kChunkWords;

  // The first chunk of a block always erases it; a write that starts inside a block erases that
  // block unless it was the last one erased in this command.
  const auto blockStart = static_cast<std::int32_t>(n & ~3u);
  if (n % 4 == 0 || blockStart != cart.LastErasedBlock) {
    if (!EraseFlashBlock(core, a)) return false;
    cart.LastErasedBlock = blockStart;
  }
  core.frame.UpdateProgressBar();

  const std::uint32_t buffers = byteCount / (flash::kBufferWords * 2);
  for (std::uint32_t i = 0; i < buffers; ++i) {
    if (!WriteFlashBuffer(core, a, i * flash::kBufferWords)) return false;
  }
  if (!WaitStatusReady(core)) return false;
  if ((ReadFlashStatus(core) & flash::kReadyBit) == 0) return false;
  link.WriteCartWord(0, flash::kReadArray);
  link.WriteControl(control::kReadLevel);
  return VerifyChunk(core, n, byteCount);
}

namespace {

int FailChunk(Core& core, std::uint32_t index) {
  core.frame.LogLine("Write Flash Error!!!(" + NumberToText(static_cast<std::int32_t>(index)) + ")");
  core.frame.CloseCurrentFile();
  return kResultFailed;
}

int CloseWith(Core& core, int result) {
  core.frame.CloseCurrentFile();
  return result;
}

// With the IPS switch on, asks for a patch and loads it; the seconds counter pauses meanwhile.
void OfferIpsPatch(Core& core) {
  if (core.window().RadioIpsIndex() != 1) return;
  core.window().StopTimer1();
  std::string name;
  if (core.window().ExecuteOpenDialog3(name)) {
    StoreFileName(core.ips.IpsFileName, name);
    core.frame.LogLine("IpsFileName = " + name);
    if (LoadIpsPatch(core.ips, core.frame) == 0) core.cart.IpsActive = 1;
  }
  core.window().StartTimer1();
}

}  // namespace

int WriteImage(Core& core, std::uint32_t size, std::uint32_t s, bool ipsAllowed) {
  OperationFrame& frame = core.frame;
  CartState& cart = core.cart;
  TransferBuffer& buffer = frame.Buffer;
  const std::uint32_t count = size / kChunkBytes;
  const std::uint32_t rest = size - count * kChunkBytes;
  cart.IpsActive = 0;
  if (ipsAllowed) OfferIpsPatch(core);

  for (std::uint32_t n = 0; n < count; ++n) {
    if (frame.PollStop()) return CloseWith(core, kResultCancelled);
    frame.SetProgress(n, count);
    if (!frame.ReadFileBlock(kChunkBytes)) return CloseWith(core, kResultFailed);
    frame.ProcessMessages();
    if (n == 0) {
      if (!ReviewImageHeader(core, true)) return CloseWith(core, kResultCancelled);
      frame.SetStatus("Writing... ");
    }
    if (cart.IpsActive) ApplyIpsToChunk(core.ips, n, buffer);
    if (!ProgramChunk(core, s + n, kChunkBytes)) return FailChunk(core, n);
  }

  if (rest != 0) {
    if (!frame.ReadFileBlock(rest)) return CloseWith(core, kResultFailed);
    if (!cart.HeaderFixed && !cart.HeaderChecked) {
      if (!ReviewImageHeader(core, false)) return CloseWith(core, kResultCancelled);
    }
    frame.ProcessMessages();
    std::memset(buffer.data() + rest, 0xFF, kChunkBytes - rest);  // PadChunk
    if (cart.IpsActive) ApplyIpsToChunk(core.ips, count, buffer);
    if (!ProgramChunk(core, s + count, kChunkBytes)) return FailChunk(core, count);
  }

  // Verify pass: read the file again from the start, repeat the header repair and the patch on
  // the fresh copy, and compare every whole chunk with the flash once more.
  frame.CloseCurrentFile();
  if (frame.OpenInputFile() != 0) return kResultFailed;
  if (cart.IpsActive) ParseIpsRecords(core.ips);
  frame.SetStatus("Verifying...");
  for (std::uint32_t i = 0; i < count; ++i) {
    if (frame.PollStop()) return CloseWith(core, kResultCancelled);
    frame.SetProgress(i, count);
    if (!frame.ReadFileBlock(kChunkBytes)) return CloseWith(core, kResultFailed);
    frame.ProcessMessages();
    if (i == 0 && cart.HeaderFixed) {
      FixHeader(buffer);
      cart.HeaderFixed = 0;
    }
    if (cart.IpsActive) ApplyIpsToChunk(core.ips, i, buffer);
    if (!VerifyChunk(core, s + i, kChunkBytes)) {
      frame.LogLine("Verify Flash Error!!!(" + NumberToText(static_cast<std::int32_t>(i)) + ")");
      return CloseWith(core, kResultFailed);
    }
  }
  frame.CloseCurrentFile();
  frame.SetStatus("Write Cart ok");
  frame.ProgressPercent = 100;
  frame.UpdateProgressBar();
  frame.ProcessMessages();
  return kResultDone;
}

void WriteClick(Core& core) {
  OperationFrame& frame = core.frame;
  CartState& cart = core.cart;
  core.CommandSeparator();
  cart.HeaderChecked = 0;
  cart.HeaderFixed = 0;

  std::vector<std::string> files;
  if (!core.window().ExecuteOpenDialog1(false, files) || files.empty()) {
    frame.LogLine("Write To Cart Cancel");
    return;
  }
  frame.ClearOperationDisplay();
  if (!DetectAdapter(core)) return;
  if (!IdentifyFlash(core)) {
    frame.LogLine("Flash not found!!!");
    return;
  }
  WaitFlashReady(core);

  StoreFileName(frame.ImageFileName, files.front());
  frame.LogLine("FileName = " + files.front());
  if (frame.OpenInputFile() != 0) return;
  cart.InputFileSize = frame.CurrentFileLength();
  frame.LogLine("FileSize = " + std::to_string(cart.InputFileSize));

  const std::uint32_t length = cart.InputFileSize;
  const bool wholeChunks = length >= kChunkBytes && length % kChunkBytes == 0;
  if (!wholeChunks || length > cart.FlashSize) {
    frame.LogLine("File Size Error!!!");
    if (length == 0 || length > cart.FlashSize) {
      frame.LogLine("MaxFileSize = " + std::to_string(cart.FlashSize));
      frame.CloseCurrentFile();
      return;
    }
    if (!core.window().AskYesNo("Do You want to Continue?", "File Size Error")) {
      frame.CloseCurrentFile();
      return;
    }
  }

  frame.BeginOperation();
  if (WriteImage(core, cart.InputFileSize, 0, true) != kResultDone) frame.SetStatus("Error!!!");
  frame.EndOperation();
  frame.LogElapsedTime();
}

}  // namespace brevomat
