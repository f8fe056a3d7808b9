// The write road's promise, tried against faults: whatever the cart held before and whichever
// single read goes wrong, a write ends "Write Cart ok" only when the flash holds the image. The
// writes go through WriteClick and WriteMultiClick, the handlers that both windows and the command
// line call (the windows add nothing between the button and the handler), in both ways of writing:
// only what changed (the default) and every block.
#include <gtest/gtest.h>

#include <algorithm>
#include <ostream>
#include <string>
#include <vector>

#include "CartRig.h"
#include "ForwardingBus.h"
#include "commands/Commands.h"

namespace brevomat {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Lines = std::vector<std::string>;
constexpr std::size_t kChunk = 0x8000, kBlock = 0x20000;

// Notes the place (1-based, as the flip_read fault counts) of every ROM read of one word address.
class ReadPlaces final : public testing::ForwardingBus {
 public:
  ReadPlaces(sim::FlashCart& cart, std::uint32_t word) : ForwardingBus(cart), cart_(cart), word_(word) {}
  std::uint16_t ReadRom(std::uint32_t a, std::uint64_t now) override {
    if (a == word_) places.push_back(cart_.RomReads() + 1);
    return ForwardingBus::ReadRom(a, now);
  }
  std::vector<std::uint64_t> places;

 private:
  sim::FlashCart& cart_;
  std::uint32_t word_;
};

enum class Road { Changed, EveryBlock, Multi };

struct Fault {
  std::uint64_t flipRead = 0;  // within the write, 1-based; 0 = none
  std::int64_t stuckBit = -1;  // a bit that an erase leaves 0
};

// A port that moves runs whole, as the kernel's device does: the cart layer then reads a run in
// one go before it compares it, instead of word by word. The cycles stay the adapter's own.
class WholeRuns final : public PortBackend {
 public:
  explicit WholeRuns(PortBackend& inner) : inner_(inner) {}
  std::uint8_t ReadByte(std::uint16_t port) override { return inner_.ReadByte(port); }
  void WriteByte(std::uint16_t port, std::uint8_t value) override { inner_.WriteByte(port, value); }
  std::uint16_t ReadWord(std::uint16_t port) override { return inner_.ReadWord(port); }
  void WriteWord(std::uint16_t port, std::uint16_t value) override { inner_.WriteWord(port, value); }
  bool MovesRunsWhole() const override { return true; }
  std::uint64_t ClockNs() override { return inner_.ClockNs(); }

 private:
  PortBackend& inner_;
};

// One image (or, for Write Multi, one set) on one starting cart.
class Trial {
 public:
  Trial(Road road, sim::FlashChip chip, bool wholeRuns)
      : rig_(Options(chip)), road_(road), wholeRuns_(rig_.tee) {
    rig_.core.cart.Changed.Enabled = road != Road::EveryBlock;
    rig_.tee.recording = false;  // thousands of writes: nothing here looks at the words written
    if (wholeRuns) rig_.core.port.Attach(&wholeRuns_);
  }

  // The image goes to the flash at `at`; Write Multi's pre-boot image and second game are fixed.
  void Image(const Bytes& image) {
    image_ = image;
    files_ = {rig_.File("game.gba", image)};
    expected_.assign(rig_.cart.Flash().size(), 0);
    leaves_ = expected_;
    written_.assign(expected_.size(), false);
    blocks_.clear();
    if (road_ != Road::Multi) {
      Place(0, image);
      return;
    }
    // Given second, the one-chunk game goes first, right behind the pre-boot image; the image
    // goes into the second 4 MB slot, a chunk into its first block.
    const Bytes boot = testing::MakeImage(kChunk, 70), other = testing::MakeImage(kChunk, 71);
    StoreFileName(rig_.core.settings.BootFileName(), rig_.File("boot.bin", boot));
    files_.push_back(rig_.File("other.gba", other));
    Place(0, boot);
    Place(kChunk, other);
    Place(0x400000 + kChunk, image);
  }
  std::size_t ImageAt() const { return road_ == Road::Multi ? 0x400000 + kChunk : 0; }
  const Bytes& Expected() const { return expected_; }
  // What a full write leaves: the bytes, and 0xFF in the rest of every block it erased.
  const Bytes& Leaves() const { return leaves_; }

