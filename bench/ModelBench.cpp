// Modelled hardware durations of whole commands on the virtual cart: the virtual clock advances
// 1 us per byte access on the cable (2 us per 16-bit access) and the chip keeps its datasheet
// times, so these figures say how long the command would take on real hardware. Also reports the
// host time the simulation took.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <exception>
#include <string>

#include "CartRig.h"
#include "commands/Captions.h"
#include "commands/Commands.h"

namespace {

using namespace brevomat;
using Clock = std::chrono::steady_clock;

// A figure is only worth printing when the command ended the way it should; otherwise say why
// and make the whole run fail, so that a broken build never yields a table of plausible numbers.
int failures = 0;
void Expect(const std::string& status, const char* expected, const char* what) {
  if (status == expected) return;
  ++failures;
  std::fprintf(stderr, "model_bench: %s ended with \"%s\", not \"%s\"\n", what, status.c_str(), expected);
}

struct Run {
  double modelledSeconds;
  double hostSeconds;
  std::uint64_t accesses;
  std::string status;
};

std::uint64_t Accesses(const sim::VirtualAdapter& a) {
  const auto& c = a.counters();
  return c.byteReads + c.byteWrites + c.wordReads + c.wordWrites;
}

Run Erase(sim::ChipTiming timing, int speed) {
  brevomat::testing::CartRigOptions o;
  o.timing = timing;
  brevomat::testing::CartRig rig(o);
  rig.window.recordProgress = false;
  rig.window.radioSpeed = speed;
  rig.window.answers = {true};
  const auto t0 = Clock::now();
  EraseFlashClick(rig.core);
  const double host = std::chrono::duration<double>(Clock::now() - t0).count();
  return {static_cast<double>(rig.adapter.NowNs()) / 1e9, host, Accesses(rig.adapter), rig.window.status};
}

Run Write(int speed, std::uint32_t size) {
  brevomat::testing::CartRigOptions o;
  o.timing = sim::ChipTiming::Datasheet();
  brevomat::testing::CartRig rig(o);
  rig.window.recordProgress = false;
  rig.window.radioSpeed = speed;
  rig.window.openDialog1 = {
      std::vector<std::string>{rig.File("image.gba", brevomat::testing::MakeImage(size))}};
  rig.core.cart.Changed.Enabled = false;  // every block, as the original system wrote
  const auto t0 = Clock::now();
  WriteClick(rig.core);
  const double host = std::chrono::duration<double>(Clock::now() - t0).count();
  return {static_cast<double>(rig.adapter.NowNs()) / 1e9, host, Accesses(rig.adapter), rig.window.status};
}

// Write Flash of `image` onto a flash whose first bytes hold `before`, writing every block (as
// brevomat-cli --every-block does) or, as every front end does by default, only the blocks that
// need it.
struct ChangedRun {
  Run run;
  ChangedBlocks blocks;
};

ChangedRun WriteOnto(int speed, const std::vector<std::uint8_t>& image,
                     const std::vector<std::uint8_t>& before, bool onlyChanged) {
  brevomat::testing::CartRigOptions o;
  o.timing = sim::ChipTiming::Datasheet();
  brevomat::testing::CartRig rig(o);
  rig.tee.recording = false;
  std::copy(before.begin(), before.end(), rig.cart.Flash().begin());
  rig.window.recordProgress = false;
  rig.window.radioSpeed = speed;
  rig.window.openDialog1 = {std::vector<std::string>{rig.File("image.gba", image)}};
  rig.core.cart.Changed.Enabled = onlyChanged;
  const auto t0 = Clock::now();
  WriteClick(rig.core);
  const double host = std::chrono::duration<double>(Clock::now() - t0).count();
  return {{static_cast<double>(rig.adapter.NowNs()) / 1e9, host, Accesses(rig.adapter), rig.window.status},
          rig.core.cart.Changed};
}

// Backup Game of a whole flash chip of `chip` (the size the dialog proposes).
Run Read(int speed, sim::FlashChip chip) {
  brevomat::testing::CartRigOptions o;
  o.chip = chip;
  o.timing = sim::ChipTiming::Datasheet();
  brevomat::testing::CartRig rig(o);
  rig.cart.Flash() = brevomat::testing::MakeImage(rig.cart.Flash().size());
  rig.window.recordProgress = false;
  rig.window.radioSpeed = speed;
  rig.window.saveDialog1 = {(rig.dir / "dump.gba").string()};
  const auto t0 = Clock::now();
  ReadClick(rig.core);
  const double host = std::chrono::duration<double>(Clock::now() - t0).count();
  return {static_cast<double>(rig.adapter.NowNs()) / 1e9, host, Accesses(rig.adapter), rig.window.status};
}

// Backup Saver of 256 KB ("Bank 1", "256K") or Write Saver of a 64 KB file ("Bank 1", "64K"),
// detection and the save memory probe included.
Run Save(int speed, bool backup) {
  brevomat::testing::CartRig rig;
  rig.window.recordProgress = false;
  rig.window.radioSpeed = speed;
  rig.window.form3 = {std::pair{0, backup ? 3 : 1}};
  rig.window.saveDialog1 = {(rig.dir / "backup.sav").string()};
  rig.window.openDialog1 = {
      std::vector<std::string>{rig.File("save.sav", brevomat::testing::MakeImage(0x10000))}};
  const auto t0 = Clock::now();
  if (backup)
    SReadClick(rig.core);
  else
    SWriteClick(rig.core);
  const double host = std::chrono::duration<double>(Clock::now() - t0).count();
  const std::string status = backup ? rig.window.log[rig.window.log.size() - 2] : rig.window.status;
  return {static_cast<double>(rig.adapter.NowNs()) / 1e9, host, Accesses(rig.adapter), status};
}

int Measure(bool quick);

}  // namespace

