#include "gui/DialogProvider.h"

#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>

#include "gui/WindowPlacement.h"

namespace brevomat::gui {

bool DialogProvider::AskYesNo(QWidget* parent, const QString& text, const QString& caption) {
  QMessageBox box(QMessageBox::Question, caption, text, QMessageBox::Yes | QMessageBox::No, parent);
  box.setDefaultButton(QMessageBox::Yes);
  // Without a window on the screen to stand over, the question stands in the desktop's centre.
  if (parent == nullptr || !parent->isVisible()) (new OuterGeometry(box))->CentreOver(DesktopArea());
  return box.exec() == QMessageBox::Yes;
}

QStringList DialogProvider::RunFileDialog(QWidget* parent, const FileDialogSpec& dialog, bool multiSelect,
                                          const QString& currentFile) {
  const QString filter = QString::fromLatin1(dialog.filter);
  if (dialog.save) {
    const QString name = QFileDialog::getSaveFileName(parent, QString(), currentFile, filter);
    return name.isEmpty() ? QStringList() : QStringList{name};
  }
  if (multiSelect) return QFileDialog::getOpenFileNames(parent, QString(), currentFile, filter);
  const QString name = QFileDialog::getOpenFileName(parent, QString(), currentFile, filter);
  return name.isEmpty() ? QStringList() : QStringList{name};
}

void DialogProvider::ShowModal(QDialog& dialog) { dialog.exec(); }

void DialogProvider::ShowException(QWidget* parent, const QString& message) {
  QMessageBox::critical(parent, QApplication::applicationName(), message);
}

}  // namespace brevomat::gui
