#include "commands/Core.h"

#include <filesystem>

#include "cart/Flash.h"
#include "dump/DatFolder.h"
#include "link/Detection.h"

namespace brevomat {

std::string DefaultKeptSavesFolder() {
  const std::string data = UserDataFolder();
  return data.empty() ? std::string() : (std::filesystem::path(data) / "saves").string();
}

std::string LoggedText(std::string_view text) {
  std::string shown;
  shown.reserve(text.size());
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x20 && byte != 0x7F) {
      shown += c;
    } else if (c == '\n') {
      shown += "\\n";
    } else if (c == '\r') {
      shown += "\\r";
    } else if (c == '\t') {
      shown += "\\t";
    } else {
      static constexpr char kDigits[] = "0123456789abcdef";
      shown += "\\x";
      shown += kDigits[byte >> 4];
      shown += kDigits[byte & 0x0F];
    }
  }
  return shown;
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
