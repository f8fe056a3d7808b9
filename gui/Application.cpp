#include "gui/Application.h"

#include <exception>

#include "gui/MainWindow.h"

namespace brevomat::gui {

BrevomatApplication::BrevomatApplication(int& argc, char** argv) : QApplication(argc, argv) {
  setApplicationName(QString::fromLatin1(kApplicationTitle));
}

bool BrevomatApplication::notify(QObject* receiver, QEvent* event) {
  try {
    return QApplication::notify(receiver, event);
  } catch (const std::exception& e) {
    dialogs_.ShowException(nullptr, QString::fromLocal8Bit(e.what()));
  } catch (...) {
    dialogs_.ShowException(nullptr, QStringLiteral("Unknown exception"));
  }
  return false;
}

int RunMainWindow(BrevomatApplication& app, std::unique_ptr<PortDriver> driver) {
  try {
    TForm1 Form1(std::move(driver));
    // The user would not go on without port access.
    if (!Form1.SetupCompleted()) return 0;
    QObject::connect(&Form1, &TForm1::ExitRequested, &app,
                     [](int status) { QCoreApplication::exit(status); });
    Form1.show();
    BrevomatApplication::exec();
  } catch (const std::exception& e) {
    app.dialogs().ShowException(nullptr, QString::fromLocal8Bit(e.what()));
  }
  return 0;
}

}  // namespace brevomat::gui
