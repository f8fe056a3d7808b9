#include "base/Operation.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "base/FileAccess.h"

namespace brevomat {

std::string NumberToText(std::int32_t value) { return std::to_string(value); }

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
  window_.StartTimer1();
  window_.SetTimeText("0 Sec");
  ProcessMessages();
}

void OperationFrame::EndOperation() {
  running_ = false;
  StopFlag = true;
  window_.SetRunning(false);
  window_.StopTimer1();
  ProcessMessages();
}

void OperationFrame::ClearOperationDisplay() {
  window_.SetProgressPosition(0);
  window_.SetStatusText("");
  window_.SetTimeText("");
}

void OperationFrame::LogElapsedTime() { LogLine("Time = " + NumberToText(ElapsedSeconds) + " Sec"); }

void OperationFrame::AbortOperation() {
  LogLine("Stop process !!!");
  EndOperation();
}

void OperationFrame::Timer1Timer() {
  ++ElapsedSeconds;
  window_.SetTimeText(NumberToText(ElapsedSeconds) + " Sec");
  ProcessMessages();
}

int OperationFrame::OpenInputFile() {
  CloseCurrentFile();
  // Only a regular file is an image: a directory (what the pre-boot setting holds until a file is
  // chosen), a FIFO or a device is refused without blocking.
  CurrentFile = OpenRegularFile(ImageFileName);
  if (CurrentFile == nullptr) {
    LogLine("File Open Error!!!");
    return -1;
  }
  return 0;
}

int OperationFrame::OpenOutputFile() {
  CloseCurrentFile();
  const std::string name = window_.SaveDialog1FileName();
  CurrentFile = name.empty() ? nullptr : std::fopen(name.c_str(), "w+b");
  if (CurrentFile == nullptr) {
    LogLine("File Open Error!!!");
    return -1;
  }
  return 0;
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
  if (put == count) return true;
  if (errno == 0) errno = EIO;
  LogLine("Write ErrNo=" + ErrorText());
  return false;
}

bool OperationFrame::CloseCurrentFile() {
  if (CurrentFile == nullptr) return true;
  const bool ok = std::fclose(CurrentFile) == 0;
  CurrentFile = nullptr;
  return ok;
}

bool OperationFrame::CloseOutputFile() {
  errno = 0;
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
