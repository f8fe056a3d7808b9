// close_window TITLE: asks the top-level window titled TITLE to close as its close box does, by
// posting it WM_CLOSE, the way Windows asks a program to end. The Windows test script ends the
// programs it starts with it and then waits, for a limited time, for them to end by themselves.
// Ends 0 when the message was posted, 1 when there is no such window, 2 on a usage error.
#include <windows.h>

#include <cstdio>

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: close_window TITLE\n");
    return 2;
  }
  const HWND window = FindWindowA(nullptr, argv[1]);
  if (window == nullptr) {
    std::fprintf(stderr, "close_window: no window \"%s\"\n", argv[1]);
    return 1;
  }
  if (!PostMessageA(window, WM_CLOSE, 0, 0)) {
    std::fprintf(stderr, "close_window: WM_CLOSE could not be posted (error %lu)\n",
                 static_cast<unsigned long>(GetLastError()));
    return 1;
  }
  return 0;
}
