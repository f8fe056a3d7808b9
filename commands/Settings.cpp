#include "commands/Settings.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>

#include "base/FileAccess.h"

namespace brevomat {

namespace {

// A name field read from a file may lack its NUL; such a field names nothing.
std::string FieldText(const char (&field)[kFileNameBytes]) {
  const std::size_t length = strnlen(field, kFileNameBytes);
  if (length == kFileNameBytes) return {};
  return std::string(field, length);
}

bool PathExists(const char* path) {
  if (access(path, F_OK) == 0) return true;
  // Anything but "no such entry" (a directory we may not search, say) means there is something.
  return errno != ENOENT && errno != ENOTDIR;
}

bool NameExists(const std::string& name) { return !name.empty() && access(name.c_str(), F_OK) == 0; }

}  // namespace

int ClampItemIndex(int index, int itemCount) {
  if (index < -1) return -1;
  if (index >= itemCount) return itemCount - 1;
  return index;
}

std::int32_t SaneWindowDimension(std::int32_t stored, std::int32_t design) {
  return stored >= kMinWindowDimension && stored <= kMaxWindowDimension ? stored : design;
}

void SettingsFile::SetDefaults() {
  SettingsWritable = false;
  record_.SetPortIndex(0);
  record_.SetSpeedIndex(0);
  record_.SetWindowHeight(kDesignWindowHeight);
  record_.SetWindowWidth(kDesignWindowWidth);
  record_.SetIpsIndex(0);
}

bool SettingsFile::Locate(std::string_view workingDirectory) {
  SettingsPath[0] = '\0';
  if (workingDirectory.empty() || !StoreFileName(SettingsPath, workingDirectory)) return false;
  StoreFileName(record_.OpenFileName(), workingDirectory);
  StoreFileName(record_.SaveFileName(), workingDirectory);
  StoreFileName(record_.BootFileName(), workingDirectory);
  std::string path(workingDirectory);
#ifdef _WIN32
  // "C:\" ends in its separator already; any other folder gets one.
  if (path.back() != '\\' && path.back() != '/') path += '\\';
#else
  if (path.back() != '/') path += '/';
#endif
  path += "config.sav";
  return StoreFileName(SettingsPath, path);
}

bool SettingsFile::LoadSettings() {
  std::FILE* file = OpenRegularFile(SettingsPath);
  if (file == nullptr) return false;
  const std::size_t got = std::fread(record_.bytes.data(), 1, kSettingsRecordBytes, file);
  std::fclose(file);
  return got == kSettingsRecordBytes;
}

void SettingsFile::SaveSettings(const WindowSettings& window) {
  if (!SettingsWritable) return;
  record_.SetPortIndex(window.PortIndex);
  // A name too long for its field is not stored: the field is left empty rather than holding a
  // cut-off path that would name some other file.
  StoreFileName(record_.OpenFileName(), window.OpenFileName);
  StoreFileName(record_.SaveFileName(), window.SaveFileName);
  StoreFileName(record_.BootFileName(), window.BootFileName);
  record_.SetWindowHeight(window.WindowHeight);
  record_.SetWindowWidth(window.WindowWidth);
  record_.SetSpeedIndex(window.SpeedIndex);
  record_.SetIpsIndex(window.IpsIndex);

  // A full disk or a vanished directory leaves the old file as it was and stops later saves.
  if (!ReplaceFileContents(SettingsPath, record_.bytes.data(), kSettingsRecordBytes))
    SettingsWritable = false;
}

void SettingsFile::StartUpDecision(const WindowSettings& window) {
  struct stat st {};
  if (::stat(SettingsPath, &st) == 0 && !S_ISREG(st.st_mode)) {
    // A directory, FIFO or device under that name is not ours to read or replace.
    Complaint = std::string(SettingsPath) + " is not a regular file: the settings are neither read nor saved";
    return;
  }
  if (!PathExists(SettingsPath)) {
    SettingsWritable = true;
    SaveSettings(window);
    return;
  }
  if (access(SettingsPath, R_OK) != 0) return;
  if (access(SettingsPath, W_OK) != 0) {
    LoadSettings();
    return;
  }
  SettingsWritable = true;
  if (!LoadSettings()) SaveSettings(window);
}

void SettingsFile::StartUp(std::string_view workingDirectory, const WindowSettings& window,
                           OperationFrame& frame) {
  try {
    // Without a usable working directory there is nowhere to keep the file: the run goes on with
    // the defaults and saves nothing.
    if (!Locate(workingDirectory)) {
      frame.LogLine("config file error");
      return;
    }
    StartUpDecision(window);
  } catch (const std::exception&) {
    frame.LogLine("config file error");
  }
}

WindowSettings SettingsFile::Apply() {
  WindowSettings shown;
  shown.PortIndex = record_.PortIndex();
  shown.WindowHeight = SaneWindowDimension(record_.WindowHeight(), kDesignWindowHeight);
  shown.WindowWidth = SaneWindowDimension(record_.WindowWidth(), kDesignWindowWidth);
  shown.SpeedIndex = record_.SpeedIndex();
  std::string* names[] = {&shown.OpenFileName, &shown.SaveFileName, &shown.BootFileName};
  char(*records[])[kFileNameBytes] = {&record_.OpenFileName(), &record_.SaveFileName(),
                                      &record_.BootFileName()};
  for (int i = 0; i < 3; ++i) {
    std::string name = FieldText(*records[i]);
    if (!NameExists(name)) {
      (*records[i])[0] = '\0';
      name.clear();
    }
    *names[i] = name;
  }
  shown.IpsIndex = record_.IpsIndex();
  return shown;
}

}  // namespace brevomat
