#include "gui/Application.h"

#include <QSocketNotifier>
#include <QWidget>
#include <csignal>
#include <exception>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#include "base/AtomicOutputFile.h"
#include "base/FileAccess.h"
#include "commands/Captions.h"
#include "gui/MainWindow.h"

namespace brevomat::gui {

#ifndef _WIN32
namespace {

// A signal handler may do next to nothing: it writes one byte into a socket that the event loop
// watches, and the window is closed from there.
int g_signalSocket[2] = {-1, -1};
volatile std::sig_atomic_t g_endingAsked = 0;

extern "C" void OnEndingSignal(int sig) {
  if (g_endingAsked != 0) {
    RemoveTemporaryOutputsNow();
    std::signal(sig, SIG_DFL);
    std::raise(sig);
    return;
  }
  g_endingAsked = 1;
  const char byte = 1;
  [[maybe_unused]] const ssize_t written = ::write(g_signalSocket[1], &byte, 1);
}

}  // namespace
#endif

BrevomatApplication::BrevomatApplication(int& argc, char** argv) : QApplication(argc, argv) {
  setApplicationName(QString::fromLatin1(kProgramTitle));
  WatchEndingSignals();
}

void BrevomatApplication::WatchEndingSignals() {
#ifndef _WIN32
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, g_signalSocket) != 0) return;
  auto* notifier = new QSocketNotifier(g_signalSocket[0], QSocketNotifier::Read, this);
  connect(notifier, &QSocketNotifier::activated, this, &BrevomatApplication::EndingSignalArrived);
  struct sigaction action = {};
  action.sa_handler = OnEndingSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (const int sig : {SIGTERM, SIGHUP, SIGINT}) sigaction(sig, &action, nullptr);
#endif
}

void BrevomatApplication::EndingSignalArrived() {
#ifndef _WIN32
  char byte = 0;
  while (::read(g_signalSocket[0], &byte, 1) > 0) {
  }
#endif
  for (QWidget* widget : topLevelWidgets())
    if (auto* form = qobject_cast<TForm1*>(widget); form != nullptr && form->isVisible()) form->close();
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
