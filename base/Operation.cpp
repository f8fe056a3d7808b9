#include "base/Operation.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "base/AtomicOutputFile.h"
#include "base/FileAccess.h"

namespace brevomat {

std::string NumberToText(std::int32_t value) { return std::to_string(value); }

namespace {

bool IsC0(unsigned char c) { return c < 0x20 || c == 0x7F; }
// U+0080..U+009F in UTF-8: 0xC2 followed by 0x80..0x9F.
bool IsC1At(std::string_view text, std::size_t i) {
  return static_cast<unsigned char>(text[i]) == 0xC2 && i + 1 < text.size() &&
         static_cast<unsigned char>(text[i + 1]) >= 0x80 && static_cast<unsigned char>(text[i + 1]) <= 0x9F;
}
// U+2028 LINE SEPARATOR and U+2029 PARAGRAPH SEPARATOR in UTF-8: 0xE2 0x80 0xA8 / 0xA9. Not
// controls, but editors, log viewers and JavaScript end a line at them.
bool IsLineSeparatorAt(std::string_view text, std::size_t i) {
  return static_cast<unsigned char>(text[i]) == 0xE2 && i + 2 < text.size() &&
         static_cast<unsigned char>(text[i + 1]) == 0x80 &&
         (static_cast<unsigned char>(text[i + 2]) == 0xA8 || static_cast<unsigned char>(text[i + 2]) == 0xA9);
}

}  // namespace

std::string PrintableLine(std::string_view text) {
  static const char kHex[] = "0123456789abcdef";
  std::string line;
  line.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (IsC1At(text, i)) {
      const auto code = static_cast<unsigned char>(text[++i]);
      line += "\\u00";
      line += kHex[code >> 4];
      line += kHex[code & 15];
    } else if (IsLineSeparatorAt(text, i)) {
      line += text[i + 2] == '\xA8' ? "\\u2028" : "\\u2029";
      i += 2;
    } else if (!IsC0(c)) {
      line += static_cast<char>(c);
    } else if (c == '\n') {
      line += "\\n";
    } else if (c == '\r') {
      line += "\\r";
    } else if (c == '\t') {
      line += "\\t";
    } else {
      line += "\\x";
      line += kHex[c >> 4];
      line += kHex[c & 15];
    }
  }
  return line;
}

bool StoreFileName(char (&field)[kFileNameBytes], std::string_view name) {
  if (name.size() >= kFileNameBytes || name.find('\0') != std::string_view::npos) {
    field[0] = '\0';
    return false;
  }
  std::memcpy(field, name.data(), name.size());
  field[name.size()] = '\0';
  return true;
}

void OperationFrame::SetProgress(std::uint32_t done, std::uint32_t total) {
  if (total == 0) return;
  ProgressDone = done;
  ProgressTotal = total;
  const double percent = static_cast<double>(done) / static_cast<double>(total) * 100.0;
  ProgressPercent = static_cast<std::uint8_t>(percent);
}

void OperationFrame::BeginOperation() {
  running_ = true;
  StopFlag = false;
  window_.SetRunning(true);
  ElapsedSeconds = 0;
  window_.Display().StartTimer1();
  window_.Display().SetTimeText("0 Sec");
  ProcessMessages();
}

void OperationFrame::EndOperation() {
  running_ = false;
  StopFlag = true;
  window_.SetRunning(false);
  window_.Display().StopTimer1();
  ProcessMessages();
}

void OperationFrame::ClearOperationDisplay() {
  window_.Display().SetProgressPosition(0);
  StatusText.clear();
  window_.Display().SetStatusText("");
  window_.Display().SetTimeText("");
}

void OperationFrame::LogElapsedTime() { LogLine("Time = " + NumberToText(ElapsedSeconds) + " Sec"); }

void OperationFrame::AbortOperation() {
  LogLine("Stop process !!!");
  EndOperation();
}

void OperationFrame::Timer1Timer() {
  ++ElapsedSeconds;
  window_.Display().SetTimeText(NumberToText(ElapsedSeconds) + " Sec");
  ProcessMessages();
}