  // Runs the write from `before` with `fault`; returns the number of ROM reads it made.
  std::uint64_t Run(const Bytes& before, const Fault& fault, const std::string& trace) {
    SCOPED_TRACE(trace);
    for (const auto& [from, to] : blocks_)
      std::copy(before.begin() + from, before.begin() + to, rig_.cart.Flash().begin() + from);
    sim::FlashFaults& f = rig_.cart.Faults();
    const std::uint64_t start = rig_.cart.RomReads();
    f.flipRead = fault.flipRead == 0 ? 0 : start + fault.flipRead;
    f.eraseStuckBit = fault.stuckBit;
    if (fault.stuckBit >= 0)  // a stuck cell reads 0 from the start
      rig_.cart.Flash()[static_cast<std::size_t>(fault.stuckBit / 8)] &=
          static_cast<std::uint8_t>(~(1u << (fault.stuckBit % 8)));
    rig_.window.log.clear();
    rig_.window.status.clear();
    rig_.window.openDialog1 = {files_};
    rig_.window.answers = {true, true};  // the size question, and a header question if any
    const int result = road_ == Road::Multi ? WriteMultiClick(rig_.core) : WriteClick(rig_.core);
    const std::uint64_t reads = rig_.cart.RomReads() - start;
    f = {};

    EXPECT_EQ(result == kResultDone, rig_.window.status == "Write Cart ok");
    if (result == kResultDone)
      EXPECT_TRUE(Holds()) << "\"Write Cart ok\" over a flash that does not hold the image";
    else
      EXPECT_TRUE(fault.flipRead != 0 || fault.stuckBit >= 0) << "a write without a fault failed";
    return reads;
  }

  // The places of every read of the flash word holding byte `at` in a fault-free run.
  std::vector<std::uint64_t> PlacesOfReads(const Bytes& before, std::size_t at) {
    ReadPlaces places(rig_.cart, static_cast<std::uint32_t>(at / 2));
    rig_.adapter.SetBus(places);
    const std::uint64_t start = rig_.cart.RomReads();
    Run(before, {}, "finding the reads of byte " + std::to_string(at));
    rig_.adapter.SetBus(rig_.cart);
    for (std::uint64_t& p : places.places) p -= start;
    return places.places;
  }

 private:
  static testing::CartRigOptions Options(sim::FlashChip chip) {
    testing::CartRigOptions o;
    o.chip = chip;
    return o;
  }
  // Where a write puts `bytes`: the bytes, then 0xFF to the end of their last chunk; the rest of
  // their blocks erased unless an earlier image of the command shares the block.
  void Place(std::size_t at, const Bytes& bytes) {
    const std::size_t end = (at + bytes.size() + kChunk - 1) / kChunk * kChunk;
    const auto first = static_cast<std::ptrdiff_t>(at / kBlock * kBlock);
    const auto last = static_cast<std::ptrdiff_t>((end + kBlock - 1) / kBlock * kBlock);
    if (!written_[static_cast<std::size_t>(first)]) {
      std::fill(leaves_.begin() + first, leaves_.begin() + last, 0xFF);
      blocks_.emplace_back(first, last);
    }
    std::copy(bytes.begin(), bytes.end(), leaves_.begin() + static_cast<std::ptrdiff_t>(at));
    std::fill(expected_.begin() + static_cast<std::ptrdiff_t>(at),
              expected_.begin() + static_cast<std::ptrdiff_t>(end), 0xFF);
    std::fill(written_.begin() + static_cast<std::ptrdiff_t>(at),
              written_.begin() + static_cast<std::ptrdiff_t>(end), true);
    std::copy(bytes.begin(), bytes.end(), expected_.begin() + static_cast<std::ptrdiff_t>(at));
  }
  bool Holds() {
    const Bytes& flash = rig_.cart.Flash();
    for (const auto& [from, to] : blocks_)
      for (auto i = static_cast<std::size_t>(from); i < static_cast<std::size_t>(to); ++i)
        if (written_[i] && flash[i] != expected_[i]) return false;
    return true;
  }

