// The application object and the start-up both window programs share.
#pragma once

#include <QApplication>
#include <memory>

#include "gui/DialogProvider.h"
#include "port/PortDriver.h"

namespace brevomat::gui {

class BrevomatApplication : public QApplication {
  Q_OBJECT

 public:
  BrevomatApplication(int& argc, char** argv);
  // An exception that escapes an event handler is shown in a message box and the program goes on.
  bool notify(QObject* receiver, QEvent* event) override;

  DialogProvider& dialogs() { return dialogs_; }

 private:
  // SIGTERM, SIGHUP and SIGINT (a logout, a closed terminal, Ctrl-C in it) close the main window
  // as its close box does: a running command stops and keeps what it read, the virtual cart is
  // saved. A second one ends the program at once, removing the temporary file of an unfinished
  // backup.
  void WatchEndingSignals();
  void EndingSignalArrived();

  DialogProvider dialogs_;
};

// Creates the main window on `driver` (which runs its set-up; the two dialogs come with it), runs
// the message loop until Exit or the close box, and returns the exit status: 0 in every case, as
// also after an exception at start-up, which is shown first.
int RunMainWindow(BrevomatApplication& app, std::unique_ptr<PortDriver> driver);

}  // namespace brevomat::gui
