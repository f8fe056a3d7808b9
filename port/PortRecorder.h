// A record of every port access, for the evidence of what went over the cable when a real cart
// answers otherwise than expected: the accesses are noted on a tape (port/AccessTape.h), by the
// back end itself where it can, otherwise by this recorder wrapped around it, which passes each
// operation on and notes it.
//
// The command's thread only fills buffers of fixed entries. A thread of the recorder's own turns
// them into the record's format (finding the repeats of a status poll as it goes), compresses it
// with a sync flush at the end of each buffer and hands it to the file, so a run that is killed
// leaves a record that decodes up to the last buffer. A mark waits until everything before it is
// in the file. The file never grows beyond its limit: when the next piece might not fit, the
// record ends with the mark "stopped" and the accesses go on unrecorded. Neither the limit nor a
// failed write ever stops the command that runs; the front end reports them when the command is
// over.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

#include "port/AccessTape.h"
#include "port/Port.h"

namespace brevomat {

// What the header says about the run; the recorder adds the platform and the date.
struct RecordHeader {
  std::string program;  // "Tarvex Brevomat 1.2nt (brevomat-cli 1.2)"
  std::string backEnd;  // "virtual cart demo", "ioperm, direct to the I/O ports"
  std::uint16_t base = 0x378;
  std::string linkMode;  // as it stands when the record starts: detection chooses it per command
  std::string speed;     // the Speed caption, "4" .. "1"
};

class PortRecorder final : public PortBackend, private AccessTape {
 public:
  static constexpr std::uint64_t kDefaultLimitBytes = 256ull << 20;
  static constexpr std::size_t kHistoryEntries = kRecent;

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

  // Starts the record of `inner`'s accesses; the time counts from here on `inner`'s clock. Returns
  // the back end the port is to be attached to: `inner` itself when it notes its own accesses,
  // otherwise this recorder around it.
  PortBackend& Start(PortBackend& inner, const RecordHeader& header);
  // The base the register numbers count from (the user may pick another port between commands).
  void SetBase(std::uint16_t base) { base_ = base; }
  // A mark in the record, written out at once (a command's start and end).
  void Mark(record::Mark kind, std::string_view text);
  // Ends the record and closes the file. False, with the reason, when the file could not take it.
  bool Close(std::string& error);

  std::uint8_t ReadByte(std::uint16_t port) override {
    const std::uint64_t ns = inner_->ClockNs();
    const std::uint8_t value = inner_->ReadByte(port);
    Note(port, 0, value, ns);
    return value;
  }
  void WriteByte(std::uint16_t port, std::uint8_t value) override {
    const std::uint64_t ns = inner_->ClockNs();
    inner_->WriteByte(port, value);
    Note(port, record::kWriteFlag, value, ns);
  }
  std::uint16_t ReadWord(std::uint16_t port) override {
    const std::uint64_t ns = inner_->ClockNs();
    const std::uint16_t value = inner_->ReadWord(port);
    Note(port, record::kWordFlag, value, ns);
    return value;
  }
  void WriteWord(std::uint16_t port, std::uint16_t value) override {
    const std::uint64_t ns = inner_->ClockNs();
    inner_->WriteWord(port, value);
    Note(port, record::kWriteFlag | record::kWordFlag, value, ns);
  }
  // A run goes to the wrapped back end as a run (through the kernel's device, one call), and is
  // noted as one, every access at the time the run began.
  void ReadBytes(std::uint16_t port, std::uint8_t* bytes, std::size_t count) override {
    const std::uint64_t ns = inner_->ClockNs();
    inner_->ReadBytes(port, bytes, count);
    NoteRun(port, 0, bytes, count, ns, 0);
  }
  void WriteBytes(std::uint16_t port, const std::uint8_t* bytes, std::size_t count) override {
    const std::uint64_t ns = inner_->ClockNs();
    inner_->WriteBytes(port, bytes, count);
    NoteRun(port, record::kWriteFlag, bytes, count, ns, 0);
  }
  void ReadWords(std::uint16_t port, std::uint8_t* bytes, std::size_t count) override {
    const std::uint64_t ns = inner_->ClockNs();
    inner_->ReadWords(port, bytes, count);
    NoteRun(port, record::kWordFlag, bytes, count, ns, 0);
  }
  void WriteWords(std::uint16_t port, const std::uint8_t* bytes, std::size_t count) override {
    const std::uint64_t ns = inner_->ClockNs();
    inner_->WriteWords(port, bytes, count);
    NoteRun(port, record::kWriteFlag | record::kWordFlag, bytes, count, ns, 0);
  }
  bool MovesRunsWhole() const override { return inner_->MovesRunsWhole(); }
  std::uint64_t ClockNs() override { return inner_->ClockNs(); }

