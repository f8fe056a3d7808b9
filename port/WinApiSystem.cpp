// The WinApi table on the real Windows calls.
#include <windows.h>

#include "port/WinApi.h"

namespace brevomat::win {

namespace {

SC_HANDLE Sc(Handle handle) { return static_cast<SC_HANDLE>(handle); }

class SystemApi final : public WinApi {
 public:
  Handle OpenSCManagerA(const char* machineName, const char* databaseName, Dword desiredAccess) override {
    return ::OpenSCManagerA(machineName, databaseName, desiredAccess);
  }
  Handle CreateServiceA(Handle scManager, const char* serviceName, const char* displayName,
                        Dword desiredAccess, Dword serviceType, Dword startType, Dword errorControl,
                        const char* binaryPathName, const char* loadOrderGroup, Dword* tagId,
                        const char* dependencies, const char* serviceStartName,
                        const char* password) override {
    DWORD tag = 0;
    SC_HANDLE service = ::CreateServiceA(Sc(scManager), serviceName, displayName, desiredAccess, serviceType,
                                         startType, errorControl, binaryPathName, loadOrderGroup,
                                         tagId ? &tag : nullptr, dependencies, serviceStartName, password);
    if (tagId) *tagId = tag;
    return service;
  }
  Handle OpenServiceA(Handle scManager, const char* serviceName, Dword desiredAccess) override {
    return ::OpenServiceA(Sc(scManager), serviceName, desiredAccess);
  }
  bool StartServiceA(Handle service, Dword numServiceArgs, const char** serviceArgVectors) override {
    return ::StartServiceA(Sc(service), numServiceArgs, serviceArgVectors) != FALSE;
  }
  bool ControlService(Handle service, Dword control, ServiceStatus* status) override {
    SERVICE_STATUS raw{};
    const bool ok = ::ControlService(Sc(service), control, &raw) != FALSE;
    if (status) *status = Copy(raw);
    return ok;
  }
  bool QueryServiceStatus(Handle service, ServiceStatus* status) override {
    SERVICE_STATUS raw{};
    const bool ok = ::QueryServiceStatus(Sc(service), &raw) != FALSE;
    if (status) *status = Copy(raw);
    return ok;
  }
  bool DeleteService(Handle service) override { return ::DeleteService(Sc(service)) != FALSE; }
  bool CloseServiceHandle(Handle scObject) override { return ::CloseServiceHandle(Sc(scObject)) != FALSE; }

  Handle LoadLibraryA(const char* libFileName) override { return ::LoadLibraryA(libFileName); }
  Proc GetProcAddress(Handle module, const char* procName) override {
    return reinterpret_cast<Proc>(::GetProcAddress(static_cast<HMODULE>(module), procName));
  }
  bool FreeLibrary(Handle module) override { return ::FreeLibrary(static_cast<HMODULE>(module)) != FALSE; }

  bool GetVersionExA(OsVersionInfo* versionInfo) override {
    OSVERSIONINFOA raw{};
    raw.dwOSVersionInfoSize = sizeof raw;
    if (!::GetVersionExA(&raw)) return false;
    versionInfo->majorVersion = raw.dwMajorVersion;
    versionInfo->minorVersion = raw.dwMinorVersion;
    versionInfo->buildNumber = raw.dwBuildNumber;
    versionInfo->platformId = raw.dwPlatformId;
    return true;
  }
  unsigned GetSystemDirectoryA(char* buffer, unsigned size) override {
    return ::GetSystemDirectoryA(buffer, size);
  }
  Dword GetLastError() override { return ::GetLastError(); }

 private:
  static ServiceStatus Copy(const SERVICE_STATUS& raw) {
    return {raw.dwServiceType,
            raw.dwCurrentState,
            raw.dwControlsAccepted,
            raw.dwWin32ExitCode,
            raw.dwServiceSpecificExitCode,
            raw.dwCheckPoint,
            raw.dwWaitHint};
  }
};

}  // namespace

WinApi& SystemWinApi() {
  static SystemApi api;
  return api;
}

}  // namespace brevomat::win
