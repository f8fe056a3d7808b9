#include "port/TdlportioWin.h"

namespace brevomat::win {

namespace {

// What the port operations do while no library is open: a floating bus.
std::uint8_t BREVOMAT_WINAPI FloatingReadByte(Dword) { return 0xFF; }
std::uint16_t BREVOMAT_WINAPI FloatingReadWord(Dword) { return 0xFFFF; }
void BREVOMAT_WINAPI DroppedWriteByte(Dword, std::uint8_t) {}
void BREVOMAT_WINAPI DroppedWriteWord(Dword, std::uint16_t) {}

// GetSystemDirectoryA's buffer; a longer directory is asked for again with the size it needs.
constexpr unsigned kSystemDirectoryBuffer = 260;

std::string SystemDirectory(WinApi& api) {
  char buffer[kSystemDirectoryBuffer];
  const unsigned length = api.GetSystemDirectoryA(buffer, kSystemDirectoryBuffer);
  if (length > 0 && length < kSystemDirectoryBuffer) return std::string(buffer, length);
  if (length == 0) return std::string();
  std::string longer(length, '\0');
  const unsigned copied = api.GetSystemDirectoryA(longer.data(), length);
  if (copied == 0 || copied >= length) return std::string();
  longer.resize(copied);
  return longer;
}

}  // namespace

void TDLPortIO::LibraryBackend::Close() {
  readByte = FloatingReadByte;
  readWord = FloatingReadWord;
  writeByte = DroppedWriteByte;
  writeWord = DroppedWriteWord;
}

TDLPortIO::TDLPortIO(WinApi& api) : api_(api) {
  OsVersionInfo version;
  runningOnNt_ = api_.GetVersionExA(&version) && version.platformId == kVerPlatformWin32Nt;
  DriverPath = SystemDirectory(api_) + "\\DRIVERS";
}

TDLPortIO::~TDLPortIO() {
  if (activeHW_) CloseDriver();
}

std::string TDLPortIO::LibraryPath(const char* fileName) const {
  return DLLPath.empty() ? std::string(fileName) : DLLPath + "\\" + fileName;
}

void TDLPortIO::Fail(const char* step, std::int64_t error) {
  lastError_ = std::string(step) + ": Error #" + std::to_string(error);
}

void TDLPortIO::OpenDriver() {
  if (activeHW_) return;
  OpenDriverLinx();
  if (!activeHW_ && UseFallbackLibrary) OpenFallbackLibrary();
}

void TDLPortIO::OpenDriverLinx() {
  if (runningOnNt_) {
    if (!ConnectSCM()) return;
    if (!DriverInstall()) {
      DisconnectSCM();
      return;
    }
    if (!DriverStart()) {
      DriverRemove();
      DisconnectSCM();
      return;
    }
  }

  library_ = api_.LoadLibraryA(LibraryPath(kLibraryName).c_str());
  if (library_) {
    bool all = true;
    for (int i = 0; i < kEntryPointCount; ++i) {
      entryPoints_[i] = api_.GetProcAddress(library_, kEntryPointNames[i]);
      all = all && entryPoints_[i] != nullptr;
    }
    activeHW_ = all;
  }

  if (!activeHW_) {
    // Undo what was done; each step leaves alone what existed before. The service manager stays
    // connected only while the driver is open.
    if (runningOnNt_) {
      DriverStop();
      DriverRemove();
      DisconnectSCM();
    }
    if (library_) {
      api_.FreeLibrary(library_);
      library_ = nullptr;
    }
    entryPoints_.fill(nullptr);
    return;
  }
  fallback_ = false;
  backend_.readByte = reinterpret_cast<ReadUcharProc>(entryPoints_[kReadUcharEntry]);
  backend_.readWord = reinterpret_cast<ReadUshortProc>(entryPoints_[kReadUshortEntry]);
  backend_.writeByte = reinterpret_cast<WriteUcharProc>(entryPoints_[kWriteUcharEntry]);
  backend_.writeWord = reinterpret_cast<WriteUshortProc>(entryPoints_[kWriteUshortEntry]);
}

void TDLPortIO::OpenFallbackLibrary() {
  // The library installs and opens its own driver when it is loaded; no service step here.
  Handle library = api_.LoadLibraryA(LibraryPath(kFallbackLibraryName).c_str());
  if (!library) return;
  std::array<Proc, kFallbackEntryPointNames.size()> entries{};
  bool all = true;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    entries[i] = api_.GetProcAddress(library, kFallbackEntryPointNames[i]);
    all = all && entries[i] != nullptr;
  }
  // A library that could not open its driver (no administrator rights when it had to install
  // it) would read zeros and drop writes silently; it says so when asked.
  if (all) {
    const Proc driverOpen = api_.GetProcAddress(library, kFallbackDriverOpenEntry);
    if (driverOpen && reinterpret_cast<DriverOpenProc>(driverOpen)() == 0) all = false;
  }
  if (!all) {
    api_.FreeLibrary(library);
    return;
  }
  library_ = library;
  fallback_ = true;
  activeHW_ = true;
  backend_.readByte = reinterpret_cast<ReadUcharProc>(entries[0]);
  backend_.readWord = reinterpret_cast<ReadUshortProc>(entries[1]);
  backend_.writeByte = reinterpret_cast<WriteUcharProc>(entries[2]);
  backend_.writeWord = reinterpret_cast<WriteUshortProc>(entries[3]);
}

