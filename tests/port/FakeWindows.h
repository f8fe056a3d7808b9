// A model of the parts of a Windows machine that the port driver component meets: the service
// control manager with its services and the rights of the user, driver files that load or not,
// library files with their exports, and the port calls that reach the libraries' entry points.
//
// It behaves as the system does rather than replaying expected calls: a handle can do only what
// it was opened for, a service starts only from the stopped state and only if its driver file is
// there, a library loads only if its file is one, and every handle must be closed again.
#pragma once

#include <cstdint>
#include <cstdio>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "port/TdlportioWin.h"
#include "port/WinApi.h"

namespace brevomat::win::testing {

struct FakeService {
  std::string displayName;
  std::string binaryPath;
  std::string group;
  Dword type = kServiceKernelDriver;
  Dword startType = kServiceDemandStart;
  Dword errorControl = kServiceErrorNormal;
  Dword state = kServiceStopped;
  bool operator==(const FakeService&) const = default;
};

struct FakeLibraryFile {
  std::set<std::string> exports;
  Dword loadError = 0;     // the loader's answer for a file that is no DLL for this process
  bool driverOpen = true;  // what the fallback library's IsInpOutDriverOpen answers
};

// What reaches the fake libraries' port entry points, "library:call(port,value)". The entry points
// are plain functions, as the real exports are, so they write to this one log.
inline std::vector<std::string>& PortLog() {
  static std::vector<std::string> log;
  return log;
}
inline bool& FallbackDriverOpen() {
  static bool open = true;
  return open;
}
inline constexpr std::uint8_t kByteAnswer = 0x5A;
inline constexpr std::uint16_t kWordAnswer = 0xA55A;

inline std::string Hex(unsigned value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%X", value);
  return text;
}

// The libraries' entry points; Lib 0 is DLPortIO.dll, 1 the fallback library.
template <int Lib>
std::uint8_t BREVOMAT_WINAPI ReadUchar(Dword port) {
  PortLog().push_back(std::to_string(Lib) + ":rb(" + Hex(port) + ")");
  return kByteAnswer;
}
template <int Lib>
std::uint16_t BREVOMAT_WINAPI ReadUshort(Dword port) {
  PortLog().push_back(std::to_string(Lib) + ":rw(" + Hex(port) + ")");
  return kWordAnswer;
}
template <int Lib>
void BREVOMAT_WINAPI WriteUchar(Dword port, std::uint8_t value) {
  PortLog().push_back(std::to_string(Lib) + ":wb(" + Hex(port) + "," + Hex(value) + ")");
}
template <int Lib>
void BREVOMAT_WINAPI WriteUshort(Dword port, std::uint16_t value) {
  PortLog().push_back(std::to_string(Lib) + ":ww(" + Hex(port) + "," + Hex(value) + ")");
}
// The entry points that the port operations never use.
template <int Lib>
void BREVOMAT_WINAPI Unused() {
  PortLog().push_back(std::to_string(Lib) + ":unused entry point called");
}
inline std::int32_t BREVOMAT_WINAPI IsDriverOpen() { return FallbackDriverOpen() ? 1 : 0; }

template <int Lib>
Proc EntryPoint(const std::string& name) {
  if (name == "DlPortReadPortUchar") return reinterpret_cast<Proc>(&ReadUchar<Lib>);
  if (name == "DlPortReadPortUshort") return reinterpret_cast<Proc>(&ReadUshort<Lib>);
  if (name == "DlPortWritePortUchar") return reinterpret_cast<Proc>(&WriteUchar<Lib>);
  if (name == "DlPortWritePortUshort") return reinterpret_cast<Proc>(&WriteUshort<Lib>);
  if (name == kFallbackDriverOpenEntry) return reinterpret_cast<Proc>(&IsDriverOpen);
  return reinterpret_cast<Proc>(&Unused<Lib>);
}

inline std::set<std::string> AllExports() { return {kEntryPointNames.begin(), kEntryPointNames.end()}; }
inline std::set<std::string> FallbackExports() {
  std::set<std::string> names(kFallbackEntryPointNames.begin(), kFallbackEntryPointNames.end());
  names.insert({"DlPortReadPortUlong", "DlPortWritePortUlong", "Inp32", "Out32", kFallbackDriverOpenEntry});
  return names;
}

class FakeWindows final : public WinApi {
 public:
  static constexpr std::size_t kMaxPath = 260;

