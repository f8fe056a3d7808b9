// Set Pre Boot and Write Multi: two games behind a 32 KB pre-boot image in the 8 MB flash.
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "cart/Program.h"
#include "commands/Commands.h"
#include "commands/Core.h"
#include "image/MultiLayout.h"

namespace brevomat {

namespace {

// The 8 MB chip holds two 4 MB slots; a 4 MB chip holds no multi-game set at all.
constexpr std::size_t kMultiGameCount = 2;

std::string FieldText(const char (&field)[kFileNameBytes]) {
  return std::string(field, strnlen(field, kFileNameBytes));
}

// Reads the open file's final 32 KB into the transfer buffer ("Read ErrNo=" on failure).
bool ReadFinalChunk(OperationFrame& frame, std::uint32_t length) {
  if (std::fseek(frame.CurrentFile, static_cast<long>(length - kChunkBytes), SEEK_SET) != 0) {
    frame.LogLine(std::string("Read ErrNo=") + std::strerror(errno));
    return false;
  }
  return frame.ReadFileBlock(kChunkBytes);
}

int CloseWith(OperationFrame& frame, int result) {
  frame.CloseCurrentFile();
  return result;
}

}  // namespace

int SetPreBootClick(Core& core) {
  OperationFrame& frame = core.frame;
  core.CommandSeparator();
  std::string name;
  if (!core.window().ExecuteOpenDialog2(name)) {
    frame.LogLine("Set Multi-Boot File Cancel");
    return kResultCancelled;
  }
  StoreFileName(frame.ImageFileName, name);
  if (frame.OpenInputFile() != 0) return kResultFailed;
  const std::uint32_t length = frame.CurrentFileLength();
  frame.LogLine("FileSize = " + std::to_string(length));
  if (length != kPreBootBytes) {
    frame.LogLine("File Size Error!!!");
    frame.LogLine("Set Multi-Boot File Cancel");
    return CloseWith(frame, kResultFailed);
  }
  // The name fits: it was just opened from a field of the same size.
  StoreFileName(core.settings.BootFileName(), name);
  frame.LogLine("Set Multi-Boot File=" + name);
  return CloseWith(frame, kResultDone);
}

int WriteMultiClick(Core& core) {
  OperationFrame& frame = core.frame;
  CartState& cart = core.cart;
  core.CommandSeparator();
  cart.HeaderFixed = 0;

  std::vector<std::string> files;
  if (!core.window().ExecuteOpenDialog1(true, files) || files.empty()) {
    frame.LogLine("Write Multi-Files To Cart Cancel");
    return kResultCancelled;
  }
  frame.ClearOperationDisplay();
  if (!core.OpenFlash()) return kResultFailed;
  // Only the 8 MB chip carries a multi-game set; on any other the command ends here, silently.
  if (cart.FlashSize != kFlash8M) return kResultFailed;
  if (files.size() != kMultiGameCount) {
    frame.LogLine("Multi-Files Select Error!!!");
    return kResultFailed;
  }

  // First pass: every check, and every message, before anything is written. Of each game only
  // the final 32 KB is read, and only where it decides whether the game may go last.
  std::array<MultiImage, kMultiGameCount> images{};
  std::uint64_t MultiFileSize = 0;
  for (std::size_t i = 0; i < kMultiGameCount; ++i) {
    StoreFileName(frame.ImageFileName, files[i]);
    if (frame.OpenInputFile() != 0) return kResultFailed;
    const std::uint32_t length = frame.CurrentFileLength();
    images[i].size = length;
    MultiFileSize += length;
    if (MultiFileSize > cart.FlashSize) {
      frame.LogLine("Total Multi-Files Size > MaxCartSize, Error!!!");
      return CloseWith(frame, kResultFailed);
    }
    if (length < kChunkBytes || length % kChunkBytes != 0 || length > kFlash8M) {
      frame.LogLine("Files Size Error!!!");
      return CloseWith(frame, kResultFailed);
    }
    if (length >= kLastFitWholeLimit) {
      if (!ReadFinalChunk(frame, length)) return CloseWith(frame, kResultFailed);
      images[i].finalChunkBlank = ChunkBlank(frame.Buffer);
    }
    frame.CloseCurrentFile();
  }
  frame.LogLine("MultiFileSize = " + std::to_string(MultiFileSize));

  const MultiLayout layout = LayOutMultiImages(images, cart.FlashSize);
  if (layout.verdict == MultiVerdict::NoLastImage) {
    frame.LogLine("Can not put all files to cart!!!");
    return kResultFailed;
  }
  if (layout.verdict == MultiVerdict::PastFlash) {
    const MultiPlacement& misfit = layout.placements[layout.overflowing];
    frame.LogLine("Multi-Files Layout > MaxCartSize, Error!!! (" + files[misfit.image] + " would end at " +
                  std::to_string(layout.overflowEnd) + ", the cart at " + std::to_string(cart.FlashSize) +
                  ")");
    return kResultFailed;
  }

  const std::string boot = FieldText(core.settings.BootFileName());
  StoreFileName(frame.ImageFileName, boot);
  frame.LogLine("FileName = " + boot);
  if (frame.OpenInputFile() != 0) return kResultFailed;
  if (frame.CurrentFileLength() != kPreBootBytes) {
    frame.LogLine("Multi-Boot Files Size Error!!!");
    return CloseWith(frame, kResultFailed);
  }
  frame.LogLine("FileSize = " + std::to_string(kPreBootBytes));

  // The header flags describe one image: a flag left set by an image that ended early must not
  // make the next image's verify pass repair a header that was never repaired in the flash.
  auto writeImage = [&](std::uint32_t size, std::uint32_t startChunk, bool offerIps) {
    cart.HeaderChecked = 0;
    cart.HeaderFixed = 0;
    return WriteImage(core.link, frame, cart, core.ips, size, startChunk, offerIps);
  };

  // From here on the window is locked and Stop works. LastErasedBlock carries over from image to
  // image: the first game starts in the block the pre-boot image's chunk erased, and a game
  // behind a full 4 MB one starts in the block that holds that game's last chunk.
  frame.BeginOperation();
  const int bootResult = writeImage(kPreBootBytes, 0, false);
  if (bootResult != kResultDone) frame.SetStatus("Error!!!");

  for (const MultiPlacement& game : layout.placements) {
    StoreFileName(frame.ImageFileName, files[game.image]);
    frame.LogLine("FileName = " + files[game.image]);
    int result = frame.OpenInputFile();
    if (result == 0) {
      frame.LogLine("FileSize = " + std::to_string(game.size));
      result = writeImage(game.size, game.startChunk, core.window().RadioIpsIndex() == 1);
    }
    if (result != kResultDone) {
      frame.SetStatus("Error!!!");
      core.LogBlockCounts();
      frame.EndOperation();
      frame.LogElapsedTime();
      return result;
    }
  }
  // The last game's "Write Cart ok" must not hide a pre-boot image that failed: without it the
  // cart starts no game.
  if (bootResult != kResultDone) frame.SetStatus("Error!!!");
  core.LogBlockCounts();
  frame.EndOperation();
  frame.LogElapsedTime();
  return bootResult;
}

}  // namespace brevomat
