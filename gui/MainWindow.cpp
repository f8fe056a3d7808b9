#include "gui/MainWindow.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFont>
#include <QScrollBar>
#include <cstdio>

#include "commands/Commands.h"
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
    : driver_(std::move(driver)),
      ownDialogs_(dialogs == nullptr ? std::make_unique<DialogProvider>() : nullptr),
      dialogs_(dialogs == nullptr ? ownDialogs_.get() : dialogs),
      core_(*this),
      settings_(core_.settings) {
  BuildLayout();
  Setup();
  Form2 = new TForm2(this);
  Form3 = new TForm3(this);
}

TForm1::~TForm1() {
  // The port operations must not outlive the driver that backs them.
  core_.port.Detach();
}

void TForm1::BuildLayout() {
  setObjectName(QStringLiteral("Form1"));
  setWindowTitle(QString::fromLatin1(kApplicationTitle));
  setFont(DesignFont());
  resize(kDesignWindowWidth, kDesignWindowHeight);
  placement_ = new OuterGeometry(*this);

  auto button = [this](const char* name, const char* caption, const char* hint, int left, int top, int width,
                       int height) {
    auto* b = new QPushButton(QString::fromLatin1(caption), this);
    b->setObjectName(QString::fromLatin1(name));
    if (hint != nullptr) b->setToolTip(QString::fromLatin1(hint));
    b->setGeometry(left, top, width, height);
    return b;
  };

  Port_sel = new RadioGroup(
      QStringLiteral("Port_sel"), QStringLiteral("Printer Port No."),
      {QStringLiteral("LPT1(0x378)"), QStringLiteral("LPT2(0x278)"), QStringLiteral("LPT3(0x3bc)")}, this);
  Port_sel->Place(10, 7, 91, 106);
  Port_sel->SetItemIndex(0);
  RadioSpeed = new RadioGroup(
      QStringLiteral("RadioSpeed"), QStringLiteral("Speed"),
      {QStringLiteral("4"), QStringLiteral("3"), QStringLiteral("2"), QStringLiteral("1")}, this);
  RadioSpeed->Place(107, 7, 47, 106);
  RadioSpeed->SetItemIndex(0);
  Write = button("Write", "Write Flash", "Write To Cart", 163, 8, 74, 26);
  WriteMulti = button("WriteMulti", "Write Multi", "Write Multi-files to Cart", 244, 8, 75, 26);
  SetPreBoot = button("SetPreBoot", "Set Pre Boot", "Set Multi-Boot File", 325, 8, 75, 26);
  SWrite = button("SWrite", "Write Saver", "Write Saver Data to Cart", 163, 41, 75, 26);
  SRead = button("SRead", "Backup Saver", "Read Saver Data to File", 244, 41, 75, 26);
  Read = button("Read", "Backup Game", "Read Cart to File", 325, 41, 75, 26);
  RadioIps = new RadioGroup(QStringLiteral("RadioIps"), QStringLiteral("IPS Apply"),
                            {QStringLiteral("OFF"), QStringLiteral("ON")}, this);
  RadioIps->Place(168, 72, 65, 53);
  RadioIps->SetItemIndex(0);
  Stop = button("Stop", "Stop", nullptr, 244, 89, 75, 26);
  Exit = button("Exit", "Exit", nullptr, 325, 89, 75, 26);
  MemoClear = button("MemoClear", "Clear", nullptr, 20, 115, 60, 13);
  Memo1 = new LogMemo(this);
  Memo1->setGeometry(16, 128, 377, 185);
  EraseFlash = button("EraseFlash", "EraseFlash", nullptr, 16, 321, 59, 26);
  WT = button("WT", "&WT", "Write Test", 172, 321, 39, 26);
  VT = button("VT", "&VT", "Verify Test", 213, 321, 39, 26);
  Verify = button("Verify", "Verify Game", "Verify Cart with File", 260, 321, 69, 26);
  SVerify = button("SVerify", "Verify Saver", "Verify Saver Data with File", 333, 321, 68, 26);
  Status = new QLabel(QStringLiteral("Status"), this);
  Status->setObjectName(QStringLiteral("Status"));
  Status->move(16, 352);
  Status->adjustSize();
  Time = new QLabel(QStringLiteral("Time"), this);
  Time->setObjectName(QStringLiteral("Time"));
  Time->move(360, 352);
  Time->adjustSize();
  ProgressBar1 = new QProgressBar(this);
  ProgressBar1->setObjectName(QStringLiteral("ProgressBar1"));
  ProgressBar1->setRange(0, 100);
  ProgressBar1->setValue(0);
  // A plain bar: the Time label carries the seconds, and a percentage would cover the bar.
  ProgressBar1->setTextVisible(false);
  ProgressBar1->setGeometry(16, 368, 337, 18);

  Timer1 = new QTimer(this);
  Timer1->setObjectName(QStringLiteral("Timer1"));
  Timer1->setInterval(1000);
  connect(Timer1, &QTimer::timeout, this, [this] { core_.frame.Timer1Timer(); });
  Timer1->start();

  lockedSet_ = {EraseFlash, RadioIps, MemoClear, Port_sel, RadioSpeed, WriteMulti, SetPreBoot, Write, Verify,
                Read,       SWrite,   SVerify,   SRead,    Exit,       Memo1,      VT,         WT};

  connect(Write, &QPushButton::clicked, this, &TForm1::WriteClick);
  connect(WriteMulti, &QPushButton::clicked, this, &TForm1::WriteMultiClick);
  connect(SetPreBoot, &QPushButton::clicked, this, &TForm1::SetPreBootClick);
  connect(SWrite, &QPushButton::clicked, this, &TForm1::SWriteClick);
  connect(SRead, &QPushButton::clicked, this, &TForm1::SReadClick);
  connect(Read, &QPushButton::clicked, this, &TForm1::ReadClick);
  connect(EraseFlash, &QPushButton::clicked, this, &TForm1::EraseFlashClick);
  connect(Stop, &QPushButton::clicked, this, &TForm1::StopClick);
  connect(Exit, &QPushButton::clicked, this, &TForm1::ExitClick);
  connect(MemoClear, &QPushButton::clicked, this, &TForm1::MemoClearClick);
  connect(Port_sel, &RadioGroup::Clicked, this, &TForm1::Port_selClick);
  connect(Verify, &QPushButton::clicked, this, &TForm1::VerifyClick);
  connect(SVerify, &QPushButton::clicked, this, &TForm1::SVerifyClick);
  connect(WT, &QPushButton::clicked, this, &TForm1::WTClick);
  connect(VT, &QPushButton::clicked, this, &TForm1::VTClick);
}

