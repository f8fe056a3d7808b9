// Feeds arbitrary bytes to the settings record as config.sav would hand them over (any length up
// to the record's 796 bytes): what the window is told to show must always be usable.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "commands/Settings.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  brevomat::SettingsRecord record;
  std::memcpy(record.bytes.data(), data, size < record.bytes.size() ? size : record.bytes.size());
  brevomat::SettingsFile file(record);
  const brevomat::WindowSettings shown = file.Apply();
  auto sane = [](std::int32_t v) {
    return v >= brevomat::kMinWindowDimension && v <= brevomat::kMaxWindowDimension;
  };
  if (!sane(shown.WindowHeight) || !sane(shown.WindowWidth)) std::abort();
  // A name is shown only as far as its 260-byte field holds it, ended by its NUL.
  for (const auto* name : {&shown.OpenFileName, &shown.SaveFileName, &shown.BootFileName})
    if (name->size() >= brevomat::kFileNameBytes || name->find('\0') != std::string::npos) std::abort();
  return 0;
}