  // The machine.
  Dword platformId = kVerPlatformWin32Nt;
  std::string systemDirectory = "C:\\WINDOWS\\system32";
  bool administrator = true;  // may create, start, stop and delete services
  bool mayConnect = true;     // may open the service manager at all
  std::map<std::string, FakeService> services;
  std::map<std::string, Dword> driverFiles;             // path -> 0, or the error starting it gives
  std::map<std::string, FakeLibraryFile> libraryFiles;  // path as passed to LoadLibraryA
  Dword stopError = 0;                                  // the next stop control fails with this
  Dword deleteError = 0;                                // the next deletion fails with this

  // What happened.
  std::vector<std::string> calls;

  std::size_t OpenHandles(char kind) const {
    std::size_t n = 0;
    for (const auto& [id, handle] : handles_) n += handle.kind == kind ? 1 : 0;
    return n;
  }
  bool TouchedServices() const {
    for (const std::string& call : calls) {
      if (call.find("Service") != std::string::npos || call.find("SCManager") != std::string::npos)
        return true;
    }
    return false;
  }

  Handle OpenSCManagerA(const char*, const char*, Dword access) override {
    calls.push_back("OpenSCManagerA(" + Hex(access) + ")");
    if (!mayConnect || (!administrator && (access & kScManagerCreateService)))
      return Fail(kErrorAccessDenied);
    return NewHandle({'M', access, ""});
  }
  Handle CreateServiceA(Handle manager, const char* name, const char* display, Dword access, Dword type,
                        Dword startType, Dword errorControl, const char* path, const char* group, Dword* tag,
                        const char* dependencies, const char* account, const char* password) override {
    calls.push_back(std::string("CreateServiceA(") + name + "," + path + ")");
    const Entry* scm = Find(manager, 'M');
    if (!scm) return Fail(kErrorInvalidHandle);
    if (!(scm->access & kScManagerCreateService)) return Fail(kErrorAccessDenied);
    if (services.count(name)) return Fail(kErrorServiceExists);
    if (tag || dependencies || account || password) return Fail(87);  // not what a driver needs
    services[name] = {display, path, group, type, startType, errorControl, kServiceStopped};
    return NewHandle({'S', access, name});
  }
  Handle OpenServiceA(Handle manager, const char* name, Dword access) override {
    calls.push_back(std::string("OpenServiceA(") + name + "," + Hex(access) + ")");
    if (!Find(manager, 'M')) return Fail(kErrorInvalidHandle);
    if (!services.count(name)) return Fail(kErrorServiceDoesNotExist);
    if (!administrator && (access & ~kServiceQueryStatus)) return Fail(kErrorAccessDenied);
    return NewHandle({'S', access, name});
  }
  bool StartServiceA(Handle handle, Dword, const char**) override {
    calls.push_back("StartServiceA");
    FakeService* service = Service(handle, kServiceStart);
    if (!service) return false;
    if (service->state != kServiceStopped) return Fail(kErrorServiceAlreadyRunning);
    if (service->binaryPath.size() >= kMaxPath) return Fail(kErrorFilenameExcedRange);
    const auto file = driverFiles.find(service->binaryPath);
    if (file == driverFiles.end()) return Fail(kErrorFileNotFound);
    if (file->second != 0) return Fail(file->second);
    service->state = kServiceRunning;
    return true;
  }
  bool ControlService(Handle handle, Dword control, ServiceStatus* status) override {
    calls.push_back("ControlService(" + std::to_string(control) + ")");
    FakeService* service = Service(handle, control == kServiceControlStop ? kServiceStop : 0);
    if (!service) return false;
    if (stopError != 0) return Fail(std::exchange(stopError, 0));
    if (service->state != kServiceRunning) return Fail(kErrorServiceNotActive);
    service->state = kServiceStopped;
    status->currentState = service->state;
    return true;
  }
  bool QueryServiceStatus(Handle handle, ServiceStatus* status) override {
    calls.push_back("QueryServiceStatus");
    FakeService* service = Service(handle, kServiceQueryStatus);
    if (!service) return false;
    *status = {};
    status->serviceType = service->type;
    status->currentState = service->state;
    return true;
  }
  bool DeleteService(Handle handle) override {
    calls.push_back("DeleteService");
    FakeService* service = Service(handle, kDelete);
    if (!service) return false;
    if (deleteError != 0) return Fail(std::exchange(deleteError, 0));
    services.erase(handles_.at(Id(handle)).name);
    return true;
  }
  bool CloseServiceHandle(Handle handle) override {
    calls.push_back("CloseServiceHandle");
    if (!Find(handle, 'M') && !Find(handle, 'S')) return Fail(kErrorInvalidHandle);
    handles_.erase(Id(handle));
    return true;
  }

