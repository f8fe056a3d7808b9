#include "gui/DialogProvider.h"

#include <QApplication>
#include <QEvent>
#include <QFileDialog>
#include <QKeyEvent>
#include <QMessageBox>
#include <memory>

#include "gui/WindowPlacement.h"

namespace brevomat::gui {

namespace {

// Qt lets Esc and the close box answer No; here they do nothing.
class ButtonsOnly final : public QObject {
 public:
  using QObject::QObject;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Close) {
      event->ignore();
      return true;
    }
    if (event->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(event)->matches(QKeySequence::Cancel))
      return true;
    return QObject::eventFilter(watched, event);
  }
};

}  // namespace

std::unique_ptr<QMessageBox> MakeQuestionBox(QWidget* parent, const QString& text, const QString& caption) {
  // The window system titles a window whose title is empty with the program's name; a blank
  // title is shown empty.
  auto box =
      std::make_unique<QMessageBox>(QMessageBox::Question, caption.isEmpty() ? QStringLiteral(" ") : caption,
                                    text, QMessageBox::Yes | QMessageBox::No, parent);
  box->setDefaultButton(QMessageBox::Yes);
  box->installEventFilter(new ButtonsOnly(box.get()));
  // Without a window on the screen to stand over, the question stands in the desktop's centre.
  if (parent == nullptr || !parent->isVisible()) (new OuterGeometry(*box))->CentreOver(DesktopArea());
  return box;
}

bool DialogProvider::AskYesNo(QWidget* parent, const QString& text, const QString& caption) {
  const std::unique_ptr<QMessageBox> box = MakeQuestionBox(parent, text, caption);
  return box->exec() == QMessageBox::Yes;
}

QString QtFilter(const char* filter) {
  QStringList lines;
  for (const FilterEntry& entry : FilterEntries(filter)) {
    QStringList written;
    QStringList patterns;
    // Windows' "*.*" matches every file, one without a dot in its name too; Qt's matches only names
    // with a dot, which would hide such files on Linux. The pattern that means "every file" there is "*".
    for (const std::string& pattern : entry.patterns) {
      written << QString::fromStdString(pattern);
      patterns << (pattern == "*.*" ? QStringLiteral("*") : written.back());
    }
    // Qt reads the patterns from the parentheses that end the line, separated by blanks. A name
    // that ends in its own patterns ("GBA Files (*.gba;*.bin)") keeps them there, in Qt's form.
    QString name = QString::fromStdString(entry.name);
    const QString listed = QLatin1Char('(') + written.join(QLatin1Char(';')) + QLatin1Char(')');
    if (name.endsWith(listed))
      name.chop(listed.size());
    else
      name += QLatin1Char(' ');
    lines << name + QLatin1Char('(') + patterns.join(QLatin1Char(' ')) + QLatin1Char(')');
  }
  return lines.join(QStringLiteral(";;"));
}

std::unique_ptr<QFileDialog> MakeFileDialog(QWidget* parent, const FileDialogEntry& dialog, bool multiSelect,
                                            const QString& currentFile) {
  auto box = std::make_unique<QFileDialog>(parent, QString(), currentFile, QtFilter(dialog.filter));
  box->setObjectName(QString::fromLatin1(dialog.name));
  box->setAcceptMode(dialog.save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
  box->setFileMode(dialog.save   ? QFileDialog::AnyFile
                   : multiSelect ? QFileDialog::ExistingFiles
                                 : QFileDialog::ExistingFile);
  // The name chosen is taken as it is: a backup replaces the file only once it is complete.
  box->setOption(QFileDialog::DontConfirmOverwrite, dialog.save);
  return box;
}

QStringList DialogProvider::RunFileDialog(QWidget* parent, const FileDialogEntry& dialog, bool multiSelect,
                                          const QString& currentFile) {
  const std::unique_ptr<QFileDialog> box = MakeFileDialog(parent, dialog, multiSelect, currentFile);
  if (box->exec() != QDialog::Accepted) return {};
  return box->selectedFiles();
}

void DialogProvider::ShowModal(QDialog& dialog) { dialog.exec(); }

void DialogProvider::ShowException(QWidget* parent, const QString& message) {
  QMessageBox::critical(parent, QApplication::applicationName(), message);
}

}  // namespace brevomat::gui
