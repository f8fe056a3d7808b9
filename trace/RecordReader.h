// Reading a record of port accesses (port/PortRecorder.h) back: its header, then its accesses and
// marks one by one. A record that ends early (the program was killed, the disk was full) gives
// everything up to its last flush and says that it was cut short.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "port/PortRecorder.h"

namespace brevomat::trace {

struct Access {
  std::uint64_t seq = 0;   // 1 for the first access of the record
  std::uint64_t us = 0;    // microseconds since the record started
  std::uint8_t reg = 0;    // 0-4: base+0 .. base+4; record::kEcrRegister; record::kOtherPort
  std::uint16_t port = 0;  // the address, for record::kOtherPort
  bool write = false;
  bool word = false;
  std::uint16_t value = 0;
  bool IsRead(std::uint8_t r) const { return !write && reg == r; }
  bool IsWrite(std::uint8_t r) const { return write && reg == r; }
};

struct Event {
  bool isMark = false;
  Access access;  // when !isMark
  record::Mark mark = record::Mark::Note;
  std::uint64_t us = 0;  // of the mark
  std::string text;      // of the mark
};

class RecordReader {
 public:
  RecordReader();
  ~RecordReader();
  RecordReader(const RecordReader&) = delete;
  RecordReader& operator=(const RecordReader&) = delete;

  // Opens the record and reads its header. False, with the reason in `error`, when it is no record.
  bool Open(const std::string& path, std::string& error);
  const std::vector<std::pair<std::string, std::string>>& Header() const { return header_; }
  std::string HeaderValue(const std::string& name) const;

  // The next access or mark; false at the end of the record.
  bool Next(Event& event);
  // The record ended before its stream did (a run that was killed, a full disk), or its data broke
  // off: what came before is all there is. Known once Next has returned false.
  bool CutShort() const { return cutShort_; }
  const std::string& Problem() const { return problem_; }

 private:
  struct Inflater;
  // Makes `bytes` bytes available at pos_; false when the record ends before.
  bool Need(std::size_t bytes);
  bool Varint(std::uint64_t& value);
  // The record's data cannot be right from here on: the end, cut short.
  bool Damaged();

  std::FILE* file_ = nullptr;
  std::unique_ptr<Inflater> z_;
  std::vector<std::uint8_t> in_;
  std::vector<std::uint8_t> data_;
  std::size_t pos_ = 0, end_ = 0;
  bool streamEnded_ = false;
  bool cutShort_ = false;
  std::string problem_;
  std::vector<std::pair<std::string, std::string>> header_;
  std::uint64_t seq_ = 0;
  std::uint64_t us_ = 0;
  // The repeat: the last accesses' keys (as the recorder keeps them), and what is left of the
  // repeat under way.
  std::uint32_t history_[record::kHistory];
  std::uint64_t period_ = 1;
  std::uint64_t repeatLeft_ = 0;
  std::uint8_t valuesTag_ = 0;  // the run of values under way: its accesses' tag, how many are left
  std::uint32_t valuesLeft_ = 0;
  // The access whose key is `key`, as the next one.
  void Repeated(std::uint32_t key, Access& a);
};

}  // namespace brevomat::trace
