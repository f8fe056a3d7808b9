#include "port/PortRecorder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <zlib.h>

#include <cerrno>
#include <cstring>
#include <ctime>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#ifndef O_NOFOLLOW
#define O_NOFOLLOW 0  // Windows: no symbolic links to follow by accident
#endif
#ifndef O_NONBLOCK
#define O_NONBLOCK 0
#endif
#ifndef O_CLOEXEC
#define O_CLOEXEC 0
#endif
#ifndef O_BINARY
#define O_BINARY 0
#endif

namespace brevomat {

namespace {

const char* Platform() {
#if defined(_WIN32) && defined(_WIN64)
  return "Windows 64-bit";
#elif defined(_WIN32)
  return "Windows 32-bit";
#elif defined(__linux__) && defined(__x86_64__)
  return "Linux x86-64";
#elif defined(__linux__) && defined(__i386__)
  return "Linux x86";
#elif defined(__linux__)
  return "Linux";
#else
  return "unknown";
#endif
}

std::string Hex(unsigned value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%X", value);
  return text;
}

std::string UtcNow() {
  const std::time_t now = std::time(nullptr);
  std::tm utc = {};
#ifdef _WIN32
  gmtime_s(&utc, &now);
#else
  gmtime_r(&now, &utc);
#endif
  char text[32] = "";
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S UTC", &utc);
  return text;
}

// What `size` bytes can become at the most, compressed with a sync flush: zlib's own bound
// (deflateBound: the size, a few bytes per 16 KB, the gzip frame) rounded up, so that it can be
// known without asking the stream the other thread is working on.
std::size_t WorstCase(std::size_t size) { return size + size / 1024 + 64; }

}  // namespace

struct PortRecorder::Deflater {
  z_stream z = {};
  bool ready = false;
  ~Deflater() {
    if (ready) deflateEnd(&z);
  }
};

PortRecorder::PortRecorder() = default;

PortRecorder::~PortRecorder() {
  std::string ignored;
  Close(ignored);
}

bool PortRecorder::Open(const std::string& path, std::string& error, std::uint64_t limitBytes) {
  // O_NOFOLLOW and O_NONBLOCK: a link is not followed and a FIFO does not hold the program; what is
  // opened must then be a regular file before it is emptied.
  const int fd =
      ::open(path.c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_BINARY, 0666);
  if (fd < 0) {
    error = errno == ELOOP   ? "it is a symbolic link"
            : errno == ENXIO ? "it is not a regular file"
                             : std::strerror(errno);
    return false;
  }
  struct stat info = {};
  if (::fstat(fd, &info) != 0 || (info.st_mode & S_IFMT) != S_IFREG) {
    ::close(fd);
    error = "it is not a regular file";
    return false;
  }
#ifndef _WIN32
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  if (::ftruncate(fd, 0) != 0) {
    error = std::strerror(errno);
    ::close(fd);
    return false;
  }
#else
  if (::_chsize(fd, 0) != 0) {
    error = std::strerror(errno);
    ::close(fd);
    return false;
  }
#endif
  std::FILE* stream = ::fdopen(fd, "wb");
  if (stream == nullptr) {
    error = std::strerror(errno);
    ::close(fd);
    return false;
  }
  return OpenStream(stream, error, limitBytes);
}

bool PortRecorder::OpenStream(std::FILE* stream, std::string& error, std::uint64_t limitBytes) {
  file_ = stream;
  limitBytes_ = limitBytes;
  z_ = std::make_unique<Deflater>();
  // gzip framing (window bits 15 + 16), so that the record also opens with zcat; the fastest
  // level: the record must not slow the link down.
  if (deflateInit2(&z_->z, Z_BEST_SPEED, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
    error = "zlib cannot start a stream";
    std::fclose(file_);
    file_ = nullptr;
    return false;
  }
  z_->ready = true;
  buffer_ = std::make_unique<std::uint8_t[]>(kBufferBytes);
  spare_ = std::make_unique<std::uint8_t[]>(kBufferBytes);
  out_ = std::make_unique<std::uint8_t[]>(WorstCase(kBufferBytes));
  compressor_ = std::thread(&PortRecorder::Compressor, this);
  return true;
}

void PortRecorder::Start(PortBackend& inner, const RecordHeader& header) {
  inner_ = &inner;
  base_ = header.base;
  startNs_ = inner_->ClockNs();
  lastUs_ = 0;
  if (file_ == nullptr) return;
  std::string text(record::kMagic);
  text += "program: " + header.program + "\n";
  text += std::string("platform: ") + Platform() + "\n";
  text += "back end: " + header.backEnd + "\n";
  text += "base: " + Hex(header.base) + "\n";
  text += "link mode: " + header.linkMode + "\n";
  text += "speed: " + header.speed + "\n";
  text += "date: " + UtcNow() + "\n\n";
  recording_ = true;
  Put(text);
  Flush(false);
}

void PortRecorder::Put(std::string_view bytes) {
  // The header and the marks are short; a text longer than the buffer is cut.
  if (bytes.size() > kBufferBytes / 2) bytes = bytes.substr(0, kBufferBytes / 2);
  if (fill_ + bytes.size() > flushAt_) Flush(false);
  if (!recording_) return;
  std::memcpy(buffer_.get() + fill_, bytes.data(), bytes.size());
  fill_ += bytes.size();
}

void PortRecorder::Mark(record::Mark kind, std::string_view text) {
  if (!recording_) return;
  const std::uint64_t us = Micros();
  std::uint8_t head[1 + 10 + 10];
  head[0] = static_cast<std::uint8_t>(record::kMarkFlag | static_cast<std::uint8_t>(kind));
  text = text.substr(0, 1000);
  std::uint8_t* p = PutVarint(head + 1, us - lastUs_);
  p = PutVarint(p, text.size());
  lastUs_ = us;
  std::string bytes(reinterpret_cast<const char*>(head), static_cast<std::size_t>(p - head));
  bytes += text;
  Put(bytes);
  Flush(false);
  WaitWritten();
}

void PortRecorder::WaitWritten() {
  std::unique_lock<std::mutex> lock(handOver_);
  changed_.wait(lock, [this] { return !pending_; });
}

void PortRecorder::Compressor() {
  for (;;) {
    std::unique_lock<std::mutex> lock(handOver_);
    changed_.wait(lock, [this] { return pending_ || quit_; });
    if (!pending_) return;
    const std::size_t size = pendingSize_;
    const bool finish = pendingFinish_;
    lock.unlock();
    // spare_ is this thread's until pending_ is cleared.
    Compress(spare_.get(), size, finish);
    lock.lock();
    pending_ = false;
    changed_.notify_all();
  }
}

void PortRecorder::Compress(const std::uint8_t* data, std::size_t size, bool finish) {
  if (!writeError_.empty()) return;
  z_stream& z = z_->z;
  z.next_in = const_cast<std::uint8_t*>(data);
  z.avail_in = static_cast<uInt>(size);
  const auto outSize = static_cast<uInt>(WorstCase(kBufferBytes));
  do {
    z.next_out = out_.get();
    z.avail_out = outSize;
    if (deflate(&z, finish ? Z_FINISH : Z_SYNC_FLUSH) == Z_STREAM_ERROR) {
      writeError_ = "zlib failed";
      return;
    }
    const std::size_t bytes = outSize - z.avail_out;
    if (bytes != 0 && std::fwrite(out_.get(), 1, bytes, file_) != bytes) {
      writeError_ = std::strerror(errno);
      return;
    }
    fileBytes_ += bytes;
  } while (z.avail_out == 0);
  // On the disk's way: a process that is killed now leaves this much behind.
  if (std::fflush(file_) != 0) writeError_ = std::strerror(errno);
}

void PortRecorder::Flush(bool finish) {
  if (finished_ || file_ == nullptr) return;
  WaitWritten();
  if (!writeError_.empty()) {
    // The file takes no more: the record ends, the command goes on.
    recording_ = false;
    finished_ = true;
    return;
  }
  const std::size_t handed = fill_;
  {
    std::lock_guard<std::mutex> lock(handOver_);
    std::swap(buffer_, spare_);
    pendingSize_ = handed;
    pendingFinish_ = finish;
    pending_ = true;
  }
  changed_.notify_all();
  fill_ = 0;
  if (finish) {
    WaitWritten();
    finished_ = true;
    recording_ = false;
    return;
  }
  // The next buffer is handed over early enough that even incompressible records fit in what is
  // left once the one on its way is written, with room kept for the closing mark.
  const std::uint64_t used = fileBytes_ + WorstCase(handed) + kReserveBytes;
  const std::uint64_t room = limitBytes_ > used ? limitBytes_ - used : 0;
  std::size_t next = kBufferBytes;
  while (next > 64 && WorstCase(next) > room) next = next / 2;
  if (next > 64) {
    flushAt_ = next;
    return;
  }
  // The limit: the record ends with a mark saying so, and the accesses go on unrecorded.
  reachedLimit_ = true;
  flushAt_ = kBufferBytes;
  const std::string why = "the record reached its limit of " + std::to_string(limitBytes_) + " bytes";
  std::uint8_t head[1 + 10 + 10];
  head[0] = static_cast<std::uint8_t>(record::kMarkFlag | static_cast<std::uint8_t>(record::Mark::Stopped));
  std::uint8_t* p = PutVarint(head + 1, 0);
  p = PutVarint(p, why.size());
  std::memcpy(buffer_.get(), head, static_cast<std::size_t>(p - head));
  fill_ = static_cast<std::size_t>(p - head);
  std::memcpy(buffer_.get() + fill_, why.data(), why.size());
  fill_ += why.size();
  Flush(true);
}

bool PortRecorder::Close(std::string& error) {
  if (file_ == nullptr) return writeError_.empty();
  if (!finished_) Flush(true);
  recording_ = false;
  if (compressor_.joinable()) {
    {
      std::lock_guard<std::mutex> lock(handOver_);
      quit_ = true;
    }
    changed_.notify_all();
    compressor_.join();
  }
  if (std::fclose(file_) != 0 && writeError_.empty()) writeError_ = std::strerror(errno);
  file_ = nullptr;
  error = writeError_;
  return writeError_.empty();
}

}  // namespace brevomat