  testing::CartRig rig_;
  Road road_;
  WholeRuns wholeRuns_;
  Bytes image_;
  Lines files_;
  Bytes expected_, leaves_;
  std::vector<bool> written_;
  std::vector<std::pair<std::ptrdiff_t, std::ptrdiff_t>> blocks_;  // the blocks the write may touch
};

// The carts a write may find. `other` is what an earlier, different write left.
enum class Start {
  Blank,
  BitOffInBlank,
  Equal,
  BitOffInLastChunk,
  BitOffInWholeChunk,
  HalfProgrammed,
  PartlyErased
};

// A byte of chunk `chunk` of the placed image whose bit 0 the image has set and whose word starts
// there, so that a flipped bit 0 of that word's read hides the difference.
std::size_t OddByteIn(const Bytes& expected, std::size_t from, std::size_t to) {
  for (std::size_t i = from + 0x202; i + 1 < to; i += 2)
    if (expected[i] & 1) return i;
  return from;
}

struct Row {
  const char* name;  // the test's name: letters only
  Road road;
  std::size_t size;
  sim::FlashChip chip;
  // Reads flipped besides every read of the word that is off: as many, evenly spread. Only the
  // reads of that word can hide a difference (a flip changes one bit of one read); the others
  // show that a flip elsewhere fails safe.
  std::uint64_t spread;
  bool wholeRuns = false;  // through a port that moves runs whole
};

void PrintTo(const Row& row, std::ostream* out) { *out << row.name; }

// A test of its own for each image, so that each stays well inside a test's time limit where the
// suite runs under software emulation (the 32-bit Windows suite).
class WriteRoadTest : public ::testing::TestWithParam<Row> {};

INSTANTIATE_TEST_SUITE_P(
    Images, WriteRoadTest,
    ::testing::Values(Row{"UnderAChunk", Road::Changed, 20000, sim::FlashChip::J3_64Mbit, 48},
                      Row{"UnderAChunkEveryBlock", Road::EveryBlock, 20000, sim::FlashChip::J3_64Mbit, 48},
                      Row{"AbytePastAChunk", Road::Changed, kChunk + 1, sim::FlashChip::J3_64Mbit, 48},
                      Row{"TwoWholeChunks", Road::Changed, 2 * kChunk, sim::FlashChip::J3_64Mbit, 48},
                      Row{"OddSizeOverABlock", Road::Changed, kBlock + 12345, sim::FlashChip::J3_64Mbit, 48},
                      Row{"OddSizeOverABlockEveryBlock", Road::EveryBlock, kBlock + 12345,
                          sim::FlashChip::J3_64Mbit, 48},
                      Row{"WriteMulti", Road::Multi, 2 * kChunk, sim::FlashChip::J3_64Mbit, 48},
                      Row{"AWhole4MBChip", Road::Changed, 0x400000, sim::FlashChip::J3_32Mbit, 0},
                      Row{"UnderAChunkWholeRuns", Road::Changed, 20000, sim::FlashChip::J3_64Mbit, 48, true},
                      Row{"OddSizeOverABlockEveryBlockWholeRuns", Road::EveryBlock, kBlock + 12345,
                          sim::FlashChip::J3_64Mbit, 48, true}),
    [](const ::testing::TestParamInfo<Row>& info) { return std::string(info.param.name); });

TEST_P(WriteRoadTest, OkOnlyWhenTheFlashHoldsTheImage) {
  const Row& row = GetParam();
  Trial trial(row.road, row.chip, row.wholeRuns);
  trial.Image(testing::MakeImage(row.size, 9));
  const Bytes& expected = trial.Expected();
  const std::size_t at = trial.ImageAt(), end = at + row.size;
  const std::size_t lastChunk = (end - 1) / kChunk * kChunk;
  Bytes other = testing::MakeImage(expected.size(), 3);

  for (const Start start : {Start::Blank, Start::BitOffInBlank, Start::Equal, Start::BitOffInLastChunk,
                            Start::BitOffInWholeChunk, Start::HalfProgrammed, Start::PartlyErased}) {
    Bytes before = other;
    std::size_t off = at;  // the byte whose reads are flipped, besides the stride
    switch (start) {
      case Start::Blank:
        before.assign(expected.size(), 0xFF);
        break;
      case Start::BitOffInBlank:  // a blank cart but for one bit the image has set
        before.assign(expected.size(), 0xFF);
        off = OddByteIn(expected, lastChunk, end);
        before[off] &= 0xFE;
        break;
      case Start::Equal:
        before = trial.Leaves();
        break;
      case Start::BitOffInLastChunk:
      case Start::BitOffInWholeChunk:
        before = trial.Leaves();
        off = start == Start::BitOffInLastChunk ? OddByteIn(expected, lastChunk, end)
                                                : OddByteIn(expected, at, end);
        before[off] &= 0xFE;
        break;
      case Start::HalfProgrammed:  // a write stopped half-way: erased, then programmed up to here
        before = trial.Leaves();
        std::fill(before.begin() + static_cast<std::ptrdiff_t>(at + row.size / 2),
                  before.begin() + static_cast<std::ptrdiff_t>(lastChunk + kChunk), 0xFF);
        off = OddByteIn(expected, at + row.size / 2, end);
        break;
      case Start::PartlyErased:  // an erase stopped half-way over another image
        std::fill(before.begin() + static_cast<std::ptrdiff_t>(at),
                  before.begin() + static_cast<std::ptrdiff_t>(at + row.size / 2), 0xFF);
        break;
    }
    const std::string cart = "start " + std::to_string(static_cast<int>(start));
    const std::uint64_t reads = trial.Run(before, {}, cart);
    std::vector<std::uint64_t> flips = trial.PlacesOfReads(before, off);
    for (std::uint64_t k = 1; k <= row.spread; ++k) flips.push_back(reads * k / (row.spread + 1));
    for (const std::uint64_t r : flips)
      trial.Run(before, {r, -1}, cart + ", read " + std::to_string(r) + " flipped");
    // A cell that no longer erases, in every chunk (of the big image: its first and last).
    for (std::size_t c = at; c < end;
         c += row.spread == 0 && c + kChunk < lastChunk ? lastChunk - c : kChunk) {
      const std::size_t byte = OddByteIn(expected, c, std::min(end, c + kChunk));
      trial.Run(before, {0, static_cast<std::int64_t>(byte * 8)},
                cart + ", stuck bit at " + std::to_string(byte));
    }
  }
}

}  // namespace
}  // namespace brevomat
