#include "port/PortRecorder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
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

PortRecorder::PortRecorder() {
  std::fill(std::begin(history_), std::end(history_), record::kNoKey);
  std::fill(std::begin(replay_), std::end(replay_), kNoEntry);
}

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
  // gzip framing (window bits 15 + 16), so that the record also opens with zcat. What reaches
  // zlib is the accesses that are not repeats, mostly the cart's data, which a search for matches
  // seldom shortens (a word read back is far beyond the window from where it was written): so
  // Huffman codes only, which cost a fraction of the search. Data that does not shrink even so
  // (noise, or a game that is compressed itself) is stored for a few pieces (Compress).
  if (deflateInit2(&z_->z, Z_BEST_SPEED, Z_DEFLATED, 15 + 16, 8, Z_HUFFMAN_ONLY) != Z_OK) {
    error = "zlib cannot start a stream";
    std::fclose(file_);
    file_ = nullptr;
    return false;
  }
  z_->ready = true;
  for (std::size_t b = 0; b < kBuffers; ++b) {
    buffers_[b] = std::make_unique<std::uint64_t[]>(kEntries);
    free_[freeCount_++] = b;
  }
  bytes_ = std::make_unique<std::uint8_t[]>(kBytes);
  out_ = std::make_unique<std::uint8_t[]>(WorstCase(kBytes));
  thread_ = std::thread(&PortRecorder::Run, this);
  return true;
}

PortBackend& PortRecorder::Start(PortBackend& inner, const RecordHeader& header) {
  inner_ = &inner;
  base_ = header.base;
  startNs_ = lastNs_ = inner.ClockNs();
  if (file_ == nullptr) return inner;
  current_ = free_[--freeCount_];
  fill_ = buffers_[current_].get();
  end_ = fill_ + kEntries;
  noting_ = true;
  std::string text(record::kMagic);
  text += "program: " + header.program + "\n";
  text += std::string("platform: ") + Platform() + "\n";
  text += "back end: " + header.backEnd + "\n";
  text += "base: " + Hex(header.base) + "\n";
  text += "link mode: " + header.linkMode + "\n";
  text += "speed: " + header.speed + "\n";
  text += "date: " + UtcNow() + "\n\n";
  NoteText(kTextEntry << 32, startNs_, text);
  notedByInner_ = inner.NotesInto(this);
  return notedByInner_ ? inner : *this;
}

// ---- The command's side ----

bool PortRecorder::Refill(std::size_t entries) {
  if (!noting_) return false;
  HandOver(false);
  return noting_ && static_cast<std::size_t>(end_ - fill_) >= entries;
}

void PortRecorder::NoteOther(std::uint16_t port, std::uint8_t flags, std::uint16_t value, std::uint64_t ns) {
  if (end_ - fill_ < 3 && !Refill(3)) return;
  PutRepeat();
  const auto offset = static_cast<std::uint16_t>(port - base_);
  const std::uint8_t reg = offset < 5                     ? static_cast<std::uint8_t>(offset)
                           : offset == record::kEcrOffset ? record::kEcrRegister
                                                          : record::kOtherPort;
  fill_[0] = kLongAccess << 32 | std::uint64_t{static_cast<std::uint8_t>(flags | reg)} << 40 |
             std::uint64_t{value} << 48 | port;
  fill_[1] = ns;
  fill_ += 2;
  recent_[noted_++ & kRecentMask] = kNoEntry | std::uint64_t{flags} << 40;
  repeatFrom_ = noted_;
  lastNs_ = ns;
}

void PortRecorder::NoteText(std::uint64_t entry, std::uint64_t ns, std::string_view text) {
  const bool timed = static_cast<std::uint8_t>(entry >> 32) == kMarkEntry;
  const std::size_t count = 1 + 1 + (timed ? 1 : 0) + (text.size() + 7) / 8;
  if (static_cast<std::size_t>(end_ - fill_) < count && !Refill(count)) return;
  PutRepeat();  // the accesses before the mark
  *fill_++ = entry | text.size();
  if (timed) *fill_++ = ns;
  std::memcpy(fill_, text.data(), text.size());
  fill_ += (text.size() + 7) / 8;
  lastNs_ = ns;
}

