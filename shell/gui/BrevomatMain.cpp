// brevomat: the main window on this PC's printer port.
#include <memory>

#include "shell/gui/Application.h"

int main(int argc, char** argv) {
  brevomat::gui::BrevomatApplication app(argc, argv);
  return brevomat::gui::RunMainWindow(app, std::make_unique<brevomat::gui::DirectPortDriver>());
}
