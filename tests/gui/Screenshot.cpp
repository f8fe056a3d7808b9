// Saves a picture of brevomat-virtual's window for the documentation: the window on a fresh
// virtual cart in a temporary directory, after one EraseFlash that was answered No.
#include <QApplication>
#include <QDir>
#include <QPixmap>
#include <QTemporaryDir>
#include <cstdio>

#include "gui/MainWindow.h"
#include "sim/CartDirectory.h"

namespace {
class NoDialogs final : public brevomat::gui::DialogProvider {
 public:
  bool AskYesNo(QWidget*, const QString&, const QString&) override { return false; }
};
}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: gui_screenshot OUTPUT.png\n");
    return 2;
  }
  const QString output = QDir::current().absoluteFilePath(QString::fromLocal8Bit(argv[1]));
  QApplication app(argc, argv);
  QTemporaryDir dir;
  QDir::setCurrent(dir.path());
  std::string error;
  auto cart =
      brevomat::sim::VirtualCart::Open(dir.filePath(QStringLiteral("virtual-cart")).toStdString(), error);
  if (!cart) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }
  NoDialogs dialogs;
  brevomat::gui::TForm1 form(std::make_unique<brevomat::FixedPortDriver>(cart->Port()), &dialogs);
  form.show();
  form.EraseFlashClick();
  for (int i = 0; i < 20; ++i) app.processEvents();
  const bool saved = form.grab().save(output, "PNG");
  form.close();
  cart->Close(error);
  return saved ? 0 : 1;
}