void PortRecorder::Mark(record::Mark kind, std::string_view text) {
  if (!noting_) return;
  NoteText(kMarkEntry << 32 | std::uint64_t{static_cast<std::uint8_t>(kind)} << 40, inner_->ClockNs(),
           text.substr(0, 1000));
  if (!noting_) return;
  HandOver(false);
  WaitWritten();
}

void PortRecorder::HandOver(bool last) {
  // A run goes on only in the buffer it began in; nothing after a mark (which hands its buffer
  // over) joins a run before it.
  runNoted_ = ~std::uint64_t{0};
  std::unique_lock<std::mutex> lock(handOver_);
  handed_.push_back({noting_ ? current_ : kBuffers,
                     noting_ ? static_cast<std::size_t>(fill_ - buffers_[current_].get()) : 0, last});
  changed_.notify_all();
  fill_ = end_ = nullptr;
  if (!last) {
    changed_.wait(lock, [this] { return freeCount_ != 0 || stopped_; });
    if (!stopped_) {
      current_ = free_[--freeCount_];
      fill_ = buffers_[current_].get();
      end_ = fill_ + kEntries;
      return;
    }
  }
  noting_ = false;
}

void PortRecorder::WaitWritten() {
  std::unique_lock<std::mutex> lock(handOver_);
  changed_.wait(lock, [this] { return handed_.empty(); });
}

bool PortRecorder::Close(std::string& error) {
  if (file_ == nullptr) return writeError_.empty();
  if (notedByInner_) {
    inner_->NotesInto(nullptr);
    notedByInner_ = false;
  }
  if (noting_ && (end_ != fill_ || Refill(1))) PutRepeat();  // the last accesses
  HandOver(true);
  WaitWritten();
  {
    std::lock_guard<std::mutex> lock(handOver_);
    quit_ = true;
  }
  changed_.notify_all();
  thread_.join();
  if (std::fclose(file_) != 0 && writeError_.empty()) writeError_ = std::strerror(errno);
  file_ = nullptr;
  error = writeError_;
  return writeError_.empty();
}

// ---- The recorder's thread ----

void PortRecorder::Run() {
  for (;;) {
    std::unique_lock<std::mutex> lock(handOver_);
    changed_.wait(lock, [this] { return !handed_.empty() || quit_; });
    if (handed_.empty()) return;
    const Handed handed = handed_.front();
    const bool stopped = stopped_;
    lock.unlock();
    // The buffer is this thread's until it is back among the free ones.
    if (!stopped && handed.buffer < kBuffers) Take(buffers_[handed.buffer].get(), handed.count);
    if (!stopped && !finished_) {
      if (handed.last && keyRepeat_ != 0 && Room(kLongestAccess))
        byteFill_ = static_cast<std::size_t>(PutKeyRepeat(bytes_.get() + byteFill_) - bytes_.get());
      if (handed.last || byteFill_ != 0) Deflate(handed.last);
    }
    lock.lock();
    if (finished_) stopped_ = true;
    if (handed.buffer < kBuffers) free_[freeCount_++] = handed.buffer;
    handed_.pop_front();
    changed_.notify_all();
  }
}

