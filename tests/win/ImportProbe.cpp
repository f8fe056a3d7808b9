// A program that imports one function Windows XP lacks, Vista's ShutdownBlockReasonCreate, for
// the tests that show the import check refuses such a program for the 32-bit packages. It is
// never run.
#include <windows.h>

extern "C" __declspec(dllimport) BOOL WINAPI ShutdownBlockReasonCreate(HWND window, LPCWSTR reason);

int main() { return ShutdownBlockReasonCreate(nullptr, L"") ? 0 : 1; }
