// Backup Saver, Write Saver and the hidden Verify Saver: the save memory commands.
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include "cart/SaveMemory.h"
#include "commands/Commands.h"
#include "commands/Core.h"

namespace brevomat {

namespace {

constexpr std::uint8_t kNoItem = 255;
constexpr std::uint32_t kMaxSaverFileBytes = 2 * kSaveUnitBytes;

// Units per item of Form3's size group: "32K", "64K", "128K", "256K".
constexpr std::uint8_t kUnitsForSize[] = {1, 2, 4, 8};
const char* const kBackupDone[] = {"Backup Saver 32K Ok", "Backup Saver 64K Ok", "Backup Saver 128K Ok",
                                   "Backup Saver 256K Ok"};

// Reads the units Write Saver is about to overwrite into a new file named after the moment, the
// bank and the size ("2026-03-14_093005_bank2_64K.sav"), so that no save is ever lost by it.
int KeepReplacedSave(Core& core) {
  core.KeptSaveFile.clear();
  core.KeepSaveError.clear();
  const CartState& cart = core.cart;
  if (core.KeptSavesFolder.empty()) {
#ifdef _WIN32
    core.KeepSaveError = "there is no folder to keep it in (APPDATA is not set)";
#else
    core.KeepSaveError = "there is no folder to keep it in (neither XDG_DATA_HOME nor HOME is set)";
#endif
    return kResultFailed;
  }
  std::error_code ec;
  std::filesystem::create_directories(core.KeptSavesFolder, ec);
  if (ec) {
    core.KeepSaveError = "cannot create the folder " + core.KeptSavesFolder + ": " + ec.message();
    return kResultFailed;
  }
  const std::uint32_t units = cart.InputFileSize / kSaveUnitBytes;
  char when[32] = {};
  const std::time_t now = std::time(nullptr);
  if (const std::tm* local = std::localtime(&now)) std::strftime(when, sizeof when, "%Y-%m-%d_%H%M%S", local);
  const std::string stem = (std::filesystem::path(core.KeptSavesFolder) / when).string() + "_bank" +
                           std::to_string(cart.SaveStartUnit / 2 + 1) + "_" + std::to_string(units * 32) +
                           "K";
  // Two in one second get a number; the file itself is never put over one that exists.
  std::string name = stem + ".sav";
  for (int n = 2; std::filesystem::exists(name, ec) && n < 100; ++n)
    name = stem + "-" + std::to_string(n) + ".sav";
  if (KeepSaveUnits(core.link, core.frame, cart.SaveStartUnit, units, name, core.KeepSaveError) !=
      kResultDone)
    return kResultFailed;
  core.KeptSaveFile = name;
  return kResultDone;
}

}  // namespace

int SelectSaveArea(Core& core) {
  OperationFrame& frame = core.frame;
  core.CommandSeparator();
  if (!core.OpenLink()) return kResultFailed;
  if (!ProbeSaveMemory(core.link, frame.Buffer)) {
    frame.LogLine("No Save Data found!!!");
    return kResultFailed;
  }
  // The close box stores nothing: the previous choice (Bank 1, 32K at first) stands.
  core.SaveSelection = core.window().ShowForm3(core.SaveSelection);
  // A group with no item selected hands back 255, its index's low byte: no choice either.
  if (!core.SaveSelection || core.SaveSelection->SelectedSaveBank == kNoItem ||
      core.SaveSelection->SelectedSaveSize == kNoItem) {
    frame.LogLine("Saver Select Cancel");
    return kResultFailed;
  }
  const SaveChoice choice = *core.SaveSelection;
  // A bank runs on into the following ones when the size is larger than one bank, but never past
  // unit 7. Item indexes the groups do not have count as out of range too.
  const int start = 2 * choice.SelectedSaveBank;
  const int count =
      choice.SelectedSaveSize < std::size(kUnitsForSize) ? kUnitsForSize[choice.SelectedSaveSize] : 0;
  if (count == 0 || start + count > kSaveUnits) {
    frame.LogLine("Bank Select or Size Select Error!!!");
    return kResultFailed;
  }
  core.cart.SaveStartUnit = static_cast<std::int8_t>(start);
  core.cart.SaveUnitCount = static_cast<std::uint8_t>(count);
  return kResultDone;
}

int SReadClick(Core& core) {
  OperationFrame& frame = core.frame;
  if (SelectSaveArea(core) != kResultDone) return kResultFailed;
  std::string file;
  if (!core.window().ExecuteSaveDialog1(file)) return kResultCancelled;
  frame.ClearOperationDisplay();
  // The frame opens only once the file has been created. A file that cannot be created must not
  // report the seconds of the previous command as this one's.
  frame.ElapsedSeconds = 0;
  frame.LogLine("FileName = " + file);
  const int result = BackupSaveToFile(core.link, frame, core.cart);
  if (result != kResultDone) {
    frame.SetStatus("Error!!!");
  } else {
    frame.LogLine(kBackupDone[core.SaveSelection->SelectedSaveSize]);
    frame.SetStatus("");
  }
  frame.EndOperation();
  frame.LogElapsedTime();
  return result;
}

int SWriteClick(Core& core) {
  OperationFrame& frame = core.frame;
  CartState& cart = core.cart;
  if (SelectSaveArea(core) != kResultDone) return kResultFailed;
  std::vector<std::string> files;
  if (!core.window().ExecuteOpenDialog1(false, files) || files.empty()) return kResultCancelled;
  frame.ClearOperationDisplay();
  StoreFileName(frame.ImageFileName, files.front());
  frame.LogLine("FileName = " + files.front());
  if (frame.OpenInputFile() != 0) return kResultFailed;
  cart.InputFileSize = frame.CurrentFileLength();
  frame.LogLine("FileSize = " + std::to_string(cart.InputFileSize));

  // A save file is one or two whole units: 32,768 or 65,536 bytes.
  const std::uint32_t length = cart.InputFileSize;
  if (length < kSaveUnitBytes || length % kSaveUnitBytes != 0 || length > kMaxSaverFileBytes) {
    frame.LogLine("File Size Error!!!");
    frame.CloseCurrentFile();
    return kResultFailed;
  }
  // The chosen size only caps the file: a 64 KB file with "32K" chosen writes its first unit.
  if (cart.SaveUnitCount < length / kSaveUnitBytes) {
    cart.InputFileSize = cart.SaveUnitCount * kSaveUnitBytes;
    frame.LogLine("Fixed Saver Size(32K)");
  }

  // Nothing is written unless the save it replaces is safe, and the log names where it is.
  core.KeptSaveFile.clear();
  core.KeepSaveError.clear();
  if (core.KeepReplacedSave) {
    if (KeepReplacedSave(core) != kResultDone) {
      frame.LogLine("Old Save Error!!!(" + core.KeepSaveError + ")");
      frame.CloseCurrentFile();
      frame.SetStatus("Error!!!");
      return kResultFailed;
    }
    frame.LogLine("Old Save = " + core.KeptSaveFile);
  }

  frame.BeginOperation();
  const int result = RestoreSaveFromFile(core.link, frame, cart);
  if (result != kResultDone) frame.SetStatus("Error!!!");
  frame.EndOperation();
  frame.LogElapsedTime();
  return result;
}

int SVerifyClick(Core&) { return kResultDone; }

}  // namespace brevomat