void PortRecorder::Take(const std::uint64_t* entries, std::size_t count) {
  for (std::size_t i = 0; i < count && !finished_;) {
    const std::uint64_t entry = entries[i];
    const auto tag = static_cast<std::uint8_t>(entry >> 32);
    if ((tag & record::kMarkFlag) == 0) {
      if (!Append(entry)) TakeAccess(entry);
      ++i;
      continue;
    }
    const auto length = static_cast<std::uint32_t>(entry);
    const char* text = reinterpret_cast<const char*>(entries + i + 1);
    switch (tag) {
      case kRepeatEntry: {
        const std::uint64_t period = (entry >> 40) & 0xFF;
        const std::uint64_t count = length | (entry >> 48) << 32;
        if (!TakeRepeat(period, count))
          for (std::uint64_t n = 0; n < count && !finished_; ++n)
            TakeAccess(replay_[(taken_ - period) & kRecentMask]);
        ++i;
        break;
      }
      case kRunEntry: {
        const auto tagWithoutTime = static_cast<std::uint8_t>(entry >> 40);
        const std::size_t width = (tagWithoutTime & record::kWordFlag) != 0 ? 2 : 1;
        TakeRun(tagWithoutTime, entries[i + 1], reinterpret_cast<const std::uint8_t*>(entries + i + 2),
                length);
        i += 2 + (length * width + 7) / 8;
        break;
      }
      case kCodeRepeatEntry: {
        const std::uint64_t period = (entry >> 40) & 0xFF;
        const std::uint64_t count = length | (entry >> 48) << 32;
        if (period == 0 || period > taken_) {  // never written so: nothing to copy
          ++i;
          break;
        }
        // The first began as the access before it ended, whatever the one it repeats came after.
        const std::uint64_t copied = replay_[(taken_ - period) & kRecentMask];
        const std::uint64_t sinceNs = NsAfter(codeByteNs_, replay_[(taken_ - 1) & kRecentMask]);
        TakeAccess((copied & ~std::uint64_t{0xFFFFFFFF}) | sinceNs);
        if (count > 1 && !TakeRepeat(period, count - 1))
          for (std::uint64_t n = 1; n < count && !finished_; ++n)
            TakeAccess(replay_[(taken_ - period) & kRecentMask]);
        ++i;
        break;
      }
      case kByteNsEntry:
        codeByteNs_ = length;
        ++i;
        break;
      case kLongAccess:
        replay_[taken_ & kRecentMask] = kNoEntry | (entry >> 40 & 0xFF) << 40;
        ns_ = entries[i + 1];
        Put(static_cast<std::uint8_t>(entry >> 40), static_cast<std::uint16_t>(entry),
            static_cast<std::uint16_t>(entry >> 48));
        cleanFrom_ = taken_;
        i += 2;
        break;
      case kMarkEntry:
        ns_ = entries[i + 1];
        PutText(static_cast<std::uint8_t>(record::kMarkFlag | static_cast<std::uint8_t>(entry >> 40)),
                std::string_view(text + 8, length));
        i += 2 + (length + 7) / 8;
        break;
      default:  // kTextEntry
        PutText(0, std::string_view(text, length));
        i += 1 + (length + 7) / 8;
        break;
    }
  }
}

static_assert(PortRecorder::kHistoryEntries == record::kHistory, "both histories count the same accesses");

// A run of the tape's: `times` holds the nanoseconds before its first access (bits 0-31) and
// between the others (bits 32-63).
void PortRecorder::TakeRun(std::uint8_t tagWithoutTime, std::uint64_t times, const std::uint8_t* values,
                           std::size_t count) {
  const std::size_t width = (tagWithoutTime & record::kWordFlag) != 0 ? 2 : 1;
  const std::uint64_t tag = std::uint64_t{tagWithoutTime} << 32;
  const auto stepNs = static_cast<std::uint32_t>(times >> 32);
  for (std::size_t n = 0; n < count && !finished_;) {
    const std::uint64_t value = width == 2 ? values[2 * n] | values[2 * n + 1] << 8 : values[n];
    const std::uint64_t entry = (n == 0 ? times & 0xFFFFFFFFu : stepNs) | tag | value << 48;
    if (!Append(entry)) TakeAccess(entry);
    ++n;
    if (n < count) n += AppendValues(tagWithoutTime, stepNs, values + n * width, count - n);
  }
}

