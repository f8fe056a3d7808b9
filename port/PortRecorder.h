// A record of every port access: a back end that passes each operation on to the back end it wraps
// and notes it, for the evidence of what went over the cable when a real cart answers otherwise
// than expected.
//
// The record is a gzip stream (zlib). Uncompressed it holds a text header, then binary records:
//
//   BREVOMAT PORT RECORD 1
//   program: ...          one "name: value" line each: program, platform, back end, base, link
//   ...                   mode, speed, date
//   (empty line)
//   records...
//
// An access record is a tag byte, then what the tag announces, little-endian:
//   bit 7     0 (a mark has it set)
//   bits 0-2  the register: 0-4 base+0 .. base+4, 5 the extended control register (base+0x402),
//             6 another port, whose 16-bit address follows the tag
//   bit 3     set for a write
//   bit 4     set for a 16-bit access
//   bits 5-6  microseconds since the record before: 0, 1 or 2; 3 when a varint of them follows
//   then the value: one byte, or two for a 16-bit access (for a read, the value read)
// A mark record is the tag 0x80 + kind, a varint of microseconds since the record before, a varint
// length and that many bytes of text.
//
// Records go into a fixed buffer; a full buffer (and every mark) is compressed with a sync flush
// and handed to the file, so a run that is killed leaves a record that decodes up to the last
// flush. Compressing costs several times what noting an access does, so it runs on a thread of its
// own while the next buffer fills: the command's thread pays for the notes only. A mark waits until
// everything before it is in the file. The file never grows beyond its limit: when the next buffer might not
// fit, the record ends with the mark "stopped" and the accesses go on unrecorded. Neither the limit nor a
// failed write ever stops the command that runs; the front end reports them when the command is over.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

#include "port/Port.h"

namespace brevomat {

namespace record {
inline constexpr std::string_view kMagic = "BREVOMAT PORT RECORD 1\n";
inline constexpr std::uint8_t kMarkFlag = 0x80;
inline constexpr std::uint8_t kWriteFlag = 0x08;
inline constexpr std::uint8_t kWordFlag = 0x10;
inline constexpr unsigned kTimeShift = 5;
inline constexpr std::uint8_t kRegisterMask = 0x07;
inline constexpr std::uint8_t kEcrRegister = 5;
inline constexpr std::uint8_t kOtherPort = 6;
inline constexpr std::uint16_t kEcrOffset = 0x402;
enum class Mark : std::uint8_t { Begin = 1, End = 2, Stopped = 3, Note = 4 };
}  // namespace record

// What the header says about the run; the recorder adds the platform and the date.
struct RecordHeader {
  std::string program;  // "Tarvex Brevomat 1.2nt (brevomat-cli 1.2)"
  std::string backEnd;  // "virtual cart demo", "ioperm, direct to the I/O ports"
  std::uint16_t base = 0x378;
  std::string linkMode;  // as it stands when the record starts: detection chooses it per command
  std::string speed;     // the Speed caption, "4" .. "1"
};

class PortRecorder final : public PortBackend {
 public:
  static constexpr std::uint64_t kDefaultLimitBytes = 256ull << 20;
  static constexpr std::size_t kBufferBytes = 64 * 1024;

  PortRecorder();
  ~PortRecorder() override;
  PortRecorder(const PortRecorder&) = delete;
  PortRecorder& operator=(const PortRecorder&) = delete;

  // Opens `path` for the record, emptying it: never through a symbolic link, only a regular file,
  // never waiting on a FIFO. What else the file must not be (a file the program itself works on)
  // the caller has refused before. False, with the reason in `error`.
  bool Open(const std::string& path, std::string& error, std::uint64_t limitBytes = kDefaultLimitBytes);
  // Takes an open stream instead (tests, a benchmark's null sink); the recorder closes it.
  bool OpenStream(std::FILE* stream, std::string& error, std::uint64_t limitBytes = kDefaultLimitBytes);

  // Starts the record on top of `inner`, which then receives every operation; the time counts
  // from here on `inner`'s clock.
  void Start(PortBackend& inner, const RecordHeader& header);
  // The base the register numbers count from (the user may pick another port between commands).
  void SetBase(std::uint16_t base) { base_ = base; }
  // A mark in the record, flushed at once (a command's start and end).
  void Mark(record::Mark kind, std::string_view text);
  // Ends the record and closes the file. False, with the reason, when the file could not take it.
  bool Close(std::string& error);

  std::uint8_t ReadByte(std::uint16_t port) override {
    const std::uint64_t us = Micros();
    const std::uint8_t value = inner_->ReadByte(port);
    if (recording_) Access(port, 0, value, us);
    return value;
  }
  void WriteByte(std::uint16_t port, std::uint8_t value) override {
    const std::uint64_t us = Micros();
    inner_->WriteByte(port, value);
    if (recording_) Access(port, record::kWriteFlag, value, us);
  }
  std::uint16_t ReadWord(std::uint16_t port) override {
    const std::uint64_t us = Micros();
    const std::uint16_t value = inner_->ReadWord(port);
    if (recording_) Access(port, record::kWordFlag, value, us);
    return value;
  }
  void WriteWord(std::uint16_t port, std::uint16_t value) override {
    const std::uint64_t us = Micros();
    inner_->WriteWord(port, value);
    if (recording_) Access(port, record::kWriteFlag | record::kWordFlag, value, us);
  }
  std::uint64_t ClockNs() override { return inner_->ClockNs(); }

