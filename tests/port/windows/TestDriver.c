/* DLPortIO.SYS for the tests: a kernel driver that loads, does nothing, and unloads again, so that
 * the component's service steps can run against a real service control manager (Wine's runs such
 * drivers). It is no port driver and is unsigned, so 64-bit Windows will not start it. C, because
 * the toolchain's driver headers are written for C. */
#include <ddk/wdm.h>

static VOID NTAPI Unload(PDRIVER_OBJECT driver) { (void)driver; }

/* The kernel calls both through __stdcall on 32-bit x86 (NTAPI). */
NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registryPath) {
  (void)registryPath;
  driver->DriverUnload = Unload;
  return STATUS_SUCCESS;
}
