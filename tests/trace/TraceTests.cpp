// The record of the port accesses, read back: what the decoder makes of a command recorded on the
// virtual cart, what the check says of it and of an edited record, a record left by a killed run,
// and a record at its size limit.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "CartRig.h"
#include "commands/Commands.h"
#include "port/PortRecorder.h"
#include "trace/Check.h"
#include "trace/Decoder.h"
#include "trace/RecordReader.h"

namespace brevomat {
namespace {

using testing::CartRig;

constexpr std::uint32_t kImageBytes = 64 * 1024;

struct Recorded {
  std::string path;
  std::uint64_t accesses = 0;  // recorded
  std::uint64_t total = 0;     // made
  std::string status;
};

// Records Write Flash of `image` onto a flash that holds zeros (so that the block is erased first).
Recorded RecordWrite(CartRig& rig, int speed, const std::vector<std::uint8_t>& image,
                     std::uint64_t limit = PortRecorder::kDefaultLimitBytes,
                     PortRecorder* keepOpen = nullptr) {
  rig.DirtyFlash(0x00);
  rig.window.radioSpeed = speed;
  rig.window.openDialog1 = {std::vector<std::string>{rig.File("image.gba", image)}};
  Recorded r;
  r.path = (rig.dir / "write.rec").string();
  PortRecorder own;
  PortRecorder& recorder = keepOpen ? *keepOpen : own;
  std::string error;
  EXPECT_TRUE(recorder.Open(r.path, error, limit)) << error;
  recorder.Start(rig.tee, {"test", "virtual cart", 0x378, "EPP", "4"});
  rig.core.port.Attach(&recorder);
  recorder.Mark(record::Mark::Begin, "write");
  WriteClick(rig.core);
  recorder.Mark(record::Mark::End, "write: " + rig.window.status);
  rig.core.port.Attach(&rig.tee);
  r.accesses = recorder.Accesses();
  const sim::AdapterCounters& c = rig.adapter.counters();
  r.total = c.byteReads + c.byteWrites + c.wordReads + c.wordWrites;
  r.status = rig.window.status;
  if (!keepOpen) {
    EXPECT_TRUE(recorder.Close(error)) << error;
  }
  return r;
}

struct Decoded {
  std::vector<std::string> lines;
  trace::Summary summary;
  bool cutShort = false;
};

Decoded Decode(const std::string& path, trace::Level level) {
  Decoded d;
  trace::RecordReader reader;
  std::string error;
  EXPECT_TRUE(reader.Open(path, error)) << error;
  trace::Decoder decoder(level, [&d](const trace::DecodedLine& line) { d.lines.push_back(line.text); });
  trace::Event event;
  while (reader.Next(event)) decoder.Feed(event);
  decoder.Finish();
  d.summary = decoder.summary();
  d.cutShort = reader.CutShort();
  return d;
}

std::vector<trace::Access> Accesses(const std::string& path) {
  std::vector<trace::Access> all;
  trace::RecordReader reader;
  std::string error;
  EXPECT_TRUE(reader.Open(path, error)) << error;
  trace::Event event;
  while (reader.Next(event))
    if (!event.isMark) all.push_back(event.access);
  return all;
}

// Write Flash through EPP 16-bit transfers and through SPP cycles: each level of the decoded
// record says what the virtual hardware saw.
struct LinkCase {
  int speed;
  const char* lastRead;  // the last read cycle: the image's last word, or its high byte
};
const LinkCase kLinks[] = {{0, "EPP data read 0x%04X (16-bit)"}, {3, "nibble read 0x%02X"}};

TEST(TraceDecode, EachLevelTellsWhatTheVirtualHardwareSaw) {
  const std::vector<std::uint8_t> image = testing::MakeImage(kImageBytes);
  for (const LinkCase& link : kLinks) {
    SCOPED_TRACE(link.speed);
    CartRig rig;
    const Recorded r = RecordWrite(rig, link.speed, image);
    ASSERT_EQ(r.status, "Write Cart ok");

    // Cart: the flash commands decoded are the ones the chip carried out.
    const Decoded cart = Decode(r.path, trace::Level::Cart);
    EXPECT_EQ(cart.summary.accesses, r.accesses);
    EXPECT_EQ(cart.summary.flash.blockErase, rig.cart.EraseAddresses().size());
    EXPECT_EQ(cart.summary.flash.writeToBuffer, rig.cart.BufferPrograms());
    EXPECT_EQ(cart.summary.flash.cfiQuery, 1u);
    ASSERT_EQ(cart.summary.commands.size(), 1u);
    EXPECT_EQ(cart.summary.commands[0].status, "Write Cart ok");
    EXPECT_NE(std::find(cart.lines.begin(), cart.lines.end(), "enable flash access (1509 writes)"),
              cart.lines.end());
    EXPECT_NE(std::find(cart.lines.begin(), cart.lines.end(), "block erase confirm, block 0 at 0x000000"),
              cart.lines.end());

    // Link: the last word read at each address of the image is the image's word there.
    std::map<unsigned, unsigned> lastRead;
    for (const std::string& line : Decode(r.path, trace::Level::Link).lines) {
      unsigned value = 0, address = 0;
      if (std::sscanf(line.c_str(), "read 0x%X at 0x%X", &value, &address) == 2) lastRead[address] = value;
    }
    for (unsigned w = 0; w < kImageBytes / 2; w += 997)
      EXPECT_EQ(lastRead[w], image[2 * w] | (image[2 * w + 1] << 8)) << "word " << w;

    // Cycles: the last read cycle carries the last word of the verify pass (its high byte).
    const Decoded cycles = Decode(r.path, trace::Level::Cycles);
    const auto read = std::find_if(cycles.lines.rbegin(), cycles.lines.rend(), [](const std::string& l) {
      return l.starts_with("EPP data read") || l.starts_with("nibble read");
    });
    ASSERT_NE(read, cycles.lines.rend());
    const unsigned last = image[kImageBytes - 2] | (image[kImageBytes - 1] << 8);
    char expected[48];
    std::snprintf(expected, sizeof expected, link.lastRead, link.speed == 0 ? last : last >> 8);
    EXPECT_EQ(*read, std::string(expected));
  }
}

// A record of the model agrees with the model; the same record with one read changed parts from
// it exactly there.
TEST(TraceCheck, AgreesOnTheModelAndNamesTheFirstEditedRead) {
  CartRig rig;
  const Recorded r = RecordWrite(rig, 0, testing::MakeImage(kImageBytes));
  const trace::CheckResult same = trace::CheckRecord(r.path);
  EXPECT_TRUE(same.agrees);
  EXPECT_GT(same.compared, 0u);

  // Re-recorded with the last read of the verify pass one bit off.
  const std::vector<trace::Access> all = Accesses(r.path);
  std::uint64_t edited = 0;
  for (const trace::Access& a : all)
    if (!a.write && a.reg == 4) edited = a.seq;
  ASSERT_NE(edited, 0u);
  struct Playback final : PortBackend {
    const trace::Access* next = nullptr;
    std::uint64_t edited = 0;
    std::uint16_t Value() const {
      return static_cast<std::uint16_t>(next->value ^ (next->seq == edited ? 1 : 0));
    }
    std::uint8_t ReadByte(std::uint16_t) override { return static_cast<std::uint8_t>(Value()); }
    void WriteByte(std::uint16_t, std::uint8_t) override {}
    std::uint16_t ReadWord(std::uint16_t) override { return Value(); }
    void WriteWord(std::uint16_t, std::uint16_t) override {}
    std::uint64_t ClockNs() override { return next ? next->us * 1000 : 0; }
  } playback;
  playback.edited = edited;
  const std::string doctored = (rig.dir / "edited.rec").string();
  PortRecorder recorder;
  std::string error;
  ASSERT_TRUE(recorder.Open(doctored, error)) << error;
  recorder.Start(playback, {"test", "virtual cart", 0x378, "EPP", "4"});
  for (const trace::Access& a : all) {
    playback.next = &a;
    const auto port = static_cast<std::uint16_t>(0x378 + a.reg);
    if (a.write && a.word) recorder.WriteWord(port, a.value);
    if (a.write && !a.word) recorder.WriteByte(port, static_cast<std::uint8_t>(a.value));
    if (!a.write && a.word) recorder.ReadWord(port);
    if (!a.write && !a.word) recorder.ReadByte(port);
  }
  ASSERT_TRUE(recorder.Close(error)) << error;

  const trace::CheckResult parted = trace::CheckRecord(doctored);
  EXPECT_FALSE(parted.agrees);
  EXPECT_EQ(parted.first.seq, edited);
  EXPECT_FALSE(parted.before.empty());
}

// A run killed after a flush leaves a record that decodes up to that flush, and says so.
TEST(TraceRecord, KilledRunDecodesUpToItsLastFlush) {
  CartRig rig;
  PortRecorder recorder;  // never closed before the copy: the state a killed run leaves
  const Recorded r =
      RecordWrite(rig, 0, testing::MakeImage(kImageBytes), PortRecorder::kDefaultLimitBytes, &recorder);
  const std::string killed = (rig.dir / "killed.rec").string();
  std::filesystem::copy_file(r.path, killed);
  const Decoded d = Decode(killed, trace::Level::Cart);
  EXPECT_TRUE(d.cutShort);
  // The end mark flushed everything recorded.
  EXPECT_EQ(d.summary.accesses, r.accesses);
  ASSERT_EQ(d.summary.commands.size(), 1u);
  EXPECT_TRUE(d.summary.commands[0].ended);
  std::string error;
  EXPECT_TRUE(recorder.Close(error)) << error;
  EXPECT_FALSE(Decode(r.path, trace::Level::Cart).cutShort);
}

// At its limit the record ends with a mark and stays within the limit; the command goes on.
TEST(TraceRecord, StopsAtItsLimitWithAMark) {
  CartRig rig;
  constexpr std::uint64_t kLimit = 48 * 1024;
  const Recorded r = RecordWrite(rig, 0, testing::MakeImage(kImageBytes), kLimit);
  EXPECT_EQ(r.status, "Write Cart ok");
  EXPECT_LE(std::filesystem::file_size(r.path), kLimit);
  const Decoded d = Decode(r.path, trace::Level::Cart);
  EXPECT_TRUE(d.summary.stoppedAtLimit);
  EXPECT_FALSE(d.cutShort);
  EXPECT_EQ(d.summary.accesses, r.accesses);
  EXPECT_GT(r.accesses, 0u);
  EXPECT_LT(r.accesses, r.total);
}

}  // namespace
}  // namespace brevomat