  std::uint64_t Accesses() const { return accesses_; }
  // The limit was reached: the record ends there, the accesses after it went unrecorded.
  bool ReachedLimit() const { return reachedLimit_; }
  std::uint64_t LimitBytes() const { return limitBytes_; }
  // Bytes handed to the file so far.
  std::uint64_t FileBytes() const { return fileBytes_; }
  // Why the file stopped taking the record; empty while it takes it.
  const std::string& WriteError() const { return writeError_; }

 private:
  struct Deflater;
  std::uint64_t Micros() { return (inner_->ClockNs() - startNs_) / 1000; }
  // One access into the buffer: a handful of stores, and a flush when the buffer is full.
  void Access(std::uint16_t port, std::uint8_t flags, std::uint16_t value, std::uint64_t us) {
    if (fill_ + kLongestAccess > flushAt_) {
      Flush(false);
      if (!recording_) return;  // the limit was reached with this flush
    }
    std::uint8_t* out = buffer_.get() + fill_;
    const std::uint16_t offset = static_cast<std::uint16_t>(port - base_);
    std::uint8_t tag = flags;
    if (offset < 5)
      tag |= static_cast<std::uint8_t>(offset);
    else if (offset == record::kEcrOffset)
      tag |= record::kEcrRegister;
    else
      tag |= record::kOtherPort;
    const std::uint64_t delta = us - lastUs_;
    lastUs_ = us;
    std::uint8_t* p = out + 1;
    if ((tag & record::kRegisterMask) == record::kOtherPort) {
      *p++ = static_cast<std::uint8_t>(port);
      *p++ = static_cast<std::uint8_t>(port >> 8);
    }
    if (delta < 3) {
      tag |= static_cast<std::uint8_t>(delta << record::kTimeShift);
    } else {
      tag |= 3u << record::kTimeShift;
      p = PutVarint(p, delta);
    }
    *out = tag;
    *p++ = static_cast<std::uint8_t>(value);
    if (flags & record::kWordFlag) *p++ = static_cast<std::uint8_t>(value >> 8);
    fill_ = static_cast<std::size_t>(p - buffer_.get());
    ++accesses_;
  }
  static std::uint8_t* PutVarint(std::uint8_t* p, std::uint64_t v) {
    while (v >= 0x80) {
      *p++ = static_cast<std::uint8_t>(v | 0x80);
      v >>= 7;
    }
    *p++ = static_cast<std::uint8_t>(v);
    return p;
  }
  void Put(std::string_view bytes);
  // Hands the buffer to the compressing thread and goes on with the other one; `finish` ends the
  // gzip stream and waits for it to be written.
  void Flush(bool finish);
  // Waits until the compressing thread has written what it was given: from then on fileBytes_ and
  // writeError_ are this thread's to read.
  void WaitWritten();
  // The compressing thread: compresses each buffer it is handed and writes it to the file.
  void Compressor();
  void Compress(const std::uint8_t* data, std::size_t size, bool finish);

  static constexpr std::size_t kLongestAccess = 1 + 2 + 10 + 2;
  // Room kept for the mark that ends a record at its limit and the stream's end.
  static constexpr std::uint64_t kReserveBytes = 256;

  PortBackend* inner_ = &ClosedPortBackend::Instance();
  std::unique_ptr<std::uint8_t[]> buffer_;  // being filled
  std::unique_ptr<std::uint8_t[]> spare_;   // being compressed, or waiting to be filled
  std::size_t fill_ = 0;
  std::size_t flushAt_ = kBufferBytes;  // less once the limit comes near
  std::unique_ptr<std::uint8_t[]> out_;
  std::unique_ptr<Deflater> z_;
  std::FILE* file_ = nullptr;
  std::uint16_t base_ = 0x378;
  std::uint64_t startNs_ = 0;
  std::uint64_t lastUs_ = 0;
  std::uint64_t accesses_ = 0;
  std::uint64_t limitBytes_ = kDefaultLimitBytes;
  std::uint64_t fileBytes_ = 0;
  bool recording_ = false;
  bool finished_ = false;
  bool reachedLimit_ = false;
  std::string writeError_;

  // The hand-over to the compressing thread.
  std::thread compressor_;
  std::mutex handOver_;
  std::condition_variable changed_;
  bool pending_ = false;         // spare_ holds `pendingSize_` bytes to compress
  std::size_t pendingSize_ = 0;  // ... the last of the stream with `pendingFinish_`
  bool pendingFinish_ = false;
  bool quit_ = false;
};

}  // namespace brevomat
