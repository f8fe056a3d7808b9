// The operation frame shared by every command: log, status, progress, the seconds counter, the
// stop request, the one open file and the transfer buffer.
//
// A command runs on the window's thread. It stays responsive by pumping the window's messages at
// fixed points; a click on Stop only sets StopFlag, and the loop that next polls it calls
// AbortOperation.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

#include "base/AtomicOutputFile.h"
#include "base/FileAccess.h"
#include "base/TransferBuffer.h"
#include "base/Window.h"

namespace brevomat {

inline constexpr std::size_t kFileNameBytes = 260;  // 259 characters and the NUL

// What an operation and a command handler end with: done, cancelled (Stop, a question answered
// No, a dialog closed), or failed with the reason already logged.
inline constexpr int kResultDone = 0;
inline constexpr int kResultCancelled = 254;
inline constexpr int kResultFailed = -1;

// Decimal digits, no leading zeros, no grouping, a leading "-" when negative.
std::string NumberToText(std::int32_t value);

// The text as one line of its own: control characters (a newline, an escape sequence's ESC, the
// C1 controls a terminal also obeys, NEL among them) and the Unicode line and paragraph separators
// become visible escapes such as \n, \x1b, \u0085 and \u2028, so that a name from outside (a file
// name, a cart's header, a DAT's game name) can neither start a line of its own nor steer the
// terminal. Everything else, a backslash and non-ASCII text included, is kept.
std::string PrintableLine(std::string_view text);

// Copies `name` into a 260-byte NUL-terminated field. A name that does not fit is not stored (the
// field becomes empty) and false is returned: a cut-off path would name some other file.
bool StoreFileName(char (&field)[kFileNameBytes], std::string_view name);

// Sees every chunk a read-out has confirmed (its second read agreed with the first), in cart order,
// while it is still in the transfer buffer. A front end that wants more of the data than the file
// (checksums, where the game ends) listens here instead of reading the file back.
class ConfirmedChunkListener {
 public:
  virtual void ChunkConfirmed(const std::uint8_t* data, std::uint32_t size) = 0;

 protected:
  ~ConfirmedChunkListener() = default;
};

class OperationFrame {
 public:
  explicit OperationFrame(Window& window) : window_(window) {}
  ~OperationFrame() { CloseCurrentFile(); }
  OperationFrame(const OperationFrame&) = delete;
  OperationFrame& operator=(const OperationFrame&) = delete;

  Window& window() { return window_; }

  // --- shared state -----------------------------------------------------------------------------
  bool StopFlag = true;  // false only while an operation runs and no stop was asked for
  std::int32_t ElapsedSeconds = 0;
  std::uint8_t ProgressPercent = 0;
  // The last SetProgress: units (chunks, blocks or save units) done of the total. A front end that
  // shows throughput or time left reads them; ProgressPercent alone is too coarse for that.
  std::uint32_t ProgressDone = 0;
  std::uint32_t ProgressTotal = 0;
  TransferBuffer Buffer;  // TransferBuffer
  std::FILE* CurrentFile = nullptr;
  char ImageFileName[kFileNameBytes] = {};
  ConfirmedChunkListener* ChunkListener = nullptr;  // nobody by default: the window needs none
  std::string StatusText;  // what the Status label shows (a record's end mark repeats it)

  // --- display ----------------------------------------------------------------------------------
  // Every log line, in any window, is one of the program's own: text from outside is escaped.
  void LogLine(std::string_view text) { window_.Display().AppendLog(PrintableLine(text)); }
  void SetStatus(std::string_view text) {
    StatusText.assign(text);
    window_.Display().SetStatusText(text);
  }
  void UpdateProgressBar() { window_.Display().SetProgressPosition(ProgressPercent); }
  // ProgressPercent := done / total * 100, truncated, computed in floating point.
  void SetProgress(std::uint32_t done, std::uint32_t total);
  void ProcessMessages() { window_.ProcessMessages(); }
  // The first `size` bytes of the transfer buffer hold data read twice from the cart and found
  // the same both times.
  void ChunkConfirmed(std::uint32_t size) {
    if (ChunkListener != nullptr) ChunkListener->ChunkConfirmed(Buffer.data(), size);
  }