// The run's values from here on join the run of values under way, as many as go on from it
// without a step of Put's (Append's conditions, checked once for them all): a block's words
// cost this thread a few instructions each. Returns how many it took.
std::size_t PortRecorder::AppendValues(std::uint8_t tagWithoutTime, std::uint32_t stepNs,
                                       const std::uint8_t* values, std::size_t count) {
  if (stepNs % 1000 != 0 || stepNs - 1000 >= 2000) return 0;
  const auto tag = static_cast<std::uint8_t>(tagWithoutTime | (stepNs / 1000) << record::kTimeShift);
  if (tag != groupTag_ || groupEnd_ != byteFill_ || groupCount_ < 2 || keyRepeat_ != 0 || finished_) return 0;
  if (ns_ < startNs_ || (ns_ - startNs_) / 1000 != lastUs_) return 0;
  const std::size_t width = (tag & record::kWordFlag) != 0 ? 2 : 1;
  const std::size_t most =
      std::min({count, (flushAt_ - byteFill_) / width, std::size_t{record::kLongestValueRun - groupCount_}});
  std::uint8_t* const out = bytes_.get() + byteFill_;
  std::size_t k = 0;
  for (; k < most; ++k) {
    const std::uint32_t value = width == 2 ? values[2 * k] | values[2 * k + 1] << 8 : values[k];
    const std::uint32_t key = tag | value << 8;  // the key of an access in a run of values
    const std::uint64_t at = taken_ + k;
    if (key == history_[(at - keyPeriod_) & record::kHistoryMask]) break;
    history_[at & record::kHistoryMask] = key;
    out[width * k] = values[width * k];
    if (width == 2) out[2 * k + 1] = values[2 * k + 1];
  }
  if (k == 0) return 0;
  // The tape's history: the entries these accesses would have had one by one, the last of them.
  const std::uint64_t entryTag = std::uint64_t{tagWithoutTime} << 32 | stepNs;
  for (std::size_t i = k > kRecent ? k - kRecent : 0; i < k; ++i) {
    const std::uint64_t value = width == 2 ? values[2 * i] | values[2 * i + 1] << 8 : values[i];
    replay_[(taken_ + i) & kRecentMask] = entryTag | value << 48;
  }
  taken_ += k;
  byteFill_ += width * k;
  groupEnd_ = byteFill_;
  groupCount_ += static_cast<std::uint32_t>(k);
  bytes_[groupAt_ + 2] = static_cast<std::uint8_t>(groupCount_);
  ns_ += std::uint64_t{stepNs} * k;
  lastUs_ += std::uint64_t{stepNs / 1000} * k;
  return k;
}

// An access that comes a whole 1 or 2 us after the one before, with the same tag as the run of
// values that the accesses before it are (Put made it), and that neither repeats the access a
// period before nor needs a new piece of the buffer: its value only joins that run, in two
// stores, without Put's steps. Word after word of a block's data goes this way. False, with
// nothing taken, for any other.
bool PortRecorder::Append(std::uint64_t entry) {
  const auto sinceNs = static_cast<std::uint32_t>(entry);
  const auto tag = static_cast<std::uint8_t>(static_cast<std::uint8_t>(entry >> 32) |
                                             (sinceNs / 1000) << record::kTimeShift);
  if (tag != groupTag_ || groupEnd_ != byteFill_ || groupCount_ < 2 ||
      groupCount_ >= record::kLongestValueRun || keyRepeat_ != 0)
    return false;
  if (sinceNs % 1000 != 0 || sinceNs - 1000 >= 2000) return false;
  // The record's microseconds follow the port's clock step for step (Put has not held them back).
  if (ns_ < startNs_ || (ns_ - startNs_) / 1000 != lastUs_) return false;
  const bool word = (tag & record::kWordFlag) != 0;
  if (byteFill_ + (word ? 2 : 1) > flushAt_) return false;
  const auto value = static_cast<std::uint16_t>(entry >> 48);
  const std::uint32_t key = record::RepeatKey(tag, value);
  if (key == history_[(taken_ - keyPeriod_) & record::kHistoryMask]) return false;
  std::uint8_t* const bytes = bytes_.get();
  bytes[byteFill_++] = static_cast<std::uint8_t>(value);
  if (word) bytes[byteFill_++] = static_cast<std::uint8_t>(value >> 8);
  bytes[groupAt_ + 2] = static_cast<std::uint8_t>(++groupCount_);
  groupEnd_ = byteFill_;
  replay_[taken_ & kRecentMask] = entry;
  history_[taken_++ & record::kHistoryMask] = key;
  ns_ += sinceNs;
  lastUs_ += sinceNs / 1000;
  return true;
}

