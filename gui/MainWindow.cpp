#include "gui/MainWindow.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFont>
#include <QScrollBar>

#include "gui/SelectionDialogs.h"

namespace brevomat::gui {

namespace {

QString FromBytes(std::string_view text) {
  return QString::fromLocal8Bit(text.data(), static_cast<qsizetype>(text.size()));
}

// File names stay bytes in the system's encoding all the way to fopen().
std::string NameBytes(const QString& name) { return QFile::encodeName(name).toStdString(); }
QString NameText(const std::string& name) { return QFile::decodeName(QByteArray::fromStdString(name)); }

}  // namespace

LogMemo::LogMemo(QWidget* parent) : QPlainTextEdit(parent) {
  setObjectName(QStringLiteral("Memo1"));
  setReadOnly(true);
  setLineWrapMode(QPlainTextEdit::NoWrap);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
}

void LogMemo::AppendLine(const QString& line) {
  // An empty document already shows one (empty) block: the first line fills it.
  if (lineCount_ == 0)
    setPlainText(line);
  else
    appendPlainText(line);
  ++lineCount_;
  verticalScrollBar()->setValue(verticalScrollBar()->maximum());
}

void LogMemo::ClearLines() {
  clear();
  lineCount_ = 0;
}

QStringList LogMemo::Lines() const {
  if (lineCount_ == 0) return {};
  return toPlainText().split(QLatin1Char('\n'));
}

TForm1::TForm1(std::unique_ptr<PortDriver> driver, DialogProvider* dialogs)
    : ownDialogs_(dialogs == nullptr ? std::make_unique<DialogProvider>() : nullptr),
      dialogs_(dialogs == nullptr ? ownDialogs_.get() : dialogs),
      presenter_(*this, std::move(driver)) {
  BuildLayout();
  presenter_.Setup();
  Form2 = new TForm2(this);
  Form3 = new TForm3(this);
}

TForm1::~TForm1() = default;

void TForm1::BuildLayout() {
  setObjectName(QString::fromLatin1(kForm1.name));
  setWindowTitle(QString::fromLatin1(kForm1.caption));
  setFont(DesignFont());
  resize(kForm1.width, kForm1.height);
  placement_ = new OuterGeometry(*this);

  for (const ControlEntry& c : kForm1.controls) {
    const QString name = QString::fromLatin1(c.name);
    const QString caption = QString::fromLatin1(c.caption);
    const DesignRect& d = c.design;
    switch (c.kind) {
      case ControlKind::Button: {
        auto* button = new QPushButton(caption, this);
        button->setObjectName(name);
        button->setToolTip(QString::fromLatin1(c.hint));
        button->setGeometry(d.left, d.top, d.width, d.height);
        // Enter clicks the button that has the focus, as Space does.
        button->setAutoDefault(true);
        connect(button, &QPushButton::clicked, this, [this, &c] { presenter_.Clicked(c.name); });
        break;
      }
      case ControlKind::RadioGroup: {
        QStringList items;
        for (const char* item : c.items) items << QString::fromLatin1(item);
        auto* group = new RadioGroup(name, caption, items, this);
        group->Place(d.left, d.top, d.width, d.height);
        group->SetItemIndex(c.initialItem);
        connect(group, &RadioGroup::Clicked, this, [this, &c] { presenter_.Clicked(c.name); });
        break;
      }
      case ControlKind::Memo:
        Memo1 = new LogMemo(this);
        Memo1->setGeometry(d.left, d.top, d.width, d.height);
        break;
      case ControlKind::Label: {
        // A label is as large as its text, whatever text it is given.
        auto* label = new QLabel(caption, this);
        label->setObjectName(name);
        label->move(d.left, d.top);
        label->adjustSize();
        (name == QLatin1String("Time") ? Time : Status) = label;
        break;
      }
      case ControlKind::ProgressBar:
        ProgressBar1 = new QProgressBar(this);
        ProgressBar1->setObjectName(name);
        ProgressBar1->setRange(0, 100);
        ProgressBar1->setValue(0);
        // A plain bar: the Time label carries the seconds, and a percentage would cover the bar.
        ProgressBar1->setTextVisible(false);
        ProgressBar1->setGeometry(d.left, d.top, d.width, d.height);
        break;
    }
  }

  Timer1 = new QTimer(this);
  Timer1->setObjectName(QStringLiteral("Timer1"));
  Timer1->setInterval(1000);
  connect(Timer1, &QTimer::timeout, this, [this] { presenter_.Timer1Timer(); });
  Timer1->start();
}

QWidget* TForm1::Control(const ControlEntry& control) const {
  return findChild<QWidget*>(QString::fromLatin1(control.name), Qt::FindDirectChildrenOnly);
}

// --- FormView -----------------------------------------------------------------------------------

void TForm1::AppendLog(std::string_view line) { Memo1->AppendLine(FromBytes(line)); }

void TForm1::SetStatusText(std::string_view text) {
  Status->setText(FromBytes(text));
  Status->adjustSize();
}

void TForm1::SetTimeText(std::string_view text) {
  Time->setText(FromBytes(text));
  Time->adjustSize();
}

void TForm1::SetControlEnabled(const ControlEntry& control, bool enabled) {
  Control(control)->setEnabled(enabled);
}

void TForm1::HideControl(const ControlEntry& control) { Control(control)->hide(); }

int TForm1::ItemIndex(const ControlEntry& group) const {
  return static_cast<RadioGroup*>(Control(group))->ItemIndex();
}

void TForm1::SetItemIndex(const ControlEntry& group, int index) {
  static_cast<RadioGroup*>(Control(group))->SetItemIndex(index);
}

void TForm1::PlaceWindow(int width, int height) {
  // The stored size is the outer one, frame included, and the window opens in the desktop's
  // centre. A file from a version that stored the inside gives a window smaller only by the frame.
  placement_->Place(QSize(width, height), DesktopArea());
}

// The outer size, frame included, as it is when the window is neither minimised nor maximised.
int TForm1::OuterWidth() const { return placement_->NormalOuterSize().width(); }
int TForm1::OuterHeight() const { return placement_->NormalOuterSize().height(); }

void TForm1::ProcessMessages() { QCoreApplication::processEvents(QEventLoop::AllEvents); }

bool TForm1::AskYesNo(std::string_view text, std::string_view caption, bool overWindow) {
  return dialogs_->AskYesNo(overWindow ? this : nullptr, FromBytes(text), FromBytes(caption));
}

std::vector<std::string> TForm1::RunFileDialog(const FileDialogEntry& dialog, bool multiSelect,
                                               const std::string& currentFile) {
  std::vector<std::string> names;
  for (const QString& name : dialogs_->RunFileDialog(this, dialog, multiSelect, NameText(currentFile)))
    names.push_back(NameBytes(name));
  return names;
}

DialogAnswer TForm1::RunForm2(int preselectItem) {
  return Form2->Execute(preselectItem, [this](QDialog& d) { dialogs_->ShowModal(d); });
}

DialogAnswer TForm1::RunForm3() {
  return Form3->Execute([this](QDialog& d) { dialogs_->ShowModal(d); });
}

void TForm1::CloseLater() {
  // From the event loop, after the handler and everything it opened have unwound.
  QTimer::singleShot(0, this, &QWidget::close);
}

std::string TForm1::ProgramFolder() const {
  return QDir::toNativeSeparators(QCoreApplication::applicationDirPath()).toStdString();
}

std::string TForm1::WorkingDirectory() const { return NameBytes(QDir::currentPath()); }

void TForm1::closeEvent(QCloseEvent* event) {
  // A command on the stack below us is asked to stop; the window closes once it has unwound.
  if (presenter_.MayCloseNow())
    event->accept();
  else
    event->ignore();
}

}  // namespace brevomat::gui
