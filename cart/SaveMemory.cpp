#include "cart/SaveMemory.h"

#include <cerrno>
#include <cstring>
#include <string>

#include "base/AtomicOutputFile.h"
#include "base/Operation.h"
#include "cart/CartState.h"
#include "link/ControlSequences.h"
#include "link/Link.h"

namespace brevomat {

namespace {

constexpr std::uint32_t kSaveBlockBytes = 256;  // the adapter's address counter wraps here
constexpr std::uint32_t kSaveBlocks = kSaveUnitBytes / kSaveBlockBytes;
constexpr std::uint8_t kUpperHalf = 0x80;  // address bit 15: the odd unit of a bank

bool ValidUnit(std::int8_t u) { return u >= 0 && u < kSaveUnits; }

// The bank of unit u, then save access mode.
void EnterUnit(Link& link, std::int8_t u) {
  SelectSaveBank(link, u);
  link.SetSaveAccessMode();
}

// Loads the byte address of block b of unit u (registers 0, 1, 2 in that order), selects the data
// register and sets the control level the transfers need: 0 before reads, 1 before writes.
void StartSaveBlock(Link& link, std::int8_t u, std::uint32_t b, std::uint8_t level) {
  const auto high = static_cast<std::uint8_t>((u & 1) != 0 ? (b | kUpperHalf) : b);
  link.WriteAdapterRegister(adapter::kAddressLow, 0);
  link.WriteAdapterRegister(adapter::kAddressMid, high);
  link.WriteAdapterRegister(adapter::kAddressHigh, 0);
  link.SelectAdapterRegister(adapter::kData);
  link.WriteControl(level);
}

int CloseWith(OperationFrame& frame, int result) {
  frame.CloseCurrentFile();
  return result;
}

}  // namespace

int CompareSaveUnit(Link& link, const TransferBuffer& buffer, std::int8_t u) {
  if (!ValidUnit(u)) return kResultFailed;
  EnterUnit(link, u);
  for (std::uint32_t b = 0; b < kSaveBlocks; ++b) {
    StartSaveBlock(link, u, b, control::kReadLevel);
    const std::uint8_t* expected = buffer.data() + b * kSaveBlockBytes;
    link.StartByteRun(kSaveBlockBytes);
    for (std::uint32_t k = 0; k < kSaveBlockBytes; ++k) {
      if (link.NextRunByte() != expected[k]) return kResultFailed;
    }
  }
  return kResultDone;
}

int ReadSaveUnit(Link& link, TransferBuffer& buffer, std::int8_t u) {
  if (!ValidUnit(u)) return kResultFailed;
  EnterUnit(link, u);
  for (std::uint32_t b = 0; b < kSaveBlocks; ++b) {
    StartSaveBlock(link, u, b, control::kReadLevel);
    link.ReadAdapterBytes(buffer.data() + b * kSaveBlockBytes, kSaveBlockBytes);
  }
  return CompareSaveUnit(link, buffer, u);
}

int WriteSaveUnit(Link& link, const TransferBuffer& buffer, std::int8_t u) {
  if (!ValidUnit(u)) return kResultFailed;
  EnterUnit(link, u);
  link.CartWritten = true;
  for (std::uint32_t b = 0; b < kSaveBlocks; ++b) {
    StartSaveBlock(link, u, b, control::kWriteLevel);
    link.WriteAdapterBytes(buffer.data() + b * kSaveBlockBytes, kSaveBlockBytes);
  }
  return CompareSaveUnit(link, buffer, u);
}

bool ProbeSaveMemory(Link& link, TransferBuffer& buffer) {
  // The read's own confirmation is not the test: the first and the third pass must agree.
  ReadSaveUnit(link, buffer, 0);
  return CompareSaveUnit(link, buffer, 0) == kResultDone;
}

int BackupSaveToFile(Link& link, OperationFrame& frame, CartState& cart) {
  frame.SetStatus("Reading...");
  if (frame.OpenOutputFile() != 0) return kResultCancelled;
  frame.BeginOperation();
  const std::uint32_t count = cart.SaveUnitCount;
  for (std::uint32_t i = 0; i < count; ++i) {
    if (frame.PollStop()) return CloseWith(frame, kResultCancelled);
    frame.SetProgress(i, count);
    frame.UpdateProgressBar();
    frame.ProcessMessages();
    // A unit once begun is always completed, its confirmation included: Stop is seen only here,
    // between units.
    if (ReadSaveUnit(link, frame.Buffer, static_cast<std::int8_t>(cart.SaveStartUnit + i)) != kResultDone) {
      frame.CloseCurrentFile();
      frame.LogLine("Read Save Data Error!!!");
      return kResultFailed;
    }
    if (!frame.WriteFileBlock(kSaveUnitBytes)) return CloseWith(frame, kResultFailed);
  }
  // Every block has been flushed, but a file system may still refuse the data when it is synced
  // and put in place; a backup is done only when the file holds it.
  if (!frame.CloseOutputFile()) return kResultFailed;
  frame.SetStatus("Read Save Data ok");
  frame.ProgressPercent = 100;
  frame.UpdateProgressBar();
  frame.ProcessMessages();
  return kResultDone;
}

int KeepSaveUnits(Link& link, OperationFrame& frame, std::int8_t first, std::uint32_t count,
                  const std::string& name, std::string& error) {
  AtomicOutputFile file;  // removed again unless committed
  if (!file.Create(name)) {
    error = "cannot create " + name + ": " + file.Error();
    return kResultFailed;
  }
  for (std::uint32_t i = 0; i < count; ++i) {
    const auto unit = static_cast<std::int8_t>(first + i);
    if (ReadSaveUnit(link, frame.Buffer, unit) != kResultDone) {
      error = "the two reads of save unit " + std::to_string(unit) + " differed";
      return kResultFailed;
    }
    frame.ProcessMessages();
    if (std::fwrite(frame.Buffer.data(), 1, kSaveUnitBytes, file.Stream()) != kSaveUnitBytes) {
      error = "cannot write " + name + ": " + std::strerror(errno != 0 ? errno : EIO);
      return kResultFailed;
    }
  }
  if (!file.Commit(false)) {
    error = "cannot write " + name + ": " + std::strerror(errno != 0 ? errno : EIO);
    return kResultFailed;
  }
  return kResultDone;
}

int RestoreSaveFromFile(Link& link, OperationFrame& frame, CartState& cart) {
  cart.SaveUnitCount = static_cast<std::uint8_t>(cart.InputFileSize >> 15);
  frame.SetStatus("Writing... ");
  const std::uint32_t count = cart.SaveUnitCount;
  for (std::uint32_t i = 0; i < count; ++i) {
    if (frame.PollStop()) return CloseWith(frame, kResultCancelled);
    frame.SetProgress(i, count);
    frame.UpdateProgressBar();
    if (!frame.ReadFileBlock(kSaveUnitBytes)) return CloseWith(frame, kResultFailed);
    frame.ProcessMessages();
    if (WriteSaveUnit(link, frame.Buffer, static_cast<std::int8_t>(cart.SaveStartUnit + i)) != kResultDone) {
      // i counts the units of this transfer, not unit numbers.
      frame.LogLine("Write Save Data Error!!!(" + NumberToText(static_cast<std::int32_t>(i)) + ")");
      return CloseWith(frame, kResultFailed);
    }
  }
  frame.CloseCurrentFile();
  frame.SetStatus("Write Save Data ok");
  frame.ProgressPercent = 100;
  frame.UpdateProgressBar();
  frame.ProcessMessages();
  return kResultDone;
}

}  // namespace brevomat