void TForm1::Setup() {
  // The driver lives beside the program.
  driver_->SetDriverPath(QDir::toNativeSeparators(QCoreApplication::applicationDirPath()).toStdString());
  driver_->OpenDriver();
  // The reason and the fix go to standard error, where a user who started the program from a
  // terminal sees them.
  if (!driver_->ActiveHW()) std::fprintf(stderr, "brevomat: %s\n", driver_->Advice().c_str());
  // The window is not on the screen yet: the question stands on its own, over the desktop's centre.
  if (!driver_->ActiveHW() &&
      !dialogs_->AskYesNo(nullptr, QStringLiteral("Could not open the DriverLINX driver."), QString()))
    return;
  // Without access the driver's back end answers as a closed port, so the commands find no
  // adapter instead of touching the hardware.
  core_.port.Attach(&driver_->Backend());

  core_.frame.LogLine("Use DLPortIO");
  // Which back end carries the port: direct access, a parallel-port device, or (unsaid) none.
  if (const std::string inUse = driver_->BackEndInUse(); !inUse.empty())
    core_.frame.LogLine("Port access: " + inUse);
  WT->hide();
  VT->hide();
  Verify->hide();
  SVerify->hide();
  core_.FirstCommand = true;
  settings_.SetDefaults();
  SetStatusText("");
  SetTimeText("");
  core_.frame.ElapsedSeconds = 0;

  settings_.StartUp(NameBytes(QDir::currentPath()), CaptureSettings(), core_.frame);
  if (!settings_.Complaint.empty()) std::fprintf(stderr, "brevomat: %s\n", settings_.Complaint.c_str());
  ApplySettings(settings_.Apply());

  core_.SelectPortAddresses();
  core_.frame.EndOperation();
  setupCompleted_ = true;
  ProcessMessages();
}

void TForm1::ApplySettings(const WindowSettings& shown) {
  Port_sel->SetItemIndex(shown.PortIndex);
  // The stored size is the outer one, frame included, and the window opens in the desktop's
  // centre. A file from a version that stored the inside gives a window smaller only by the frame.
  placement_->Place(QSize(shown.WindowWidth, shown.WindowHeight), DesktopArea());
  RadioSpeed->SetItemIndex(shown.SpeedIndex);
  openDialog1Name_ = NameText(shown.OpenFileName);
  openDialog3Name_ = NameText(shown.OpenFileName);
  saveDialog1Name_ = NameText(shown.SaveFileName);
  openDialog2Name_ = NameText(shown.BootFileName);
  RadioIps->SetItemIndex(shown.IpsIndex);
}

WindowSettings TForm1::CaptureSettings() const {
  WindowSettings state;
  state.PortIndex = Port_sel->ItemIndex();
  state.OpenFileName = NameBytes(openDialog1Name_);
  state.SaveFileName = NameBytes(saveDialog1Name_);
  state.BootFileName = NameBytes(openDialog2Name_);
  // The outer size, frame included (before the window manager has framed the window, the size
  // asked for).
  state.WindowHeight = frameGeometry().height();
  state.WindowWidth = frameGeometry().width();
  state.SpeedIndex = RadioSpeed->ItemIndex();
  state.IpsIndex = RadioIps->ItemIndex();
  return state;
}

// --- Window -------------------------------------------------------------------------------------

void TForm1::AppendLog(std::string_view line) { Memo1->AppendLine(FromBytes(line)); }