bool TDLPortIO::CloseDriver() {
  if (!activeHW_) return false;
  // The service was already put back as it was found when the fallback library was opened.
  if (runningOnNt_ && !fallback_) {
    if (!DriverStop()) return false;
    if (!DriverRemove()) return false;
    DisconnectSCM();
  }
  if (!api_.FreeLibrary(library_)) return false;
  library_ = nullptr;
  entryPoints_.fill(nullptr);
  backend_.Close();
  activeHW_ = false;
  fallback_ = false;
  return true;
}

bool TDLPortIO::ConnectSCM() {
  // Without the right to create services, connect with what is left: a driver that is installed
  // already can still be started.
  scManager_ = api_.OpenSCManagerA(nullptr, nullptr, kScManagerFullAccess);
  if (!scManager_ && api_.GetLastError() == kErrorAccessDenied) {
    scManager_ = api_.OpenSCManagerA(nullptr, nullptr, kScManagerReducedAccess);
  }
  if (!scManager_) {
    Fail("ConnectSCM", api_.GetLastError());
    return false;
  }
  return true;
}

bool TDLPortIO::DisconnectSCM() {
  if (scManager_) {
    api_.CloseServiceHandle(scManager_);
    scManager_ = nullptr;
  }
  return true;
}

bool TDLPortIO::DriverInstall() {
  installedBefore_ = false;
  const std::string driverFile = DriverPath + "\\" + kServiceName + kDriverSuffix;
  Handle service = api_.OpenServiceA(scManager_, kServiceName, kServiceQueryStatus);
  if (service) {
    installedBefore_ = true;
    api_.CloseServiceHandle(service);
    return true;
  }
  service = api_.CreateServiceA(scManager_, kServiceName, kServiceDisplayName, kServiceInstallAccess,
                                kServiceKernelDriver, kServiceDemandStart, kServiceErrorNormal,
                                driverFile.c_str(), kServiceGroup, nullptr, nullptr, nullptr, nullptr);
  if (!service) {
    Fail("DriverInstall", api_.GetLastError());
    return false;
  }
  api_.CloseServiceHandle(service);
  return true;
}

bool TDLPortIO::DriverStart() {
  runningBefore_ = false;
  std::int64_t error = 0;
  Handle service = api_.OpenServiceA(scManager_, kServiceName, kServiceQueryStatus);
  ServiceStatus status;
  if (!service || !api_.QueryServiceStatus(service, &status)) {
    error = api_.GetLastError();
  } else if (status.currentState == kServiceRunning) {
    runningBefore_ = true;
  } else if (status.currentState == kServiceStopped) {
    Handle starter = api_.OpenServiceA(scManager_, kServiceName, kServiceStart);
    if (!starter || !api_.StartServiceA(starter, 0, nullptr)) error = api_.GetLastError();
    if (starter) api_.CloseServiceHandle(starter);
  } else {
    // Start or stop pending, paused: not a state to take over or to start from.
    error = -1;
  }
  if (service) api_.CloseServiceHandle(service);
  if (error != 0) {
    Fail("DriverStart", error);
    return false;
  }
  return true;
}

bool TDLPortIO::DriverStop() {
  if (runningBefore_) return true;
  Handle service = api_.OpenServiceA(scManager_, kServiceName, kServiceStop | kServiceQueryStatus);
  ServiceStatus status;
  bool ok = service && api_.ControlService(service, kServiceControlStop, &status);
  // A driver that is stopped already is where this step wants it, as when a close whose removal
  // failed is tried again.
  if (!ok && service && api_.GetLastError() == kErrorServiceNotActive) ok = true;
  if (!ok) Fail("DriverStop", api_.GetLastError());
  if (service) api_.CloseServiceHandle(service);
  return ok;
}

bool TDLPortIO::DriverRemove() {
  if (installedBefore_) return true;
  Handle service = api_.OpenServiceA(scManager_, kServiceName, kDelete);
  bool ok = service && api_.DeleteService(service);
  if (!ok) Fail("DriverRemove", api_.GetLastError());
  if (service) api_.CloseServiceHandle(service);
  return ok;
}

}  // namespace brevomat::win
