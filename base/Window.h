// What a command needs of the main window, in the window's own terms.
//
// Commands never talk to a window toolkit. The Qt window, the command-line console and the
// scripted test window implement this interface; everything below the shell reaches the user
// only through it (via the operation frame).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace brevomat {

// What Form3 hands back on OK: the item indexes of its two groups, each as its low byte
// (RadioBankSel 0..3 = "Bank 1" .. "Bank 4", RadioSizeSel 0..3 = "32K" .. "256K").
struct SaveChoice {
  std::uint8_t SelectedSaveBank = 0;
  std::uint8_t SelectedSaveSize = 0;
  friend bool operator==(const SaveChoice&, const SaveChoice&) = default;
};

// What an operation shows while it runs: Memo1, the Status and Time labels, ProgressBar1, and
// Timer1 that counts its seconds. A window that draws its controls itself implements it once,
// for the commands and for whatever drives the window (Form1Presenter's view).
class WindowDisplay {
 public:
  virtual ~WindowDisplay() = default;

  virtual void AppendLog(std::string_view line) = 0;
  virtual void SetStatusText(std::string_view text) = 0;
  virtual void SetTimeText(std::string_view text) = 0;
  virtual void SetProgressPosition(int percent) = 0;
  virtual void StartTimer1() = 0;
  virtual void StopTimer1() = 0;
};

class Window {
 public:
  virtual ~Window() = default;

  // Where the operation's lines, labels, progress and seconds are shown.
  virtual WindowDisplay& Display() = 0;

  // running = true: every control of the locked set disabled, Stop enabled; false: the opposite.
  virtual void SetRunning(bool running) = 0;

  // Deliver every pending message (clicks, paint, timer ticks) and return without waiting.
  virtual void ProcessMessages() = 0;

  // Modal Yes/No message box; true only for Yes.
  virtual bool AskYesNo(std::string_view text, std::string_view caption) = 0;

  // File dialogs. Each returns false when the user cancelled; on true the chosen name(s) are
  // stored and also become the dialog's current file name.
  virtual bool ExecuteOpenDialog1(bool multiSelect, std::vector<std::string>& files) = 0;
  virtual bool ExecuteOpenDialog2(std::string& file) = 0;
  virtual bool ExecuteOpenDialog3(std::string& file) = 0;
  virtual bool ExecuteSaveDialog1(std::string& file) = 0;
  // The current file name of SaveDialog1 (empty when it has none).
  virtual std::string SaveDialog1FileName() = 0;

  // Form2 "Select Cart size", shown modally with item `preselectItem` (0..5, -1 none) selected:
  // the size chosen with OK in 32 KiB chunks (CartSizeChunks), or nothing for CANCEL, for OK
  // with no item selected and for the close box.
  virtual std::optional<std::int32_t> ShowForm2(int preselectItem) = 0;
  // Form3 "Bank and Size Select": OK gives the bank and size chosen, CANCEL nothing, and the
  // close box gives back `before` (what the previous showing ended with) unchanged.
  virtual std::optional<SaveChoice> ShowForm3(std::optional<SaveChoice> before) = 0;

  // Item indexes of the radio groups (-1 when no item is selected).
  virtual int PortSelIndex() = 0;
  virtual int RadioSpeedIndex() = 0;
  virtual int RadioIpsIndex() = 0;
};

// A window nobody watches: drops every line and label, answers every question No and cancels
// every dialog. For runs of the commands that only their result is wanted of (the link probe's
// model runs, the fuzz targets).
class SilentWindow final : public Window, public WindowDisplay {
 public:
  WindowDisplay& Display() override { return *this; }
  void AppendLog(std::string_view) override {}
  void SetStatusText(std::string_view) override {}
  void SetTimeText(std::string_view) override {}
  void SetProgressPosition(int) override {}
  void SetRunning(bool) override {}
  void StartTimer1() override {}
  void StopTimer1() override {}
  void ProcessMessages() override {}
  bool AskYesNo(std::string_view, std::string_view) override { return false; }
  bool ExecuteOpenDialog1(bool, std::vector<std::string>&) override { return false; }
  bool ExecuteOpenDialog2(std::string&) override { return false; }
  bool ExecuteOpenDialog3(std::string&) override { return false; }
  bool ExecuteSaveDialog1(std::string&) override { return false; }
  std::string SaveDialog1FileName() override { return {}; }
  std::optional<std::int32_t> ShowForm2(int) override { return std::nullopt; }
  std::optional<SaveChoice> ShowForm3(std::optional<SaveChoice>) override { return std::nullopt; }
  int PortSelIndex() override { return 0; }
  int RadioSpeedIndex() override { return 0; }
  int RadioIpsIndex() override { return 0; }
};

}  // namespace brevomat