  // What follows is known once a mark or Close has waited for the record to be written.
  // Accesses in the file.
  std::uint64_t Accesses() const { return written_; }
  // The limit was reached: the record ends there, the accesses after it went unrecorded.
  bool ReachedLimit() const { return reachedLimit_; }
  std::uint64_t LimitBytes() const { return limitBytes_; }
  // Bytes handed to the file so far.
  std::uint64_t FileBytes() const { return fileBytes_; }
  // Why the file stopped taking the record; empty while it takes it.
  const std::string& WriteError() const { return writeError_; }

 private:
  struct Deflater;
  // The command's side.
  bool Refill(std::size_t entries) override;
  void NoteOther(std::uint16_t port, std::uint8_t flags, std::uint16_t value, std::uint64_t ns) override;
  // Text entries (the header, a mark) after the entry that announces them.
  void NoteText(std::uint64_t entry, std::uint64_t ns, std::string_view text);
  // Hands the buffer being filled to the recorder's thread and takes an empty one (none once the
  // record has stopped, or with `last`).
  void HandOver(bool last);
  // Waits until the recorder's thread has written everything handed to it.
  void WaitWritten();

  // The recorder's thread.
  void Run();
  void Take(const std::uint64_t* entries, std::size_t count);
  bool TakeRepeat(std::uint64_t period, std::uint64_t count);
  void TakeRun(std::uint8_t tagWithoutTime, std::uint64_t times, const std::uint8_t* values,
               std::size_t count);
  bool Append(std::uint64_t entry);
  std::size_t AppendValues(std::uint8_t tagWithoutTime, std::uint32_t stepNs, const std::uint8_t* values,
                           std::size_t count);
  // An access entry of the tape's.
  void TakeAccess(std::uint64_t entry) {
    replay_[taken_ & kRecentMask] = entry;
    const auto sinceNs = static_cast<std::uint32_t>(entry);
    ns_ += sinceNs;
    Put(static_cast<std::uint8_t>(entry >> 32), 0, static_cast<std::uint16_t>(entry >> 48));
    if (sinceNs % 1000 != 0 || sinceNs >= 3000 ||
        history_[(taken_ - 1) & record::kHistoryMask] == record::kNoKey)
      cleanFrom_ = taken_;
  }
  void Put(std::uint8_t tagWithoutTime, std::uint16_t port, std::uint16_t value);
  void PutText(std::uint8_t markTag, std::string_view text);
  std::uint8_t* PutKeyRepeat(std::uint8_t* p);
  static std::uint8_t* PutVarint(std::uint8_t* p, std::uint64_t v);
  // Makes room for `bytes` more; false when the record has stopped.
  bool Room(std::size_t bytes);
  // Compresses what is there and writes it; `last` ends the stream.
  void Deflate(bool last);
  // Ends the record at its limit with the mark that says so.
  void StopAtLimit();
  void Compress(const std::uint8_t* data, std::size_t size, bool last);
  bool SetLevel(int level, int strategy);
  // Hands `bytes` of the compressed stream to the file; false when it does not take them.
  bool WriteOut(std::size_t bytes);