// A repeat of the tape's, taken whole. When every access of its period came a whole 0, 1 or 2 us
// after the one before (the virtual cart's are 1 us a byte), each repeated access also has the key
// of the one a period before, and the record repeats it the same way: the repeat costs this
// thread the period and the histories' last entries, not a step per access. False otherwise.
bool PortRecorder::TakeRepeat(std::uint64_t period, std::uint64_t count) {
  if (finished_ || ns_ < startNs_ || period == 0 || period > taken_ || taken_ - period < cleanFrom_)
    return false;
  // The accesses a period back that the repeat copies: the whole period, or fewer for a short one.
  const std::uint64_t from = taken_ - period;
  const std::uint64_t used = std::min(period, count);
  std::uint64_t usedNs = 0;
  for (std::uint64_t p = 0; p < used; ++p)
    usedNs += static_cast<std::uint32_t>(replay_[(from + p) & kRecentMask]);
  if (keyRepeat_ != 0 && keyPeriod_ != period) {
    if (!Room(kLongestAccess)) return true;
    byteFill_ = static_cast<std::size_t>(PutKeyRepeat(bytes_.get() + byteFill_) - bytes_.get());
  }
  keyPeriod_ = static_cast<std::uint32_t>(period);
  keyRepeat_ += count;
  if (count < period) {
    ns_ += usedNs;
  } else {
    ns_ += count / period * usedNs;
    for (std::uint64_t p = 0; p < count % period; ++p)
      ns_ += static_cast<std::uint32_t>(replay_[(from + p) & kRecentMask]);
  }
  lastUs_ = (ns_ - startNs_) / 1000;
  // Only the histories' last entries are ever looked at again: the repeat's last (at most a
  // history's worth), laid out in a row from the period's entries by doubling, then copied in.
  const std::size_t length = static_cast<std::size_t>(std::min<std::uint64_t>(count, kRecent));
  std::size_t p = static_cast<std::size_t>((count - length) % period);
  std::uint64_t row[kRecent];
  std::uint32_t rowKeys[kRecent];
  std::size_t have = std::min<std::size_t>(length, static_cast<std::size_t>(period));
  for (std::size_t k = 0; k < have; ++k) {
    row[k] = replay_[(from + p) & kRecentMask];
    rowKeys[k] = history_[(from + p) & record::kHistoryMask];
    if (++p == period) p = 0;
  }
  for (; have < length; have *= 2) {  // the row so far is whole periods: it repeats as it stands
    const std::size_t n = std::min(have, length - have);
    std::memcpy(row + have, row, n * sizeof row[0]);
    std::memcpy(rowKeys + have, rowKeys, n * sizeof rowKeys[0]);
  }
  const std::uint64_t end = taken_ + count;
  const auto at = static_cast<std::size_t>((end - length) & kRecentMask);
  const std::size_t first = std::min(length, kRecent - at);
  std::memcpy(replay_ + at, row, first * sizeof row[0]);
  std::memcpy(replay_, row + first, (length - first) * sizeof row[0]);
  std::memcpy(history_ + at, rowKeys, first * sizeof rowKeys[0]);
  std::memcpy(history_, rowKeys + first, (length - first) * sizeof rowKeys[0]);
  taken_ = end;
  return true;
}

