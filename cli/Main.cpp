// brevomat-cli: the commands of the main window from the command line, on the printer port or on
// a virtual cart directory.
#include "cli/CliProgram.h"

int main(int argc, char** argv) { return brevomat::cli::RunProgram(argc, argv); }