  // --- questions --------------------------------------------------------------------------------
  // Everything below the command handlers asks the user only through these.
  bool Ask(std::string_view text, std::string_view caption) { return window_.AskYesNo(text, caption); }
  // OpenDialog3, the IPS patch dialog; false when cancelled.
  bool ChooseIpsFile(std::string& file) { return window_.ExecuteOpenDialog3(file); }
  // Form2, the cart size dialog, opened on item `preselectItem`: the size chosen in chunks, or
  // nothing when the user chose none.
  std::optional<std::int32_t> ChooseCartSize(int preselectItem) { return window_.ShowForm2(preselectItem); }
  // The seconds counter pauses while a dialog waits for the user.
  void PauseTimer1() { window_.Display().StopTimer1(); }
  void ResumeTimer1() { window_.Display().StartTimer1(); }

  // --- frame ------------------------------------------------------------------------------------
  void BeginOperation();
  void EndOperation();
  void ClearOperationDisplay();
  void LogElapsedTime();
  void AbortOperation();
  void Timer1Timer();
  void StopClick() { StopFlag = true; }

  // The stop poll every long loop uses: pump messages, and if Stop was pressed abort the
  // operation and tell the caller to fail.
  bool PollStop() {
    ProcessMessages();
    if (!StopFlag) return false;
    AbortOperation();
    return true;
  }
  // The stop poll of the chip's ready waits. Those also run before an operation has begun (while
  // the flash is identified), when StopFlag is set only because the window is idle: nobody pressed
  // Stop then, so the wait pumps messages and goes on to its own poll limit.
  bool PollStopInWait() {
    ProcessMessages();
    if (!running_ || !StopFlag) return false;
    AbortOperation();
    return true;
  }
  bool Running() const { return running_; }

  // --- files ------------------------------------------------------------------------------------
  int OpenInputFile();  // ImageFileName, "rb"; 0 or -1 ("File Open Error!!!")
  // SaveDialog1's file name; 0 or -1 ("File Open Error!!!"). The blocks go to a new temporary file
  // beside it (AtomicOutputFile): the file of that name changes only when CloseOutputFile puts the
  // complete output in its place. A directory, FIFO, device or protected file is refused here.
  int OpenOutputFile();
  bool ReadFileBlock(std::uint32_t count);
  bool WriteFileBlock(std::uint32_t count);
  // Closes CurrentFile. Returns false when the close itself failed (buffered data lost). An output
  // that was not completed leaves its target as it was; the blocks written so far are kept beside
  // it as NAME.part (see PartialOutput).
  bool CloseCurrentFile();
  // Completes the output: its data on the disk, then in the target's place. A failure has lost
  // nothing the target held and is reported like a failed block write ("Write ErrNo=" and the
  // error text); the data is then kept as NAME.part. False then.
  bool CloseOutputFile();

  // What the file operations ended with, for a front end that says more than the log.
  struct FileProblem {
    std::string file;    // the name that could not be opened; empty when every open succeeded
    std::string reason;  // the system's reason, or why the file cannot take the output
  };
  // The last failed open ("File Open Error!!!"); cleared by every open that succeeds.
  const FileProblem& LastOpenFailure() const { return openFailure_; }
  // The NAME.part of the last output that was not completed, and its size; empty name for none.
  const std::string& PartialOutput() const { return partialName_; }
  std::uint64_t PartialOutputBytes() const { return partialBytes_; }
  // True while the last completed output is still the file of its name (no other program has
  // replaced it since).
  bool OutputStillInPlace() const;
  // Length of the open file from its status, not by seeking; 0 when nothing is open.
  std::uint32_t CurrentFileLength() const;

 private:
  std::string ErrorText() const;
  void KeepPartialOutput();
  Window& window_;
  AtomicOutputFile output_;
  std::uint64_t outputBytes_ = 0;  // whole blocks written to the output
  bool outputDone_ = false;
  FileProblem openFailure_;
  std::string partialName_;
  std::uint64_t partialBytes_ = 0;
  bool running_ = false;  // between BeginOperation and EndOperation
};

}  // namespace brevomat