// One access in the record's format: when it is the same as the one a period before, it only adds
// to the repeat under way; otherwise it is written out, after that repeat, and the period the next
// access is compared at is chosen as on the tape.
void PortRecorder::Put(std::uint8_t tagWithoutTime, std::uint16_t port, std::uint16_t value) {
  std::uint64_t us = ns_ > startNs_ ? (ns_ - startNs_) / 1000 : 0;
  if (us < lastUs_) us = lastUs_;  // a clock never runs back; a back end's might
  const std::uint64_t delta = us - lastUs_;
  lastUs_ = us;
  std::uint8_t tag = tagWithoutTime;
  tag |= static_cast<std::uint8_t>((delta < 3 ? delta : 3) << record::kTimeShift);
  const std::uint32_t key = record::RepeatKey(tag, value);
  if (key != record::kNoKey && key == history_[(taken_ - keyPeriod_) & record::kHistoryMask]) {
    history_[taken_++ & record::kHistoryMask] = key;
    ++keyRepeat_;
    return;
  }
  if (!Room(kLongestAccess)) return;
  const std::uint64_t held = keyRepeat_;
  std::uint8_t* const bytes = bytes_.get();
  std::uint8_t* const out = PutKeyRepeat(bytes + byteFill_);
  std::uint8_t* p = out + 1;
  if (static_cast<std::size_t>(out - bytes) == groupEnd_ && tag == groupTag_ &&
      groupCount_ < record::kLongestValueRun) {
    // Right after an access with the same tag: the two (or the run so far) become a run of
    // values, and this access adds its value to it.
    std::uint8_t* const group = bytes + groupAt_;
    if (groupCount_ == 1) {
      const std::size_t width = (tag & record::kWordFlag) != 0 ? 2 : 1;
      std::memmove(group + 3, group + 1, width);
      group[0] = record::kValuesTag;
      group[1] = tag;
      p = group + 3 + width;
    } else {
      p = out;
    }
    group[2] = static_cast<std::uint8_t>(++groupCount_);
  } else {
    if ((tag & record::kRegisterMask) == record::kOtherPort) {
      *p++ = static_cast<std::uint8_t>(port);
      *p++ = static_cast<std::uint8_t>(port >> 8);
    }
    if (delta >= 3) p = PutVarint(p, delta);
    *out = tag;
    groupAt_ = static_cast<std::size_t>(out - bytes);
    groupTag_ = tag;
    groupCount_ = 1;
  }
  *p++ = static_cast<std::uint8_t>(value);
  if (tag & record::kWordFlag) *p++ = static_cast<std::uint8_t>(value >> 8);
  byteFill_ = static_cast<std::size_t>(p - bytes);
  // Only an access with a key (a tag alone says all but its value) can be a run's.
  groupEnd_ = key != record::kNoKey ? byteFill_ : kNoGroup;

  const auto at = static_cast<std::uint32_t>(taken_);
  history_[at & record::kHistoryMask] = key;
  if (key != record::kNoKey) {
    std::uint32_t& last = keyAt_[(key * 0x9E3779B1u) >> kHashShift];
    keyPeriod_ = record::NextPeriod(history_, taken_, keyPeriod_, at - last, held);
    last = at;
  }
  ++taken_;
}

std::uint8_t* PortRecorder::PutKeyRepeat(std::uint8_t* p) {
  if (keyRepeat_ == 0) return p;
  *p++ = record::kRepeatTag;
  p = PutVarint(p, keyPeriod_);
  p = PutVarint(p, keyRepeat_);
  keyRepeat_ = 0;
  return p;
}

std::uint8_t* PortRecorder::PutVarint(std::uint8_t* p, std::uint64_t v) {
  while (v >= 0x80) {
    *p++ = static_cast<std::uint8_t>(v | 0x80);
    v >>= 7;
  }
  *p++ = static_cast<std::uint8_t>(v);
  return p;
}

// A mark (with its tag: the repeat under way before it, the time since the record before), or
// the header's text as it stands (without).
void PortRecorder::PutText(std::uint8_t markTag, std::string_view text) {
  if (!Room(kLongestAccess + 20 + text.size())) return;
  std::uint8_t* p = PutKeyRepeat(bytes_.get() + byteFill_);
  if (markTag != 0) {
    const std::uint64_t us = ns_ > startNs_ ? std::max((ns_ - startNs_) / 1000, lastUs_) : lastUs_;
    *p++ = markTag;
    p = PutVarint(p, us - lastUs_);
    p = PutVarint(p, text.size());
    lastUs_ = us;
  }
  std::memcpy(p, text.data(), text.size());
  byteFill_ = static_cast<std::size_t>(p - bytes_.get()) + text.size();
}

bool PortRecorder::Room(std::size_t bytes) {
  if (finished_) return false;
  if (byteFill_ + bytes <= flushAt_) return true;
  Deflate(false);
  if (finished_) return false;
  if (byteFill_ + bytes <= flushAt_) return true;
  // Not even an empty buffer holds it before the limit.
  StopAtLimit();
  return false;
}

