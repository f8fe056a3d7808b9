#include "commands/Core.h"

#include <filesystem>

#include "base/AtomicOutputFile.h"
#include "cart/Flash.h"
#include "dump/DatFolder.h"
#include "link/Detection.h"

namespace brevomat {

std::string DefaultKeptSavesFolder() {
  const std::string data = UserDataFolder();
  return data.empty() ? std::string() : (std::filesystem::path(data) / "saves").string();
}

Core::Core(Window& window)
    : link(port), frame(window), KeptSavesFolder(DefaultKeptSavesFolder()), DatFolder(DefaultDatFolder()) {}

void Core::LogBlockCounts() {
  const ChangedBlocks& c = cart.Changed;
  if (!c.Enabled) return;
  frame.LogLine("Blocks = " + std::to_string(c.Skipped) + " skipped, " + std::to_string(c.Programmed) +
                " programmed, " + std::to_string(c.Erased) + " erased");
}

void Core::SelectPortAddresses() {
  switch (window().PortSelIndex()) {
    case 1:
      link.SetBase(kLpt2Base);
      break;
    case 2:
      link.SetBase(kLpt3Base);
      break;
    default:
      link.SetBase(kLpt1Base);
      break;
  }
}

bool Core::OpenLink() {
  cart.LastErasedBlock = -1;
  cart.Changed.NewCommand();
  return DetectAdapter(link, frame, window().RadioSpeedIndex());
}

bool Core::OpenFlash() {
  if (!OpenLink()) return false;
  if (!IdentifyFlash(link, frame, cart)) {
    frame.LogLine("Flash not found!!!");
    return false;
  }
  WaitFlashReady(link, frame);
  return true;
}

}  // namespace brevomat
