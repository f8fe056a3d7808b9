// brevomat: the main window on this PC's printer port.
#include <memory>

#include "gui/Application.h"

int main(int argc, char** argv) {
  brevomat::gui::BrevomatApplication app(argc, argv);
  auto driver = std::make_unique<brevomat::DirectPortDriver>();
  if (argc > 0) driver->ProgramName = argv[0];
  return brevomat::gui::RunMainWindow(app, std::move(driver));
}
