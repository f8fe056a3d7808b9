// The record's own format, made and read back: every access that went in comes out as it went in
// (register, direction, width, value, microseconds), whether the back end notes its accesses
// itself or the recorder is wrapped around it, through the repeats a status poll makes, the
// times that are not whole microseconds, the long pauses, other ports and marks. And records
// written by hand: the first format still reads, a damaged repeat ends the record.
#include <gtest/gtest.h>
#include <unistd.h>
#include <zlib.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "port/PortRecorder.h"
#include "trace/RecordReader.h"

namespace brevomat {
namespace {

constexpr std::uint16_t kBase = 0x378;

struct Made {
  std::uint16_t port;
  bool write;
  bool word;
  std::uint16_t value;
  std::uint64_t ns;     // when it began, on the port's clock
  std::string mark;     // a mark instead of an access, when not empty
  std::size_t run = 0;  // the first access of a run of this many, made with one call
};

// How the back end's accesses reach the tape: noted by the back end with their times, noted by
// their codes as the virtual adapter does (a clock that moves a byte cycle of 1 us an access,
// broken where the script's does not), or by the recorder wrapped around it.
enum class Noting { Timed, Coded, Wrapped };

// A back end that reads what it is told to and runs on a clock the test sets.
class Scripted final : public PortBackend {
 public:
  explicit Scripted(Noting noting) : noting_(noting), notes_(noting != Noting::Wrapped) {}
  std::uint64_t now = 0;
  std::uint16_t answer = 0;
  std::vector<std::uint16_t> answers;  // a run's
  std::uint32_t stepNs = 0;            // between the accesses of a run
  std::uint8_t ReadByte(std::uint16_t port) override {
    Noted(port, 0, answer);
    return static_cast<std::uint8_t>(answer);
  }
  void WriteByte(std::uint16_t port, std::uint8_t value) override { Noted(port, record::kWriteFlag, value); }
  std::uint16_t ReadWord(std::uint16_t port) override {
    Noted(port, record::kWordFlag, answer);
    return answer;
  }
  void WriteWord(std::uint16_t port, std::uint16_t value) override {
    Noted(port, record::kWriteFlag | record::kWordFlag, value);
  }
  void ReadBytes(std::uint16_t port, std::uint8_t* bytes, std::size_t count) override {
    for (std::size_t i = 0; i < count; ++i) bytes[i] = static_cast<std::uint8_t>(answers[i]);
    NotedRun(port, 0, bytes, count);
  }
  void WriteBytes(std::uint16_t port, const std::uint8_t* bytes, std::size_t count) override {
    NotedRun(port, record::kWriteFlag, bytes, count);
  }
  void ReadWords(std::uint16_t port, std::uint8_t* bytes, std::size_t count) override {
    for (std::size_t i = 0; i < count; ++i) {
      bytes[2 * i] = static_cast<std::uint8_t>(answers[i]);
      bytes[2 * i + 1] = static_cast<std::uint8_t>(answers[i] >> 8);
    }
    NotedRun(port, record::kWordFlag, bytes, count);
  }
  void WriteWords(std::uint16_t port, const std::uint8_t* bytes, std::size_t count) override {
    NotedRun(port, record::kWriteFlag | record::kWordFlag, bytes, count);
  }
  std::uint64_t ClockNs() override { return now; }
  bool NotesInto(AccessTape* tape) override {
    tape_ = tape;
    if (tape != nullptr && noting_ == Noting::Coded) tape->SetByteNs(kByteNs);
    return notes_;
  }