int OperationFrame::OpenInputFile() {
  CloseCurrentFile();
  // Only a regular file is an image: a directory (what the pre-boot setting holds until a file is
  // chosen), a FIFO or a device is refused without blocking.
  errno = 0;
  CurrentFile = OpenRegularFile(ImageFileName);
  if (CurrentFile == nullptr) {
    const int error = errno;
    openFailure_ = {ImageFileName, error == EISDIR ? "it is a directory"
                                   : error == EINVAL
                                       ? "it is not a regular file (a FIFO, a device or a socket)"
                                   : error != 0 ? std::strerror(error)
                                                : "no file name was given"};
    LogLine("File Open Error!!!");
    return -1;
  }
  openFailure_ = {};
  return 0;
}

int OperationFrame::OpenOutputFile() {
  CloseCurrentFile();
  const std::string name = window_.SaveDialog1FileName();
  partialName_.clear();
  partialBytes_ = 0;
  outputBytes_ = 0;
  outputDone_ = false;
  if (!output_.Create(name)) {
    openFailure_ = {name, output_.Error()};
    LogLine("File Open Error!!!");
    return -1;
  }
  openFailure_ = {};
  CurrentFile = output_.Stream();
  return 0;
}

void OperationFrame::KeepPartialOutput() {
  // Only whole blocks that were written count: a block cut short by a full disk is not kept.
  const std::string part = output_.Target() + ".part";
  const std::uint64_t bytes = outputBytes_;
  if (output_.KeepAs(part, bytes)) {
    partialName_ = part;
    partialBytes_ = bytes;
  }
}

bool OperationFrame::OutputStillInPlace() const {
  return outputDone_ && SameFileAs(output_.Target(), output_.Device(), output_.Inode());
}

std::string OperationFrame::ErrorText() const {
  // A short read at the end of a file sets no error number; "Success" would be a lie there.
  if (errno == 0)
    return CurrentFile && std::feof(CurrentFile) ? "Unexpected end of file" : "Input/output error";
  return std::strerror(errno);
}

bool OperationFrame::ReadFileBlock(std::uint32_t count) {
  errno = 0;
  const std::size_t got = CurrentFile ? std::fread(Buffer.data(), 1, count, CurrentFile) : 0;
  if (got == count) return true;
  if (CurrentFile == nullptr) errno = EBADF;
  LogLine("Read ErrNo=" + ErrorText());
  return false;
}

bool OperationFrame::WriteFileBlock(std::uint32_t count) {
  errno = 0;
  std::size_t put = 0;
  if (CurrentFile) {
    put = std::fwrite(Buffer.data(), 1, count, CurrentFile);
    // Push the block to the system now, so that a full disk is reported for this block and not
    // silently at close time.
    if (put == count && std::fflush(CurrentFile) != 0) put = 0;
  } else {
    errno = EBADF;
  }
  if (put == count) {
    if (output_.Active() && CurrentFile == output_.Stream()) outputBytes_ += count;
    return true;
  }
  if (errno == 0) errno = EIO;
  LogLine("Write ErrNo=" + ErrorText());
  return false;
}

bool OperationFrame::CloseCurrentFile() {
  if (CurrentFile == nullptr) return true;
  if (output_.Active() && CurrentFile == output_.Stream()) {
    CurrentFile = nullptr;
    KeepPartialOutput();
    return true;
  }
  const bool ok = std::fclose(CurrentFile) == 0;
  CurrentFile = nullptr;
  return ok;
}

bool OperationFrame::CloseOutputFile() {
  errno = 0;
  if (output_.Active() && CurrentFile == output_.Stream()) {
    CurrentFile = nullptr;
    if (output_.Commit()) {
      outputDone_ = true;
      return true;
    }
    if (errno == 0) errno = EIO;
    const int error = errno;
    LogLine("Write ErrNo=" + ErrorText());
    KeepPartialOutput();
    errno = error;
    return false;
  }
  if (CloseCurrentFile()) return true;
  if (errno == 0) errno = EIO;
  LogLine("Write ErrNo=" + ErrorText());
  return false;
}

std::uint32_t OperationFrame::CurrentFileLength() const {
  if (CurrentFile == nullptr) return 0;
  struct stat st {};
  if (fstat(fileno(CurrentFile), &st) != 0 || st.st_size < 0) return 0;
  if (static_cast<unsigned long long>(st.st_size) > 0xFFFFFFFFull) return 0xFFFFFFFFu;
  return static_cast<std::uint32_t>(st.st_size);
}

}  // namespace brevomat
