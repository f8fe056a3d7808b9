#include "trace/RecordReader.h"

#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "base/FileAccess.h"

namespace brevomat::trace {

namespace {
constexpr std::size_t kInBytes = 64 * 1024;
constexpr std::size_t kDataBytes = 256 * 1024;
}  // namespace

struct RecordReader::Inflater {
  z_stream z = {};
  bool ready = false;
  ~Inflater() {
    if (ready) inflateEnd(&z);
  }
};

RecordReader::RecordReader() { std::fill(std::begin(history_), std::end(history_), record::kNoKey); }

RecordReader::~RecordReader() {
  if (file_ != nullptr) std::fclose(file_);
}

bool RecordReader::Open(const std::string& path, std::string& error) {
  errno = 0;
  file_ = OpenRegularFile(path.c_str());
  if (file_ == nullptr) {
    error = errno == EINVAL ? "it is not a regular file" : std::strerror(errno);
    return false;
  }
  z_ = std::make_unique<Inflater>();
  // 15 + 32: a zlib or gzip stream, whichever the file holds.
  if (inflateInit2(&z_->z, 15 + 32) != Z_OK) {
    error = "zlib cannot start a stream";
    return false;
  }
  z_->ready = true;
  in_.resize(kInBytes);
  data_.resize(kDataBytes);
  const std::string_view magic = record::kMagic;
  const auto begins = [this](std::string_view m) {
    return std::memcmp(data_.data() + pos_, m.data(), m.size()) == 0;
  };
  static_assert(record::kMagic.size() == record::kMagicWithoutRepeats.size());
  static_assert(record::kMagic.size() == record::kMagicWithoutValueRuns.size());
  if (!Need(magic.size()) ||
      !(begins(magic) || begins(record::kMagicWithoutValueRuns) || begins(record::kMagicWithoutRepeats))) {
    error = "it is not a record of port accesses (brevomat --trace writes them)";
    return false;
  }
  pos_ += magic.size();
  // "name: value" lines up to an empty line.
  for (;;) {
    std::string line;
    for (;;) {
      if (!Need(1)) {
        error = "its header is cut short";
        return false;
      }
      const char c = static_cast<char>(data_[pos_++]);
      if (c == '\n') break;
      if (line.size() < 4096) line += c;
    }
    if (line.empty()) break;
    const std::size_t colon = line.find(": ");
    if (colon == std::string::npos)
      header_.emplace_back(line, "");
    else
      header_.emplace_back(line.substr(0, colon), line.substr(colon + 2));
  }
  return true;
}

std::string RecordReader::HeaderValue(const std::string& name) const {
  for (const auto& [key, value] : header_)
    if (key == name) return value;
  return {};
}

bool RecordReader::Need(std::size_t bytes) {
  while (end_ - pos_ < bytes) {
    if (streamEnded_) return false;
    // Keep what is left at the front and inflate more behind it.
    std::memmove(data_.data(), data_.data() + pos_, end_ - pos_);
    end_ -= pos_;
    pos_ = 0;
    z_stream& z = z_->z;
    if (z.avail_in == 0) {
      const std::size_t got = std::fread(in_.data(), 1, in_.size(), file_);
      if (got == 0) {
        // The file ends inside the stream: the run that wrote it did not close it.
        streamEnded_ = cutShort_ = true;
        if (problem_.empty()) problem_ = "the record ends before its end mark (the run was killed?)";
        return false;
      }
      z.next_in = in_.data();
      z.avail_in = static_cast<uInt>(got);
    }
    z.next_out = data_.data() + end_;
    z.avail_out = static_cast<uInt>(data_.size() - end_);
    const int result = inflate(&z, Z_NO_FLUSH);
    end_ = data_.size() - z.avail_out;
    if (result == Z_STREAM_END) {
      streamEnded_ = true;
    } else if (result != Z_OK && result != Z_BUF_ERROR) {
      Damaged();
    }
  }
  return true;
}

bool RecordReader::Varint(std::uint64_t& value) {
  value = 0;
  for (unsigned shift = 0; shift < 64; shift += 7) {
    if (!Need(1)) return false;
    const std::uint8_t byte = data_[pos_++];
    value |= std::uint64_t{byte & 0x7Fu} << shift;
    if ((byte & 0x80) == 0) return true;
  }
  return false;
}

bool RecordReader::Damaged() {
  streamEnded_ = cutShort_ = true;
  problem_ = "the record's data is damaged after this point";
  return false;
}

void RecordReader::Repeated(std::uint32_t key, Access& a) {
  const auto tag = static_cast<std::uint8_t>(key);
  a.reg = tag & record::kRegisterMask;
  a.write = (tag & record::kWriteFlag) != 0;
  a.word = (tag & record::kWordFlag) != 0;
  a.port = 0;
  a.value = static_cast<std::uint16_t>(key >> 8);
  history_[seq_ & record::kHistoryMask] = key;
  us_ += (tag >> record::kTimeShift) & 3u;
  a.us = us_;
  a.seq = ++seq_;
}

bool RecordReader::Next(Event& event) {
  if (repeatLeft_ != 0) {
    const std::uint32_t key = history_[(seq_ - period_) & record::kHistoryMask];
    if (key == record::kNoKey) {
      // Only a damaged record repeats what cannot be repeated.
      repeatLeft_ = 0;
      return Damaged();
    }
    --repeatLeft_;
    event.isMark = false;
    Repeated(key, event.access);
    return true;
  }
  if (valuesLeft_ != 0) {
    const std::size_t valueBytes = (valuesTag_ & record::kWordFlag) != 0 ? 2 : 1;
    if (!Need(valueBytes)) {
      valuesLeft_ = 0;
      cutShort_ = true;
      problem_ = "the record ends in the middle of an entry";
      return false;
    }
    --valuesLeft_;
    event.isMark = false;
    Access& a = event.access;
    a.value = data_[pos_];
    if (valueBytes == 2) a.value = static_cast<std::uint16_t>(a.value | (data_[pos_ + 1] << 8));
    pos_ += valueBytes;
    Repeated(record::RepeatKey(valuesTag_, a.value), a);
    return true;
  }
  if (!Need(1)) return false;
  const std::size_t start = pos_;
  const std::uint8_t tag = data_[pos_++];
  auto broken = [this, start] {
    // A record cut in the middle is dropped; only a cut-short file has one.
    pos_ = start;
    if (!cutShort_) {
      cutShort_ = true;
      problem_ = "the record ends in the middle of an entry";
    }
    return false;
  };
  if (tag & record::kMarkFlag) {
    std::uint64_t delta = 0, length = 0;
    if (!Varint(delta) || !Varint(length) || length > 4096 || !Need(length)) return broken();
    us_ += delta;
    event.isMark = true;
    event.mark = static_cast<record::Mark>(tag & 0x7F);
    event.us = us_;
    event.text.assign(reinterpret_cast<const char*>(data_.data() + pos_), length);
    pos_ += length;
    return true;
  }
  if (tag == record::kValuesTag) {
    if (!Need(2)) return broken();
    const std::uint8_t accessTag = data_[pos_];
    const std::uint8_t count = data_[pos_ + 1];
    pos_ += 2;
    // Its accesses are ones a tag alone describes, all but the value.
    if (count == 0 || (accessTag & record::kMarkFlag) != 0 ||
        record::RepeatKey(accessTag, 0) == record::kNoKey)
      return Damaged();
    valuesTag_ = accessTag;
    valuesLeft_ = count;
    return Next(event);
  }
  if ((tag & record::kRegisterMask) == record::kRepeatTag) {
    if (tag != record::kRepeatTag) return Damaged();
    std::uint64_t period = 0, count = 0;
    if (!Varint(period) || !Varint(count)) return broken();
    if (period == 0 || period >= record::kHistory || period > seq_ || count == 0) return Damaged();
    period_ = period;
    repeatLeft_ = count;
    return Next(event);
  }
  Access& a = event.access;
  event.isMark = false;
  a.reg = tag & record::kRegisterMask;
  a.write = (tag & record::kWriteFlag) != 0;
  a.word = (tag & record::kWordFlag) != 0;
  a.port = 0;
  if (a.reg == record::kOtherPort) {
    if (!Need(2)) return broken();
    a.port = static_cast<std::uint16_t>(data_[pos_] | (data_[pos_ + 1] << 8));
    pos_ += 2;
  }
  std::uint64_t delta = (tag >> record::kTimeShift) & 3u;
  if (delta == 3 && !Varint(delta)) return broken();
  const std::size_t valueBytes = a.word ? 2 : 1;
  if (!Need(valueBytes)) return broken();
  a.value = data_[pos_];
  if (a.word) a.value = static_cast<std::uint16_t>(a.value | (data_[pos_ + 1] << 8));
  pos_ += valueBytes;
  history_[seq_ & record::kHistoryMask] = record::RepeatKey(tag, a.value);
  us_ += delta;
  a.us = us_;
  a.seq = ++seq_;
  return true;
}

}  // namespace brevomat::trace