 private:
  static constexpr std::uint64_t kByteNs = 1000;
  void Noted(std::uint16_t port, std::uint8_t flags, std::uint16_t value) {
    if (!notes_ || tape_ == nullptr) return;
    if (noting_ == Noting::Timed) {
      tape_->Note(port, flags, value, now);
      return;
    }
    if (now != endNs_) tape_->BreakCodes();
    const std::uint64_t code = AccessTape::Code(port, flags, value);
    if (!tape_->NoteCodeRepeat(code)) tape_->NoteNewCode(code, now);
    endNs_ = now + ((flags & record::kWordFlag) != 0 ? 2 : 1) * kByteNs;
  }
  void NotedRun(std::uint16_t port, std::uint8_t flags, const std::uint8_t* bytes, std::size_t count) {
    if (!notes_ || tape_ == nullptr) return;
    if (noting_ == Noting::Timed) {
      tape_->NoteRun(port, flags, bytes, count, now, stepNs);
      return;
    }
    if (now != endNs_) tape_->BreakCodes();
    tape_->NoteCodeRun(port, flags, bytes, count, now, stepNs);
    endNs_ = now + (count - 1) * stepNs + ((flags & record::kWordFlag) != 0 ? 2 : 1) * kByteNs;
  }
  Noting noting_;
  bool notes_;
  std::uint64_t endNs_ = 0;  // when the access before ended, for codes
  AccessTape* tape_ = nullptr;
};

// Accesses one after the other, each `ns` after the one before.
struct Script {
  std::vector<Made> made;
  std::uint64_t now = 0;
  void Add(std::uint16_t offset, bool write, bool word, std::uint16_t value, std::uint64_t ns) {
    now += ns;
    made.push_back({static_cast<std::uint16_t>(kBase + offset), write, word, value, now, {}});
  }
  // An access that begins as the one before it ends (a byte 1 us, a word 2 us), as on the
  // virtual cart.
  void Next(std::uint16_t offset, bool write, bool word, std::uint16_t value) {
    Add(offset, write, word, value,
        made.empty() || !made.back().mark.empty() || !made.back().word ? 1000 : 2000);
  }
  // The status poll of a flash buffer: an address load, the command, the status read.
  void Poll(std::uint16_t status, std::uint64_t ns = 1000) {
    for (std::uint8_t r = 0; r < 3; ++r) {
      Add(2, true, false, 0x01, ns);
      Add(3, true, false, r, ns);
      Add(4, true, false, 0x00, ns);
    }
    Add(3, true, false, 0x03, ns);
    Add(4, true, true, 0x0070, 2 * ns);
    Add(2, true, false, 0x00, ns);
    Add(4, false, true, status, 2 * ns);
  }
  // `count` accesses made with one call, the first `first` ns after the access before, the others
  // `step` ns apart (a wrapped back end's run is all at the time it began).
  void Run(std::uint16_t offset, bool write, bool word, std::size_t count, std::uint64_t first,
           std::uint64_t step, const std::function<std::uint16_t(std::size_t)>& value) {
    for (std::size_t i = 0; i < count; ++i)
      Add(offset, write, word, word ? value(i) : value(i) & 0xFF, i == 0 ? first : step);
    made[made.size() - count].run = count;
  }
};

struct RoundTrip {
  const char* name;
  std::function<void(Script&)> make;
  std::uint64_t atMostBytes;  // the record's size, when the repeats must keep it small (else 0)
};

const RoundTrip kRoundTrips[] = {
    {"a status poll 100000 times over, then its end",
     [](Script& s) {
       for (int i = 0; i < 100000; ++i) s.Poll(0x0000);
       s.Poll(0x0080);
       s.Poll(0x0080);
     },
     8 * 1024},
    {"periods of 1, 2 and 255 accesses, and of 300, longer than the history",
     [](Script& s) {
       for (int i = 0; i < 1000; ++i) s.Add(1, false, false, 0x80, 1000);
       for (int i = 0; i < 1000; ++i) s.Add(i % 2 ? 4 : 2, i % 2 == 0, false, 0x04, 1000);
       for (const int period : {255, 300})
         for (int i = 0; i < 5 * period; ++i)
           s.Add(4, true, true, static_cast<std::uint16_t>(i % period), 2000);
     },
     0},
    {"times that are not whole microseconds, pauses of 3 us and of 5 s",
     [](Script& s) {
       for (int i = 0; i < 3000; ++i) s.Add(i % 3, true, false, 0x55, i % 3 == 0 ? 1300 : 700);
       for (int i = 0; i < 500; ++i) s.Add(4, false, true, 0x1234, 3000);
       s.Add(0, true, false, 0x01, 5'000'000'000ull);
       for (int i = 0; i < 500; ++i) s.Add(i % 2, true, false, 0x02, 999);
     },
     0},
    {"runs of bytes and words read and written, short and long, between repeats",
     [](Script& s) {
       auto noise = [](std::size_t i) { return static_cast<std::uint16_t>(i * 2654435761u >> 13); };
       for (int i = 0; i < 50; ++i) s.Poll(0x0000);
       s.Run(4, false, true, 256, 1000, 2000, noise);  // the history's length: the poll after it
       for (int i = 0; i < 20; ++i) s.Poll(0x0000);    // finds the run there, not the poll before
       s.Run(4, true, true, 300, 1000, 2000, noise);
       s.Run(4, false, false, 3, 1000, 1000, noise);
       s.Run(4, true, false, 5000, 2000, 1000,
             [](std::size_t i) { return static_cast<std::uint16_t>(i % 256); });
       s.Run(4, false, true, 100, 1000, 1500, noise);
       for (int i = 0; i < 50; ++i) s.Poll(0x0000);
       s.Run(4, false, true, 16, 1000, 2000, [](std::size_t) { return std::uint16_t{0xFFFF}; });
       s.Run(4, true, true, 20, 5'000'000'000ull, 2000, noise);  // after a long pause
       s.Run(0x100, true, false, 8, 1000, 1000, noise);          // at another port
       s.Poll(0x0080);
     },
     0},
    {"single accesses that make runs, as a verify reads word by word: across buffers and marks",
     [](Script& s) {
       auto noise = [](std::size_t i) { return static_cast<std::uint16_t>(i * 2654435761u >> 11); };
       s.Add(4, false, true, noise(0), 1000);
       for (int i = 1; i < 3000; ++i) s.Add(4, false, true, noise(i), 2000);
       s.Poll(0x0080);
       for (int i = 0; i < 300000; ++i) s.Add(4, true, false, noise(i) & 0xFF, 1000);  // > a buffer
       for (int i = 0; i < 9; ++i) s.Add(4, false, false, noise(i) & 0xFF, 1000);
       s.made.push_back({0, false, false, 0, s.now, "between"});
       for (int i = 0; i < 9; ++i) s.Add(4, false, false, noise(i) & 0xFF, 1000);
       for (int i = 0; i < 600; ++i)  // a value repeating the one a period before breaks a run
         s.Add(4, false, true, i % 50 == 7 ? 0x1234 : noise(i), 2000);
       for (int i = 0; i < 600; ++i) s.Add(4, false, true, noise(i), i % 100 == 3 ? 3000 : 2000);
       s.Poll(0x0080);
     },
     0},
    {"polls, runs and reads one by one as the virtual cart times them, broken by waits and marks",
     [](Script& s) {
       auto noise = [](std::size_t i) { return static_cast<std::uint16_t>(i * 2654435761u >> 9); };
       auto poll = [&s](std::uint16_t status, bool wait = false) {
         if (wait) s.Add(3, true, false, 0, 7000);  // as the one a period before, but after a wait
         for (std::uint8_t r = 0; r < 3; ++r) {
           if (!wait || r != 0) s.Next(3, true, false, r);
           s.Next(4, true, false, 0x00);
         }
         s.Next(4, true, true, 0x0070);
         s.Next(2, true, false, 0x00);
         s.Next(4, false, true, status);
       };
       for (int block = 0; block < 6; ++block) {
         for (int i = 0; i < 700; ++i) poll(i % 97 == 5 ? 0x0080 : 0x0000, i == 350);
         s.Run(4, true, true, 16, 2000, 2000, noise);    // begins as the word before ends
         s.Run(4, false, true, 300, 2000, 2000, noise);  // a word's time after a word
         for (std::size_t i = 0; i < 400; ++i) s.Next(4, false, true, noise(i));  // the verify
         s.Run(4, true, false, 8, 2000 + 500 * (block % 2), 1000, noise);         // after a wait, or not
         if (block == 2) s.Add(0x402, false, false, 0x35, 1000);  // the extended control register
         if (block == 3) s.made.push_back({0, false, false, 0, s.now, "between"});
         if (block == 4) s.Add(2, true, false, 0x04, 7000);  // after a wait
         if (block == 5) {  // bytes that repeat those before a word, which makes the first later
           for (int i = 0; i < 30; ++i)
             for (std::uint16_t r = 2; r <= 4; ++r) s.Next(r, true, false, r);
           s.Next(4, true, true, 0x1234);
           for (int i = 0; i < 30; ++i)
             for (const std::uint16_t r : {3, 4, 2}) s.Next(r, true, false, r);
         }
       }
     },
     0},
    {"a cycle in which one value changes each time round, as a block's buffers are written",
     [](Script& s) {
       for (int buffer = 0; buffer < 3000; ++buffer) {
         // The buffer's address, loaded again before each command, then the status read.
         for (const std::uint16_t command : {0x00E8, 0x000F, 0x00D0}) {
           for (std::uint8_t r = 0; r < 3; ++r) {
             s.Next(3, true, false, r);
             s.Next(4, true, false,
                    static_cast<std::uint8_t>(r == 0   ? buffer * 16
                                              : r == 1 ? buffer >> 4
                                                       : 0));
           }
           s.Next(4, true, true, command);
           s.Next(2, true, false, 0x00);
           s.Next(4, false, true, 0x0080);
         }
         for (int i = 0; i < 40; ++i) s.Next(i % 2 == 0 ? 2 : 4, i % 2 == 0, i % 2 != 0, 0x0000);
       }
     },
     32 * 1024},
    {"an erased block read back, as runs and word by word: repeats, a few bytes",
     [](Script& s) {
       // The first words are another's: the run of values goes on until the repeat is seen.
       const auto erased = [](std::size_t i) { return static_cast<std::uint16_t>(i < 3 ? i : 0xFFFF); };
       for (int i = 0; i < 4; ++i) s.Run(4, false, true, 4096, 1000, 2000, erased);
       for (int i = 0; i < 16384; ++i) s.Add(4, false, true, 0xFFFF, 2000);
     },
     1024},
    {"noise that does not compress, stored for a while, then marks and polls that do",
     [](Script& s) {
       s.Run(4, false, true, 24000, 1000, 2000,
             [](std::size_t i) { return static_cast<std::uint16_t>((i + 1) * 0x9E3779B97F4A7C15ull >> 48); });
       for (int i = 0; i < 40; ++i) {  // a mark ends a piece of the stream
         s.Poll(0x0000);
         s.made.push_back({0, false, false, 0, s.now, "mark " + std::to_string(i)});
       }
       for (int i = 0; i < 3000; ++i) s.Poll(static_cast<std::uint16_t>(i % 7));
     },
     0},
    {"other ports and the extended control register inside repeats, and marks",
     [](Script& s) {
       for (int i = 0; i < 2000; ++i) {
         s.Poll(0x0000);
         if (i % 500 == 17) s.Add(0x402, false, false, 0x35, 1000);
         if (i % 700 == 3) s.Add(0x100, true, false, 0x07, 1000);  // another port
         if (i % 900 == 5) s.made.push_back({0, false, false, 0, s.now, "mark " + std::to_string(i)});
       }
     },
     0},
};

// A file in the temporary folder, gone at the end of its scope: declared before what reads it,
// so that the reader has closed it first (Windows removes no open file).
struct ScratchFile {
  std::string path;
  explicit ScratchFile(const std::string& stem)
      : path((std::filesystem::temp_directory_path() /
              ("brevomat-" + stem + "-" + std::to_string(::getpid()) + ".rec"))
                 .string()) {}
  ~ScratchFile() {
    std::error_code ignored;
    std::filesystem::remove(path, ignored);
  }
};

std::string Say(const trace::Event& e) {
  if (e.isMark) return "mark " + std::to_string(e.us) + " " + e.text;
  const trace::Access& a = e.access;
  return std::string(a.write ? "W " : "R ") + std::to_string(a.reg) + " " + std::to_string(a.port) +
         (a.word ? " 16 " : " 8 ") + std::to_string(a.value) + " " + std::to_string(a.us);
}

TEST(TraceRecord, EveryAccessComesBackAsItWentIn) {
  for (const RoundTrip& round : kRoundTrips) {
    for (const Noting noting : {Noting::Timed, Noting::Coded, Noting::Wrapped}) {
      const bool notes = noting != Noting::Wrapped;
      SCOPED_TRACE(std::string(round.name) + (noting == Noting::Timed   ? ", noted with times"
                                              : noting == Noting::Coded ? ", noted by codes"
                                                                        : ", wrapped"));
      Script script;
      round.make(script);
      const ScratchFile file("record");
      const std::string& path = file.path;
      Scripted backend(noting);
      PortRecorder recorder;
      std::string error;
      ASSERT_TRUE(recorder.Open(path, error)) << error;
      PortBackend& port = recorder.Start(backend, {"test", "scripted", kBase, "EPP", "4"});
      EXPECT_EQ(&port == &backend, notes);
      std::vector<std::string> expected;
      std::uint64_t lastUs = 0;
      std::uint64_t runNs = 0;  // when the run under way began
      std::size_t runLeft = 0;
      for (std::size_t k = 0; k < script.made.size(); ++k) {
        const Made& m = script.made[k];
        if (m.run != 0) {
          runNs = m.ns;
          runLeft = m.run;
          backend.now = m.ns;
          backend.stepNs = m.run > 1 ? static_cast<std::uint32_t>(script.made[k + 1].ns - m.ns) : 0;
          std::vector<std::uint8_t> bytes;
          backend.answers.clear();
          for (std::size_t i = k; i < k + m.run; ++i) {
            const std::uint16_t v = script.made[i].value;
            backend.answers.push_back(v);
            bytes.push_back(static_cast<std::uint8_t>(v));
            if (m.word) bytes.push_back(static_cast<std::uint8_t>(v >> 8));
          }
          if (m.write && m.word) port.WriteWords(m.port, bytes.data(), m.run);
          if (m.write && !m.word) port.WriteBytes(m.port, bytes.data(), m.run);
          if (!m.write && m.word) port.ReadWords(m.port, bytes.data(), m.run);
          if (!m.write && !m.word) port.ReadBytes(m.port, bytes.data(), m.run);
        }
        const bool inRun = runLeft != 0;
        if (inRun) --runLeft;
        const std::uint64_t ns = inRun && !notes ? runNs : m.ns;
        if (!inRun) backend.now = m.ns;
        const std::uint64_t us = std::max(lastUs, ns / 1000);
        lastUs = us;
        if (!m.mark.empty()) {
          recorder.Mark(record::Mark::Note, m.mark);
          expected.push_back("mark " + std::to_string(us) + " " + m.mark);
          continue;
        }
        backend.answer = m.value;
        if (!inRun && m.write && m.word) port.WriteWord(m.port, m.value);
        if (!inRun && m.write && !m.word) port.WriteByte(m.port, static_cast<std::uint8_t>(m.value));
        if (!inRun && !m.write && m.word) port.ReadWord(m.port);
        if (!inRun && !m.write && !m.word) port.ReadByte(m.port);
        const std::uint16_t offset = static_cast<std::uint16_t>(m.port - kBase);
        const int reg = offset < 5                     ? offset
                        : offset == record::kEcrOffset ? record::kEcrRegister
                                                       : record::kOtherPort;
        trace::Event e;
        e.access = {0,
                    us,
                    static_cast<std::uint8_t>(reg),
                    static_cast<std::uint16_t>(reg == record::kOtherPort ? m.port : 0),
                    m.write,
                    m.word,
                    m.value};
        expected.push_back(Say(e));
      }
      ASSERT_TRUE(recorder.Close(error)) << error;
      std::uint64_t accesses = 0;
      for (const Made& m : script.made) accesses += m.mark.empty() ? 1 : 0;
      EXPECT_EQ(recorder.Accesses(), accesses);
      if (round.atMostBytes != 0) {
        EXPECT_LE(std::filesystem::file_size(path), round.atMostBytes);
      }

      trace::RecordReader reader;
      ASSERT_TRUE(reader.Open(path, error)) << error;
      std::vector<std::string> got;
      trace::Event event;
      while (reader.Next(event)) got.push_back(Say(event));
      EXPECT_FALSE(reader.CutShort()) << reader.Problem();
      ASSERT_EQ(got.size(), expected.size());
      for (std::size_t i = 0; i < got.size(); ++i) ASSERT_EQ(got[i], expected[i]) << "event " << i;
    }
  }
}

// Records written by hand: what the reader makes of them.
struct HandMade {
  const char* name;
  std::string_view magic;
  std::vector<std::uint8_t> body;
  std::uint64_t accesses;
  bool cutShort;
};

TEST(TraceRecord, RepeatsReadAsWrittenAndADamagedOneEndsTheRecord) {
  const std::vector<std::uint8_t> oneRead = {0x04 | 0x10 | 0x20, 0x80, 0x00};  // R base+4 16-bit, 1 us
  const HandMade kHandMade[] = {
      {"the first format", record::kMagicWithoutRepeats, oneRead, 1, false},
      {"a repeat of period 1, three times",
       record::kMagic,
       {0x14 | 0x20, 0x80, 0x00, 0x07, 0x01, 0x03},
       4,
       false},
      {"a repeat looking back before the first access", record::kMagic, {0x07, 0x05, 0x01}, 0, true},
      {"a repeat tag with other bits", record::kMagic, {0x17, 0x01, 0x01}, 0, true},
      {"the format before runs of values", record::kMagicWithoutValueRuns, oneRead, 1, false},
      {"a run of three values, then a repeat of two",
       record::kMagic,
       {0x0F, 0x14 | 0x20, 0x03, 0x80, 0x00, 0x80, 0x00, 0x80, 0x00, 0x07, 0x01, 0x02},
       5,
       false},
      {"a run of no values", record::kMagic, {0x0F, 0x14 | 0x20, 0x00}, 0, true},
      {"a run of values of another port", record::kMagic, {0x0F, 0x06 | 0x20, 0x01, 0x80}, 0, true},
      {"a run of values of marks", record::kMagic, {0x0F, 0x81, 0x01, 0x80}, 0, true},
      {"a run of values cut short", record::kMagic, {0x0F, 0x14 | 0x20, 0x03, 0x80, 0x00, 0x80}, 1, true},
  };
  for (const HandMade& h : kHandMade) {
    SCOPED_TRACE(h.name);
    const ScratchFile file("hand");
    const std::string& path = file.path;
    gzFile out = gzopen(path.c_str(), "wb");
    ASSERT_NE(out, nullptr);
    const std::string head = std::string(h.magic) + "program: test\n\n";
    gzwrite(out, head.data(), static_cast<unsigned>(head.size()));
    gzwrite(out, h.body.data(), static_cast<unsigned>(h.body.size()));
    ASSERT_EQ(gzclose(out), Z_OK);
    trace::RecordReader reader;
    std::string error;
    ASSERT_TRUE(reader.Open(path, error)) << error;
    std::uint64_t accesses = 0;
    trace::Event event;
    while (reader.Next(event)) {
      ++accesses;
      EXPECT_EQ(event.access.value, 0x0080);
      EXPECT_EQ(event.access.us, accesses);
    }
    EXPECT_EQ(accesses, h.accesses);
    EXPECT_EQ(reader.CutShort(), h.cutShort) << reader.Problem();
  }
}

}  // namespace
}  // namespace brevomat
