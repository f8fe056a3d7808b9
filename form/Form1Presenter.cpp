#include "form/Form1Presenter.h"

#include <cstdio>
#include <cstdlib>
#include <utility>

#include "base/AtomicOutputFile.h"
#include "commands/Captions.h"
#include "commands/Commands.h"
#include "commands/Doctor.h"

namespace brevomat {

Form1Presenter::Form1Presenter(FormView& view, std::unique_ptr<PortDriver> driver)
    : ReportToStandardError([](std::string_view line) {
        std::fprintf(stderr, "brevomat: %.*s\n", static_cast<int>(line.size()), line.data());
      }),
      view_(view),
      driver_(std::move(driver)),
      core_(*this),
      settings_(core_.settings) {}

Form1Presenter::~Form1Presenter() {
  // The port operations must not outlive the driver that backs them.
  core_.port.Detach();
}

void Form1Presenter::Setup() {
  // The driver lives beside the program.
  driver_->SetDriverPath(view_.ProgramFolder());
  driver_->OpenDriver();
  // The reason and the fix go to standard error too, where a user who started the program from a
  // terminal sees them.
  if (!driver_->ActiveHW()) ReportToStandardError(driver_->Advice());
  // The window is not on the screen yet: the question stands on its own, over the desktop.
  if (!driver_->ActiveHW() && !view_.AskYesNo("Could not open the DriverLINX driver.", "", false)) return;
  // Without access the driver's back end answers as a closed port, so the commands find no
  // adapter instead of touching the hardware.
  core_.port.Attach(&driver_->Backend());

  core_.frame.LogLine("Use DLPortIO");
  // Which back end carries the port: direct access, a parallel-port device, DLPortIO, the 64-bit
  // port library, or (unsaid) none.
  if (const std::string inUse = driver_->BackEndInUse(); !inUse.empty())
    core_.frame.LogLine("Port access: " + inUse);
  for (const ControlEntry& control : kForm1.controls)
    if (control.group == ControlGroup::Hidden) view_.HideControl(control);
  core_.FirstCommand = true;
  settings_.SetDefaults();
  view_.SetStatusText("");
  view_.SetTimeText("");
  core_.frame.ElapsedSeconds = 0;

  settings_.StartUp(view_.WorkingDirectory(), CaptureSettings(), core_.frame);
  if (!settings_.Complaint.empty()) ReportToStandardError(settings_.Complaint);
  ApplySettings(settings_.Apply());

  core_.SelectPortAddresses();
  if (const char* trace = std::getenv("BREVOMAT_TRACE"); trace != nullptr && *trace != '\0')
    StartTrace(trace);
  core_.frame.EndOperation();
  setupCompleted_ = true;
  ProcessMessages();
}

void Form1Presenter::StartTrace(const std::string& path) {
  // Never a file the program works on (the virtual cart's), nor anything but a regular file.
  std::string why = OutputRefusal(path);
  auto recorder = std::make_unique<PortRecorder>();
  if (!why.empty() || !recorder->Open(path, why)) {
    ReportToStandardError("cannot record the port accesses in " + path + ": " + why);
    return;
  }
  RecordHeader header;
  header.program = std::string(kProgramTitle) + " (window " BREVOMAT_VERSION ")";
  const std::string inUse = driver_->BackEndInUse();
  header.backEnd = !inUse.empty()        ? inUse
                   : driver_->ActiveHW() ? "the program's own back end (a virtual cart)"
                                         : "none (the port could not be opened)";
  header.base = static_cast<std::uint16_t>(core_.link.DataPort);
  header.linkMode = "chosen by detection at the start of each command (see the end marks)";
  header.speed = SpeedCaption(RadioSpeedIndex());
  core_.port.Attach(&recorder->Start(core_.port.Backend(), header));
  recorder_ = std::move(recorder);
  ReportToStandardError("recording every port access in " + path);
}

void Form1Presenter::TraceEnd(const char* name) {
  if (!recorder_) return;
  const Link& link = core_.link;
  recorder_->Mark(record::Mark::Note, std::string("link mode ") +
                                          (link.Mode == LinkMode::SPP ? "SPP" : "EPP") + ", speed " +
                                          SpeedCaption(link.SpeedSetting));
  recorder_->Mark(record::Mark::End, std::string(name) + ": " + core_.frame.StatusText);
}

void Form1Presenter::ApplySettings(const WindowSettings& shown) {
  view_.SetItemIndex(ControlOf(kForm1, "Port_sel"), shown.PortIndex);
  view_.PlaceWindow(shown.WindowWidth, shown.WindowHeight);
  view_.SetItemIndex(ControlOf(kForm1, "RadioSpeed"), shown.SpeedIndex);
  openDialog1Name_ = shown.OpenFileName;
  openDialog3Name_ = shown.OpenFileName;
  saveDialog1Name_ = shown.SaveFileName;
  openDialog2Name_ = shown.BootFileName;
  view_.SetItemIndex(ControlOf(kForm1, "RadioIps"), shown.IpsIndex);
}

WindowSettings Form1Presenter::CaptureSettings() const {
  WindowSettings state;
  state.PortIndex = view_.ItemIndex(ControlOf(kForm1, "Port_sel"));
  state.OpenFileName = openDialog1Name_;
  state.SaveFileName = saveDialog1Name_;
  state.BootFileName = openDialog2Name_;
  state.WindowHeight = view_.OuterHeight();
  state.WindowWidth = view_.OuterWidth();
  state.SpeedIndex = view_.ItemIndex(ControlOf(kForm1, "RadioSpeed"));
  state.IpsIndex = view_.ItemIndex(ControlOf(kForm1, "RadioIps"));
  return state;
}

void Form1Presenter::Clicked(std::string_view control) {
  struct Handler {
    const char* control;
    void (Form1Presenter::*click)();
  };
  static constexpr Handler kHandlers[] = {
      {"Write", &Form1Presenter::WriteClick},
      {"WriteMulti", &Form1Presenter::WriteMultiClick},
      {"SetPreBoot", &Form1Presenter::SetPreBootClick},
      {"SWrite", &Form1Presenter::SWriteClick},
      {"SRead", &Form1Presenter::SReadClick},
      {"Read", &Form1Presenter::ReadClick},
      {"EraseFlash", &Form1Presenter::EraseFlashClick},
      {"Stop", &Form1Presenter::StopClick},
      {"Exit", &Form1Presenter::ExitClick},
      {"MemoClear", &Form1Presenter::MemoClearClick},
      {"Port_sel", &Form1Presenter::Port_selClick},
      {"Verify", &Form1Presenter::VerifyClick},
      {"SVerify", &Form1Presenter::SVerifyClick},
      {"WT", &Form1Presenter::WTClick},
      {"VT", &Form1Presenter::VTClick},
  };
  // RadioSpeed and RadioIps have no handler: the commands read them when they run.
  for (const Handler& handler : kHandlers)
    if (control == handler.control) return (this->*handler.click)();
}

void Form1Presenter::WriteClick() {
  RunCommand("Write", [this] { brevomat::WriteClick(core_); });
}
void Form1Presenter::WriteMultiClick() {
  RunCommand("WriteMulti", [this] { brevomat::WriteMultiClick(core_); });
}
void Form1Presenter::SetPreBootClick() {
  RunCommand("SetPreBoot", [this] { brevomat::SetPreBootClick(core_); });
}
void Form1Presenter::SWriteClick() {
  RunCommand("SWrite", [this] { brevomat::SWriteClick(core_); });
}
void Form1Presenter::SReadClick() {
  RunCommand("SRead", [this] { brevomat::SReadClick(core_); });
}
void Form1Presenter::ReadClick() {
  RunCommand("Read", [this] { brevomat::ReadClick(core_); });
}
void Form1Presenter::EraseFlashClick() {
  RunCommand("EraseFlash", [this] { brevomat::EraseFlashClick(core_); });
}
void Form1Presenter::SVerifyClick() { brevomat::SVerifyClick(core_); }

void Form1Presenter::ExitClick() {
  if (!commands_.MayEndNow(CommandGuard::Ending::Exit)) return;
  settings_.SaveSettings(CaptureSettings());
  core_.link.ReleaseLink();
  view_.EndProgram(0);
}

void Form1Presenter::EndSession(const std::function<void()>& lastWork) {
  core_.frame.StopFlag = true;
  RemoveTemporaryOutputsNow();
  if (lastWork) lastWork();
  core_.port.Detach();
  driver_->CloseDriver();
}

void Form1Presenter::SetRunning(bool running) {
  for (const ControlEntry& control : kForm1.controls) {
    if (control.group == ControlGroup::Command || control.group == ControlGroup::Hidden)
      view_.SetControlEnabled(control, !running);
    else if (control.group == ControlGroup::Stop)
      view_.SetControlEnabled(control, running);
  }
  view_.RunningChanged(running);
}

void Form1Presenter::ProcessMessages() {
  view_.ProcessMessages();
  commands_.KeepStopping();
}

bool Form1Presenter::RunFileDialog(const FileDialogEntry& dialog, bool multiSelect, std::string& current,
                                   std::vector<std::string>& chosen) {
  chosen = view_.RunFileDialog(dialog, multiSelect, current);
  if (chosen.empty()) return false;
  current = chosen.front();
  return true;
}

bool Form1Presenter::ExecuteOpenDialog1(bool multiSelect, std::vector<std::string>& files) {
  std::vector<std::string> chosen;
  if (!RunFileDialog(kOpenDialog1, multiSelect, openDialog1Name_, chosen)) return false;
  files = std::move(chosen);
  return true;
}

bool Form1Presenter::ExecuteOpenDialog2(std::string& file) {
  std::vector<std::string> chosen;
  if (!RunFileDialog(kOpenDialog2, false, openDialog2Name_, chosen)) return false;
  file = openDialog2Name_;
  return true;
}

bool Form1Presenter::ExecuteOpenDialog3(std::string& file) {
  std::vector<std::string> chosen;
  if (!RunFileDialog(kOpenDialog3, false, openDialog3Name_, chosen)) return false;
  file = openDialog3Name_;
  return true;
}

bool Form1Presenter::ExecuteSaveDialog1(std::string& file) {
  std::vector<std::string> chosen;
  if (!RunFileDialog(kSaveDialog1, false, saveDialog1Name_, chosen)) return false;
  file = saveDialog1Name_;
  return true;
}

std::optional<std::int32_t> Form1Presenter::ShowForm2(int preselectItem) {
  return Form2Result(view_.RunForm2(preselectItem));
}

std::optional<SaveChoice> Form1Presenter::ShowForm3(std::optional<SaveChoice> before) {
  return Form3Result(view_.RunForm3(), before);
}

}  // namespace brevomat