int main(int argc, char** argv) {
  const bool quick = argc > 1 && std::string(argv[1]) == "--quick";
  try {
    const int failed = Measure(quick);
    if (failed != 0) std::fprintf(stderr, "model_bench: %d command(s) did not end as they should\n", failed);
    return failed == 0 ? 0 : 1;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "model_bench: %s\n", e.what());
    return 1;
  }
}

namespace {

int Measure(bool quick) {
  const std::uint32_t imageSize = quick ? 0x100000 : 0x800000;

  std::printf("Erase of the whole 8 MB chip (64 blocks), datasheet timing (1 s per block):\n");
  for (int speed : {0, 3}) {
    const Run r = Erase(sim::ChipTiming::Datasheet(), speed);
    Expect(r.status, "Cart Erase Ok", "EraseFlash");
    std::printf("  speed \"%s\": modelled %.1f s, %llu port accesses, host %.2f s -> %s\n",
                kSpeedItems[speed], r.modelledSeconds, static_cast<unsigned long long>(r.accesses),
                r.hostSeconds, r.status.c_str());
  }
  std::printf("Erase under the slow profile (5 s per block, the datasheet maximum):\n");
  for (int speed = 0; speed < 4; ++speed) {
    const Run r = Erase(sim::ChipTiming::Slow(), speed);
    Expect(r.status, "Cart Erase Ok", "EraseFlash on the slowest chip");
    std::printf("  speed \"%s\": modelled %.1f s -> %s (%s)\n", kSpeedItems[speed], r.modelledSeconds,
                r.status.c_str(),
                r.status == "Cart Erase Ok" ? "poll limits hold" : "poll limit ran out first");
  }
  std::printf(
      "Write Flash of a %u-byte image, every block (--every-block), datasheet timing (218 us per 32-byte "
      "buffer):\n",
      imageSize);
  for (int speed : {0, 3}) {
    const Run r = Write(speed, imageSize);
    Expect(r.status, "Write Cart ok", "Write Flash");
    std::printf(
        "  speed \"%s\": modelled %.1f s, %.1f port accesses per byte written and verified, host %.2f s "
        "(%.1f ns per port access) -> %s\n",
        kSpeedItems[speed], r.modelledSeconds, static_cast<double>(r.accesses) / imageSize, r.hostSeconds,
        r.hostSeconds * 1e9 / static_cast<double>(r.accesses), r.status.c_str());
  }
  const std::uint32_t blocks = imageSize / kBlockBytes;
  const std::vector<std::uint8_t> image = brevomat::testing::MakeImage(imageSize, 1);
  struct Case {
    const char* name;
    std::vector<std::uint8_t> before;
    std::uint32_t skipped, programmed, erased;  // the blocks the default write must report
  };
  const Case cases[] = {
      {"the same image again", image, blocks, 0, 0},
      {"onto an erased cart", std::vector<std::uint8_t>(imageSize, 0xFF), 0, blocks, 0},
      {"onto a different image", brevomat::testing::MakeImage(imageSize, 2), 0, 0, blocks},
  };
  std::printf("Write Flash of a %u-byte image, every block or only the changed ones (the default):\n",
              imageSize);
  for (int speed : {0, 3}) {
    for (const Case& c : cases) {
      const ChangedRun full = WriteOnto(speed, image, c.before, false);
      const ChangedRun changed = WriteOnto(speed, image, c.before, true);
      Expect(full.run.status, "Write Cart ok", "Write Flash");
      Expect(changed.run.status, "Write Cart ok", "Write Flash, only changed blocks");
      const ChangedBlocks& b = changed.blocks;
      if (b.Skipped != c.skipped || b.Programmed != c.programmed || b.Erased != c.erased) {
        ++failures;
        std::fprintf(stderr, "model_bench: %s: %u skipped, %u programmed, %u erased; expected %u, %u, %u\n",
                     c.name, b.Skipped, b.Programmed, b.Erased, c.skipped, c.programmed, c.erased);
      }
      std::printf(
          "  speed \"%s\", %s: every block %.1f s, only changed %.1f s = %.3f of it (blocks: %u skipped, %u "
          "programmed without erase, %u erased)\n",
          kSpeedItems[speed], c.name, full.run.modelledSeconds, changed.run.modelledSeconds,
          changed.run.modelledSeconds / full.run.modelledSeconds, b.Skipped, b.Programmed, b.Erased);
    }
  }
  // A game padded with 0xFF to the cart's size, over another game: the padding's blocks are erased
  // and read back but not programmed. Beside it the game alone, which is what the padding adds to.
  const std::uint32_t gameSize = imageSize / 8 * 5;
  std::vector<std::uint8_t> padded = brevomat::testing::MakeImage(imageSize, 3);
  std::fill(padded.begin() + gameSize, padded.end(), 0xFF);
  const std::vector<std::uint8_t> game(padded.begin(), padded.begin() + gameSize), other = cases[2].before;
  std::printf("Write Flash of a %u-byte game padded with 0xFF to %u bytes, onto a different image:\n",
              gameSize, imageSize);
  for (int speed : {0, 3}) {
    const ChangedRun full = WriteOnto(speed, padded, other, false);
    const ChangedRun changed = WriteOnto(speed, padded, other, true);
    const ChangedRun alone = WriteOnto(speed, game, other, false);
    for (const ChangedRun* r : {&full, &changed, &alone})
      Expect(r->run.status, "Write Cart ok", "Write Flash of a padded game");
    std::printf(
        "  speed \"%s\": every block %.1f s, only changed %.1f s; the game alone, every block %.1f s\n",
        kSpeedItems[speed], full.run.modelledSeconds, changed.run.modelledSeconds, alone.run.modelledSeconds);
  }
  const sim::FlashChip readChip = quick ? sim::FlashChip::J3_32Mbit : sim::FlashChip::J3_64Mbit;
  const double readBytes = quick ? 4194304.0 : 8388608.0;
  std::printf("Backup Game of the whole %.0f-byte flash (every chunk read twice):\n", readBytes);
  for (int speed : {0, 3}) {
    const Run r = Read(speed, readChip);
    Expect(r.status, "Read Flash ok", "Backup Game");
    std::printf(
        "  speed \"%s\": modelled %.1f s, %.1f port accesses per byte, host %.2f s (%.1f ns per port access) "
        "-> %s\n",
        kSpeedItems[speed], r.modelledSeconds, static_cast<double>(r.accesses) / readBytes, r.hostSeconds,
        r.hostSeconds * 1e9 / static_cast<double>(r.accesses), r.status.c_str());
  }
  std::printf(
      "Save memory (each unit: two bank-select sequences and two 32 KB passes; 3 more passes probe):\n");
  for (int speed : {0, 3}) {
    for (bool backup : {true, false}) {
      const Run r = Save(speed, backup);
      Expect(r.status, backup ? "Backup Saver 256K Ok" : "Write Save Data ok",
             backup ? "Backup Saver" : "Write Saver");
      std::printf("  speed \"%s\": %s modelled %.2f s, %llu port accesses, host %.2f s -> %s\n",
                  kSpeedItems[speed],
                  backup ? "Backup Saver 256 KB:" : "Write Saver 64 KB: ", r.modelledSeconds,
                  static_cast<unsigned long long>(r.accesses), r.hostSeconds, r.status.c_str());
    }
  }
  return failures;
}

}  // namespace