void PortRecorder::Deflate(bool last) {
  Compress(bytes_.get(), byteFill_, last);
  byteFill_ = 0;
  groupEnd_ = kNoGroup;
  if (!writeError_.empty()) {
    // The file takes no more: the record ends, the command goes on.
    finished_ = true;
    return;
  }
  written_ = taken_ - keyRepeat_;
  if (last) {
    finished_ = true;
    return;
  }
  // The next piece is compressed early enough that even incompressible records fit in what is
  // left, with room kept for the closing mark.
  const std::uint64_t used = fileBytes_ + kReserveBytes;
  const std::uint64_t room = limitBytes_ > used ? limitBytes_ - used : 0;
  std::size_t next = kBytes;
  while (next > 64 && WorstCase(next) > room) next = next / 2;
  if (next > 64)
    flushAt_ = next;
  else
    StopAtLimit();
}

void PortRecorder::StopAtLimit() {
  // The accesses of the repeat under way came after everything written, before the limit was
  // met: they are in the record, then the mark saying it ends here.
  reachedLimit_ = true;
  const std::string why = "the record reached its limit of " + std::to_string(limitBytes_) + " bytes";
  std::uint8_t* p = PutKeyRepeat(bytes_.get());
  *p++ = static_cast<std::uint8_t>(record::kMarkFlag | static_cast<std::uint8_t>(record::Mark::Stopped));
  p = PutVarint(p, 0);
  p = PutVarint(p, why.size());
  std::memcpy(p, why.data(), why.size());
  byteFill_ = static_cast<std::size_t>(p - bytes_.get()) + why.size();
  Compress(bytes_.get(), byteFill_, true);
  byteFill_ = 0;
  groupEnd_ = kNoGroup;
  if (writeError_.empty()) written_ = taken_;
  finished_ = true;
}

void PortRecorder::Compress(const std::uint8_t* data, std::size_t size, bool last) {
  if (!writeError_.empty()) return;
  z_stream& z = z_->z;
  z.next_in = const_cast<std::uint8_t*>(data);
  z.avail_in = static_cast<uInt>(size);
  const auto outSize = static_cast<uInt>(WorstCase(kBytes));
  const std::uint64_t before = fileBytes_;
  do {
    z.next_out = out_.get();
    z.avail_out = outSize;
    if (deflate(&z, last ? Z_FINISH : Z_SYNC_FLUSH) == Z_STREAM_ERROR) {
      writeError_ = "zlib failed";
      return;
    }
    if (!WriteOut(outSize - z.avail_out)) return;
  } while (z.avail_out == 0);
  // A piece that the Huffman codes did not shrink by 3% (the data of a block read back, when the
  // game is noise to them) costs the coder its time for nothing: the next pieces are stored as
  // they stand, and after kStoredPieces the codes are tried again. zlib takes the new setting at
  // the start of the next piece, each piece having ended with a flush.
  if (!last) {
    const bool shrank = (fileBytes_ - before) * 100 < size * 97;
    if (storedLeft_ == 0 && !shrank && size >= kBytes / 2) {
      storedLeft_ = kStoredPieces;
      if (!SetLevel(Z_NO_COMPRESSION, Z_DEFAULT_STRATEGY)) return;
    } else if (storedLeft_ != 0 && --storedLeft_ == 0) {
      if (!SetLevel(Z_BEST_SPEED, Z_HUFFMAN_ONLY)) return;
    }
  }
  // On the disk's way: a process that is killed now leaves this much behind.
  if (std::fflush(file_) != 0) writeError_ = std::strerror(errno);
}

bool PortRecorder::SetLevel(int level, int strategy) {
  z_stream& z = z_->z;
  const auto outSize = static_cast<uInt>(WorstCase(kBytes));
  z.next_out = out_.get();
  z.avail_out = outSize;
  if (deflateParams(&z, level, strategy) != Z_OK) {
    writeError_ = "zlib failed";
    return false;
  }
  return WriteOut(outSize - z.avail_out);
}

bool PortRecorder::WriteOut(std::size_t bytes) {
  if (bytes != 0 && std::fwrite(out_.get(), 1, bytes, file_) != bytes) {
    writeError_ = std::strerror(errno);
    return false;
  }
  fileBytes_ += bytes;
  return true;
}

}  // namespace brevomat
