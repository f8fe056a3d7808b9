// "config.sav": the chosen port, speed, IPS switch, window size and three remembered file names,
// kept between runs as a byte-for-byte image of the 796-byte SettingsRecord.
//
// The file lives in the working directory the program was started from. It is consulted once
// while the main window is set up and written then (when it is missing or short) and at Exit.
// Nothing here knows a window toolkit: the window hands over a snapshot of its controls and gets
// back the values to show.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "base/Operation.h"
#include "commands/SettingsRecord.h"

namespace brevomat {

// The main window's design size, the fallback for sizes that would give an unusable window.
inline constexpr std::int32_t kDesignWindowWidth = 418;
inline constexpr std::int32_t kDesignWindowHeight = 418;
// A stored window dimension is used as it stands only inside these bounds.
inline constexpr std::int32_t kMinWindowDimension = 200;
inline constexpr std::int32_t kMaxWindowDimension = 8192;

// The parts of the main window that the settings file remembers.
struct WindowSettings {
  int PortIndex = 0;   // Port_sel item index, -1 for no selection
  int SpeedIndex = 0;  // RadioSpeed
  int IpsIndex = 0;    // RadioIps
  std::int32_t WindowHeight = kDesignWindowHeight;
  std::int32_t WindowWidth = kDesignWindowWidth;
  std::string OpenFileName;  // OpenDialog1 (OpenDialog3 starts each run with the same name)
  std::string SaveFileName;  // SaveDialog1
  std::string BootFileName;  // OpenDialog2
};

// A radio group's item index limited to the group's range: below -1 it is -1 (no selection), at
// or above the item count it is the last item.
int ClampItemIndex(int index, int itemCount);

// A stored window dimension, or the design value when it is outside the sane bounds.
std::int32_t SaneWindowDimension(std::int32_t stored, std::int32_t design);

class SettingsFile {
 public:
  explicit SettingsFile(SettingsRecord& record) : record_(record) {}

  char SettingsPath[kFileNameBytes] = {};
  bool SettingsWritable = false;
  // Why the settings file was neither read nor written, for the user; empty when all is well.
  std::string Complaint;

  SettingsRecord& record() { return record_; }

  // The defaults the window's set-up gives before the file is consulted.
  void SetDefaults();

  // SettingsPath := `workingDirectory` + "/config.sav" (on Windows "\config.sav"); the three names
  // := the directory. False (and an empty SettingsPath) when the directory or the full path does not
  // fit its field.
  bool Locate(std::string_view workingDirectory);

  // Reads up to 796 bytes into the record; true only when all 796 came. The bytes that did come
  // stay in the record either way.
  bool LoadSettings();

  // Captures the window into the record and writes the record, only while SettingsWritable.
  // A failed write clears SettingsWritable; nothing is reported.
  void SaveSettings(const WindowSettings& window);

  // The start-up decision: create a missing file from `window`, load a readable one, rewrite a
  // short writable one. Logs "config file error" through `frame` when the location is unusable or
  // anything throws. `window` is the window's state at that moment (the design state).
  void StartUp(std::string_view workingDirectory, const WindowSettings& window, OperationFrame& frame);

  // What the window shows from the record: indexes as signed bytes (not yet clamped: the radio
  // groups clamp), sizes made sane, names that name nothing on disk emptied in the record too.
  WindowSettings Apply();

 private:
  void StartUpDecision(const WindowSettings& window);
  SettingsRecord& record_;
};

}  // namespace brevomat
