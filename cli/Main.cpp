// brevomat-cli: the commands of the main window from the command line, on the printer port or on
// a virtual cart directory.
#include <cstdio>
#include <exception>

#include "cli/CliProgram.h"

int main(int argc, char** argv) {
  // Nothing unexpected may end the program without a word. The virtual cart is saved only by a
  // run that completes, so a failure here leaves its files as they were.
  try {
    return brevomat::cli::RunProgram(argc, argv);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "brevomat-cli: unexpected error: %s\n", e.what());
  } catch (...) {
    std::fprintf(stderr, "brevomat-cli: unexpected error\n");
  }
  std::fputs("status: Error!!!\n", stderr);
  return brevomat::cli::kExitFailed;
}