  Handle LoadLibraryA(const char* fileName) override {
    calls.push_back(std::string("LoadLibraryA(") + fileName + ")");
    const std::string path = fileName;
    if (path.size() >= kMaxPath) return Fail(kErrorFilenameExcedRange);
    const auto file = libraryFiles.find(path);
    if (file == libraryFiles.end()) return Fail(kErrorModNotFound);
    if (file->second.loadError != 0) return Fail(file->second.loadError);
    FallbackDriverOpen() = file->second.driverOpen;
    return NewHandle({'L', 0, path});
  }
  Proc GetProcAddress(Handle module, const char* name) override {
    const Entry* library = Find(module, 'L');
    if (!library) return Fail(kErrorInvalidHandle);
    if (!libraryFiles.at(library->name).exports.count(name)) return Fail(kErrorProcNotFound);
    const bool fallback = library->name.ends_with(kFallbackLibraryName);
    return fallback ? EntryPoint<1>(name) : EntryPoint<0>(name);
  }
  bool FreeLibrary(Handle module) override {
    calls.push_back("FreeLibrary");
    if (!Find(module, 'L')) return Fail(kErrorInvalidHandle);
    handles_.erase(Id(module));
    return true;
  }

  bool GetVersionExA(OsVersionInfo* info) override {
    *info = {};
    info->majorVersion = platformId == kVerPlatformWin32Nt ? 5 : 4;
    info->platformId = platformId;
    return true;
  }
  unsigned GetSystemDirectoryA(char* buffer, unsigned size) override {
    if (systemDirectory.size() >= size) return static_cast<unsigned>(systemDirectory.size() + 1);
    systemDirectory.copy(buffer, systemDirectory.size());
    buffer[systemDirectory.size()] = '\0';
    return static_cast<unsigned>(systemDirectory.size());
  }
  Dword GetLastError() override { return lastError_; }

 private:
  struct Entry {
    char kind;  // 'M' service manager, 'S' service, 'L' library
    Dword access;
    std::string name;
  };

  static std::uintptr_t Id(Handle handle) { return reinterpret_cast<std::uintptr_t>(handle); }
  Handle NewHandle(Entry entry) {
    nextId_ += 4;
    handles_[nextId_] = std::move(entry);
    return reinterpret_cast<Handle>(nextId_);
  }
  const Entry* Find(Handle handle, char kind) const {
    const auto it = handles_.find(Id(handle));
    return it != handles_.end() && it->second.kind == kind ? &it->second : nullptr;
  }
  // The service behind a handle, if the handle was opened with the access the call needs.
  FakeService* Service(Handle handle, Dword needed) {
    const Entry* entry = Find(handle, 'S');
    if (!entry) return Fail(kErrorInvalidHandle);
    if ((entry->access & needed) != needed) return Fail(kErrorAccessDenied);
    const auto it = services.find(entry->name);
    if (it == services.end()) return Fail(kErrorServiceDoesNotExist);  // marked for deletion
    return &it->second;
  }
  // A failed call: sets the last error and converts to the call's failure result (null, false).
  struct Failed {
    template <typename T>
    operator T() const {
      return T{};
    }
  };
  Failed Fail(Dword error) {
    lastError_ = error;
    return {};
  }

  std::map<std::uintptr_t, Entry> handles_;
  std::uintptr_t nextId_ = 0x1000;
  Dword lastError_ = 0;
};

}  // namespace brevomat::win::testing