  // Entries of the recorder's own (bit 7 of the tag), with how they go on:
  //   a repeat: (port/AccessTape.h)
  //   a long access: the port (bits 0-15), its register and flags (bits 40-47), the value; then
  //                  the access's time on the port's clock
  //   a mark: the text's length (bits 0-31), the mark (bits 40-47); then the time; then the text
  //   text:   the length; then the text (the header)
  static constexpr std::uint64_t kLongAccess = 0x81;
  static constexpr std::uint64_t kMarkEntry = 0x82;
  static constexpr std::uint64_t kTextEntry = 0x83;
  static constexpr std::size_t kEntries = 32 * 1024;  // a buffer
  static constexpr std::size_t kBuffers = 4;
  static constexpr std::size_t kBytes = 64 * 1024;  // the format's buffer before compression
  // A repeat (tag, period, count) and an access (tag, port, time, value).
  static constexpr std::size_t kLongestAccess = (1 + 2 + 10) + (1 + 2 + 10 + 2);
  // Room kept for the mark that ends a record at its limit and the stream's end.
  static constexpr std::uint64_t kReserveBytes = 256;
  static constexpr std::size_t kHashSize = 4096;
  static constexpr unsigned kHashShift = 32 - 12;

  PortBackend* inner_ = &ClosedPortBackend::Instance();
  bool notedByInner_ = false;
  std::FILE* file_ = nullptr;
  std::uint64_t limitBytes_ = kDefaultLimitBytes;

  // The command's side: the buffer being filled is fill_ .. end_ of buffers_[current_].
  std::unique_ptr<std::uint64_t[]> buffers_[kBuffers];
  std::size_t current_ = 0;
  bool noting_ = false;

  // The hand-over.
  struct Handed {
    std::size_t buffer;  // kBuffers: none
    std::size_t count;
    bool last;
  };
  std::thread thread_;
  std::mutex handOver_;
  std::condition_variable changed_;
  std::deque<Handed> handed_;
  std::size_t free_[kBuffers] = {};
  std::size_t freeCount_ = 0;
  bool stopped_ = false;  // the record has ended before Close: nothing more is taken
  bool quit_ = false;

  // The recorder's thread: the format, the repeat, the stream.
  std::unique_ptr<Deflater> z_;
  std::unique_ptr<std::uint8_t[]> bytes_;
  std::size_t byteFill_ = 0;
  std::size_t flushAt_ = kBytes;  // less once the limit comes near
  std::unique_ptr<std::uint8_t[]> out_;
  static constexpr unsigned kStoredPieces = 16;
  unsigned storedLeft_ = 0;  // pieces still to be stored as they stand
  std::uint64_t startNs_ = 0;
  std::uint64_t ns_ = 0;
  std::uint64_t lastUs_ = 0;
  std::uint64_t written_ = 0;      // accesses in the file
  std::uint64_t replay_[kRecent];  // the tape's last entries, where its repeats copy from
  std::uint64_t taken_ = 0;        // accesses; also the place of the next in both histories
  std::uint32_t history_[record::kHistory];
  // From here on every access taken came a whole 0, 1 or 2 us after the one before and has a key:
  // a repeat of the tape's that copies only these is a repeat of the record's too.
  std::uint64_t cleanFrom_ = 0;
  std::uint32_t codeByteNs_ = 0;         // the byte cycle of the codes (kByteNsEntry)
  std::uint32_t keyAt_[kHashSize] = {};  // by hashed key: where it was last written out
  std::uint32_t keyPeriod_ = 1;
  // The access written last, while a run of values may go on from it: where it begins in the
  // buffer (a single access, or the run it has become), its tag, how many accesses it holds, and
  // where it ends (kNoGroup when the next access cannot join it).
  static constexpr std::size_t kNoGroup = ~std::size_t{0};
  std::size_t groupAt_ = 0;
  std::size_t groupEnd_ = kNoGroup;
  std::uint8_t groupTag_ = 0;
  std::uint32_t groupCount_ = 0;
  std::uint64_t keyRepeat_ = 0;  // accesses like the one a period before, not written yet
  std::uint64_t fileBytes_ = 0;
  bool finished_ = false;
  bool reachedLimit_ = false;
  std::string writeError_;
};

}  // namespace brevomat