void TForm1::SetStatusText(std::string_view text) {
  Status->setText(FromBytes(text));
  Status->adjustSize();
}

void TForm1::SetTimeText(std::string_view text) {
  Time->setText(FromBytes(text));
  Time->adjustSize();
}

void TForm1::SetProgressPosition(int percent) { ProgressBar1->setValue(percent); }

void TForm1::SetRunning(bool running) {
  for (QWidget* control : lockedSet_) control->setEnabled(!running);
  Stop->setEnabled(running);
}

void TForm1::StartTimer1() { Timer1->start(); }
void TForm1::StopTimer1() { Timer1->stop(); }

void TForm1::ProcessMessages() {
  QCoreApplication::processEvents(QEventLoop::AllEvents);
  commands_.KeepStopping();
}

bool TForm1::AskYesNo(std::string_view text, std::string_view caption) {
  return dialogs_->AskYesNo(this, FromBytes(text), FromBytes(caption));
}

bool TForm1::ExecuteOpenDialog1(bool multiSelect, std::vector<std::string>& files) {
  const QStringList chosen = dialogs_->RunFileDialog(this, kOpenDialog1, multiSelect, openDialog1Name_);
  if (chosen.isEmpty()) return false;
  files.clear();
  for (const QString& name : chosen) files.push_back(NameBytes(name));
  openDialog1Name_ = chosen.front();
  return true;
}

bool TForm1::ExecuteOpenDialog2(std::string& file) {
  const QStringList chosen = dialogs_->RunFileDialog(this, kOpenDialog2, false, openDialog2Name_);
  if (chosen.isEmpty()) return false;
  openDialog2Name_ = chosen.front();
  file = NameBytes(openDialog2Name_);
  return true;
}

bool TForm1::ExecuteOpenDialog3(std::string& file) {
  const QStringList chosen = dialogs_->RunFileDialog(this, kOpenDialog3, false, openDialog3Name_);
  if (chosen.isEmpty()) return false;
  openDialog3Name_ = chosen.front();
  file = NameBytes(openDialog3Name_);
  return true;
}

bool TForm1::ExecuteSaveDialog1(std::string& file) {
  const QStringList chosen = dialogs_->RunFileDialog(this, kSaveDialog1, false, saveDialog1Name_);
  if (chosen.isEmpty()) return false;
  saveDialog1Name_ = chosen.front();
  file = NameBytes(saveDialog1Name_);
  return true;
}

std::string TForm1::SaveDialog1FileName() { return NameBytes(saveDialog1Name_); }

void TForm1::ShowForm2(int preselectItem, std::int32_t& CartSizeChunks) {
  Form2->Execute(preselectItem, CartSizeChunks, [this](QDialog& d) { dialogs_->ShowModal(d); });
}

void TForm1::ShowForm3(std::uint8_t& SelectedSaveBank, std::uint8_t& SelectedSaveSize) {
  Form3->Execute(SelectedSaveBank, SelectedSaveSize, [this](QDialog& d) { dialogs_->ShowModal(d); });
}

int TForm1::PortSelIndex() { return Port_sel->ItemIndex(); }
int TForm1::RadioSpeedIndex() { return RadioSpeed->ItemIndex(); }
int TForm1::RadioIpsIndex() { return RadioIps->ItemIndex(); }

// --- handlers -----------------------------------------------------------------------------------

template <typename Handler>
void TForm1::RunCommand(Handler&& handler) {
  // Close from the event loop, after the handler and everything it opened have unwound.
  commands_.Run(std::forward<Handler>(handler), [this] { QTimer::singleShot(0, this, &QWidget::close); });
}

void TForm1::WriteClick() {
  RunCommand([this] { brevomat::WriteClick(core_); });
}

void TForm1::EraseFlashClick() {
  RunCommand([this] { brevomat::EraseFlashClick(core_); });
}

void TForm1::WriteMultiClick() {
  RunCommand([this] { brevomat::WriteMultiClick(core_); });
}

void TForm1::SetPreBootClick() {
  RunCommand([this] { brevomat::SetPreBootClick(core_); });
}

void TForm1::ReadClick() {
  RunCommand([this] { brevomat::ReadClick(core_); });
}

void TForm1::SWriteClick() {
  RunCommand([this] { brevomat::SWriteClick(core_); });
}

void TForm1::SReadClick() {
  RunCommand([this] { brevomat::SReadClick(core_); });
}

void TForm1::SVerifyClick() { brevomat::SVerifyClick(core_); }

void TForm1::StopClick() { core_.frame.StopClick(); }

void TForm1::ExitClick() {
  settings_.SaveSettings(CaptureSettings());
  core_.link.ReleaseLink();
  emit ExitRequested(0);
}

void TForm1::MemoClearClick() { Memo1->ClearLines(); }

void TForm1::Port_selClick() { core_.SelectPortAddresses(); }

void TForm1::closeEvent(QCloseEvent* event) {
  // A command on the stack below us is asked to stop; the window closes once it has unwound.
  if (commands_.MayCloseNow())
    event->accept();
  else
    event->ignore();
}

}  // namespace brevomat::gui
