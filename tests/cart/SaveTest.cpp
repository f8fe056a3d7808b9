// Backup Saver and Write Saver end to end: the scripted window, the virtual adapter and the virtual
// cart's save memory, with save files on disk. Each test checks the log line for line, the Status
// text and the bytes that end up in the save memory or the file. One save unit is also checked as
// it crosses the port.
#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/resource.h>
#endif

#include <csignal>
#include <filesystem>

#include "CartRig.h"
#include "RecordingBackend.h"
#include "cart/SaveMemory.h"
#include "commands/Commands.h"
#include "link/Link.h"
#include "sim/RomCart.h"

namespace brevomat {
namespace {

namespace fs = std::filesystem;
using testing::CartRig;
using testing::CartRigOptions;
using testing::MakeImage;  // as save data: differs between seeds past its first 192 bytes
using Lines = std::vector<std::string>;
using Bytes = std::vector<std::uint8_t>;

constexpr std::size_t kUnit = 0x8000, kSave = 8 * kUnit;

Bytes Units(const Bytes& b, std::size_t first, std::size_t count) {
  return Bytes(b.begin() + static_cast<std::ptrdiff_t>(first * kUnit),
               b.begin() + static_cast<std::ptrdiff_t>((first + count) * kUnit));
}

// `base` with `data` laid over it from unit `first` on.
Bytes Over(Bytes base, std::size_t first, const Bytes& data) {
  std::copy(data.begin(), data.end(), base.begin() + static_cast<std::ptrdiff_t>(first * kUnit));
  return base;
}

// --- one unit on the port -------------------------------------------------------------------------

TEST(SaveUnitOnThePort, BlocksOf256SingleBytesAfterTheBankAndTheAddress) {
  using testing::PortCall;
  using testing::Rb;
  using testing::Wb;
  constexpr std::uint16_t C = 0x37A, EA = 0x37B, ED = 0x37C;
  constexpr std::size_t kSequence = 3 + 1509 * 13;  // SelectSaveBank in EPP at speed "4"
  testing::RecordingBackend rec;
  PortIo io(&rec);
  Link link(io);
  TransferBuffer buffer;
  for (std::uint32_t i = 0; i < kChunkBytes; ++i) buffer[i] = static_cast<std::uint8_t>(i * 7 + 1);

  // Nothing behind the port answers the data back: the write's verification fails at the first byte.
  EXPECT_EQ(WriteSaveUnit(link, buffer, 3), kResultFailed);

  // Per block: registers 0, 1, 2 (in that order), select register 3, then the control level.
  auto block = [&](std::uint8_t registerOne, std::uint8_t level) {
    return std::vector<PortCall>{Wb(C, 1),    Wb(EA, 0), Wb(ED, 0), Wb(C, 1), Wb(EA, 1), Wb(ED, registerOne),
                                 Wb(C, 1),    Wb(EA, 2), Wb(ED, 0), Wb(C, 1), Wb(C, 1),  Wb(EA, 3),
                                 Wb(C, level)};
  };
  const std::vector<PortCall> saveAccess = {Wb(C, 1), Wb(EA, 4), Wb(ED, 0x83)};
  std::vector<PortCall> write = saveAccess;
  for (std::uint32_t b = 0; b < 128; ++b) {
    const auto head = block(static_cast<std::uint8_t>(0x80 | b), 1);  // unit 3: the upper half
    write.insert(write.end(), head.begin(), head.end());
    for (std::uint32_t k = 0; k < 256; ++k) write.push_back(Wb(ED, buffer[b * 256 + k]));
  }
  std::vector<PortCall> compare = saveAccess;
  const auto first = block(0x80, 0);
  compare.insert(compare.end(), first.begin(), first.end());
  compare.push_back(Rb(ED, 0xFF));  // one read, and the comparison gives up

  auto calls = [&](std::size_t from, std::size_t n) {
    return std::vector<PortCall>(rec.calls.begin() + static_cast<std::ptrdiff_t>(from),
                                 rec.calls.begin() + static_cast<std::ptrdiff_t>(from + n));
  };
  ASSERT_EQ(rec.calls.size(), 2 * kSequence + write.size() + compare.size());
  EXPECT_EQ(rec.calls[kSequence - 1], testing::Ww(ED, 1));  // the bank number of unit 3
  EXPECT_EQ(calls(kSequence, write.size()), write);
  EXPECT_EQ(calls(2 * kSequence + write.size(), compare.size()), compare);

  rec.calls.clear();
  EXPECT_EQ(CompareSaveUnit(link, buffer, 8), kResultFailed);
  EXPECT_TRUE(rec.calls.empty()) << "a unit past 256 KB reaches nothing";
}

// --- the commands ---------------------------------------------------------------------------------

class SaveTest : public ::testing::Test {
 protected:
  std::unique_ptr<CartRig> rig;
  Bytes before;  // the save memory before the command
  void Make(const CartRigOptions& o = {}) {
    rig = std::make_unique<CartRig>(o);
    if (!rig->cart.Save().empty()) rig->cart.Save() = MakeImage(kSave, 1);
    before = rig->cart.Save();
  }
  void SetUp() override { Make(); }
  Bytes& Save() { return rig->cart.Save(); }

  std::string out;  // Backup Saver's file
  int Backup(int bank, int size, const std::string& file = "") {
    out = file.empty() ? (rig->dir / "backup.sav").string() : file;
    rig->window.form3 = {std::pair{bank, size}};
    rig->window.saveDialog1 = {out};
    return SReadClick(rig->core);
  }
  std::string in;  // Write Saver's file
  int Restore(int bank, int size, const Bytes& file) {
    in = rig->File("restore.sav", file);
    rig->window.form3 = {std::pair{bank, size}};
    rig->window.openDialog1 = {Lines{in}};
    return SWriteClick(rig->core);
  }
  // Presses Stop at the message pump just before transfer unit `i` moves (its progress is shown).
  void StopBeforeUnitMoves(std::size_t i) {
    rig->window.onPump = [this, i](std::uint64_t) {
      if (rig->window.running && rig->window.progressHistory.size() == i + 2) rig->core.frame.StopClick();
    };
  }
  // Write Saver's line naming the copy of the save it replaced, which it keeps before it writes.
  std::string OldSave() const { return "Old Save = " + rig->core.KeptSaveFile; }
  void ExpectClosedFrame() {
    EXPECT_EQ(rig->core.frame.CurrentFile, nullptr);
    EXPECT_FALSE(rig->window.running);
  }
};

TEST_F(SaveTest, EveryBankAndSizeMovesItsOwnUnits) {
  // A size larger than one bank runs on into the following banks, never past unit 7.
  const bool accepted[4][4] = {{true, true, true, true},
                               {true, true, true, false},
                               {true, true, true, false},
                               {true, true, false, false}};
  const char* const captions[] = {"32K", "64K", "128K", "256K"};
  const std::vector<std::vector<int>> progress = {
      {0, 0, 100}, {0, 0, 50, 100}, {0, 0, 25, 50, 75, 100}, {0, 0, 12, 25, 37, 50, 62, 75, 87, 100}};
  for (int bank = 0; bank < 4; ++bank) {
    for (int size = 0; size < 4; ++size) {
      SCOPED_TRACE(::testing::Message() << "Bank " << bank + 1 << ", " << captions[size]);
      Make();
      const std::size_t first = 2 * bank, units = std::size_t{1} << size;
      // Write Saver with a 64 KB file on the odd banks' turn and a 32 KB file on the others.
      const std::size_t fileUnits = bank % 2 == 0 ? 2 : 1;
      const Bytes file = MakeImage(fileUnits * kUnit, 50 + bank * 4 + size);
      if (!accepted[bank][size]) {
        EXPECT_EQ(Backup(bank, size), kResultFailed);
        EXPECT_EQ(Restore(bank, size, file), kResultFailed);
        EXPECT_EQ(rig->window.log, (Lines{"PortMode = EPP", "Bank Select or Size Select Error!!!", "",
                                          "PortMode = EPP", "Bank Select or Size Select Error!!!"}));
        EXPECT_FALSE(fs::exists(out));
        EXPECT_TRUE(rig->window.openDialog1.size() == 1 && rig->window.saveDialog1.size() == 1);
        EXPECT_EQ(Save(), before);
        continue;
      }
      EXPECT_EQ(Backup(bank, size), kResultDone);
      EXPECT_EQ(rig->window.log,
                (Lines{"PortMode = EPP", "FileName = " + out,
                       std::string("Backup Saver ") + captions[size] + " Ok", "Time = 0 Sec"}));
      EXPECT_EQ(testing::ReadBytes(out), Units(before, first, units));
      EXPECT_EQ(rig->window.statusHistory, (Lines{"", "Reading...", "Read Save Data ok", ""}));
      EXPECT_EQ(rig->window.progressHistory, progress[size]);
      ExpectClosedFrame();

      rig->window.log.clear();
      rig->window.statusHistory.clear();
      EXPECT_EQ(Restore(bank, size, file), kResultDone);
      const bool capped = units < fileUnits;  // only "32K" with a 64 KB file
      Lines log = {"", "PortMode = EPP", "FileName = " + in, "FileSize = " + std::to_string(file.size())};
      if (capped) log.push_back("Fixed Saver Size(32K)");
      log.insert(log.end(), {OldSave(), "Time = 0 Sec"});
      EXPECT_EQ(rig->window.log, log);
      EXPECT_EQ(rig->window.statusHistory, (Lines{"", "Writing... ", "Write Save Data ok"}));
      const Bytes written(file.begin(),
                          file.begin() + static_cast<std::ptrdiff_t>(capped ? kUnit : file.size()));
      EXPECT_EQ(Save(), Over(before, first, written));
      ExpectClosedFrame();
    }
  }
}

TEST_F(SaveTest, APlainGameCartAnswersFromItsOneBankWhicheverIsChosen) {
  sim::RomCart rom(Bytes(1 << 20, 0x11), sim::SaveMemory::Sram);
  rom.Save() = MakeImage(kSave, 2);
  const Bytes romBefore = rom.Save();
  rig->adapter.SetBus(rom);
  const Bytes file = MakeImage(2 * kUnit, 3);
  EXPECT_EQ(Restore(2, 1, file), kResultDone);  // "Bank 3": the game cart has only bank 0
  EXPECT_EQ(rom.Save(), Over(romBefore, 0, file));
  EXPECT_EQ(Backup(0, 3), kResultDone);
  const Bytes backup = testing::ReadBytes(out);
  ASSERT_EQ(backup.size(), kSave);
  for (std::size_t bank = 0; bank < 4; ++bank) EXPECT_EQ(Units(backup, 2 * bank, 2), file) << bank;
  EXPECT_EQ(rom.Rom(), Bytes(1 << 20, 0x11));
  EXPECT_EQ(Save(), before) << "the flash cart behind was reached";
}

TEST_F(SaveTest, RefusalsBeforeTheTransferTouchNothing) {
  struct Row {
    const char* what;
    CartRigOptions options;
    std::function<void(testing::FakeWindow&)> arrange;
    Lines log;  // of Backup Saver; Write Saver's adds its separator
  };
  CartRigOptions noAdapter, noSave;
  noAdapter.answers = sim::AdapterAnswers::None;
  noSave.save = sim::SaveMemory::None;
  const std::vector<Row> rows = {
      {"adapter not found", noAdapter, nullptr, {"No Adaptor Found!"}},
      {"no save memory", noSave, nullptr, {"PortMode = EPP", "No Save Data found!!!"}},
      {"Form3 cancelled",
       {},
       [](testing::FakeWindow& w) { w.form3 = {std::nullopt}; },
       {"PortMode = EPP", "Saver Select Cancel"}},
      {"file dialog cancelled",
       {},
       [](testing::FakeWindow& w) {
         w.saveDialog1 = {std::nullopt};
         w.openDialog1 = {std::nullopt};
       },
       {"PortMode = EPP"}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    Make(row.options);
    for (bool backup : {true, false}) {
      rig->window.log.clear();
      rig->window.status = "(as before)";
      rig->window.form3 = {std::pair{1, 1}};
      rig->window.saveDialog1 = {(rig->dir / "backup.sav").string()};
      rig->window.openDialog1 = {Lines{rig->File("restore.sav", MakeImage(2 * kUnit, 4))}};
      if (row.arrange) row.arrange(rig->window);
      EXPECT_NE(backup ? SReadClick(rig->core) : SWriteClick(rig->core), kResultDone);
      Lines log = row.log;
      if (!backup) log.insert(log.begin(), "");
      EXPECT_EQ(rig->window.log, log);
      EXPECT_EQ(rig->window.status, "(as before)");
      EXPECT_FALSE(fs::exists(rig->dir / "backup.sav"));
      EXPECT_EQ(Save(), before);
      ExpectClosedFrame();
    }
    if (row.options.save == sim::SaveMemory::None) {
      EXPECT_EQ(rig->window.form3Shown, 0);
    }
  }
}

TEST_F(SaveTest, FilesThatCannotBeUsedAreRefusedBeforeTheTransfer) {
  // Backup Saver: the file cannot be created. The frame never opened, and the time logged is this
  // command's, not the previous one's.
  rig->core.frame.ElapsedSeconds = 7;
  const std::string nowhere = (rig->dir / "missing" / "backup.sav").string();
  EXPECT_NE(Backup(0, 0, nowhere), kResultDone);
  EXPECT_EQ(rig->window.log,
            (Lines{"PortMode = EPP", "FileName = " + nowhere, "File Open Error!!!", "Time = 0 Sec"}));
  EXPECT_EQ(rig->window.statusHistory, (Lines{"", "Reading...", "Error!!!"}));
  ExpectClosedFrame();

  // Write Saver: a file of another length than 32 or 64 KB.
  for (std::size_t length : {std::size_t{0}, std::size_t{40000}, kUnit - 1, 3 * kUnit, 4 * kUnit}) {
    SCOPED_TRACE(length);
    Make();
    EXPECT_EQ(Restore(0, 3, MakeImage(length, 5)), kResultFailed);
    EXPECT_EQ(rig->window.log, (Lines{"PortMode = EPP", "FileName = " + in,
                                      "FileSize = " + std::to_string(length), "File Size Error!!!"}));
    EXPECT_EQ(rig->window.status, "");
    EXPECT_EQ(Save(), before);
    ExpectClosedFrame();
  }
}

TEST_F(SaveTest, Form3CloseBoxGoesOnWithThePreviousChoice) {
  rig->window.form3 = {std::pair{-2, -2}};  // before any choice: "Bank 1", "32K"
  rig->window.saveDialog1 = {(rig->dir / "a.sav").string()};
  EXPECT_EQ(SReadClick(rig->core), kResultDone);
  EXPECT_EQ(testing::ReadBytes(rig->dir / "a.sav"), Units(before, 0, 1));
  EXPECT_EQ(Backup(2, 1), kResultDone);
  rig->window.form3 = {std::pair{-2, -2}};
  rig->window.saveDialog1 = {(rig->dir / "b.sav").string()};
  EXPECT_EQ(SReadClick(rig->core), kResultDone);
  EXPECT_EQ(testing::ReadBytes(rig->dir / "b.sav"), Units(before, 4, 2));
  EXPECT_EQ(rig->window.log.back(), "Time = 0 Sec");
  EXPECT_EQ(rig->window.log[rig->window.log.size() - 2], "Backup Saver 64K Ok");
}

// --- failures during the transfer -----------------------------------------------------------------

// Flips a bit in one save read (1-based count), as a poor contact would.
class FlakySaveBus final : public sim::CartBus {
 public:
  FlakySaveBus(sim::CartBus& inner, std::uint64_t badRead) : inner_(inner), bad_(badRead) {}
  std::uint16_t ReadRom(std::uint32_t a, std::uint64_t t) override { return inner_.ReadRom(a, t); }
  void WriteRom(std::uint32_t a, std::uint16_t v, std::uint64_t t) override { inner_.WriteRom(a, v, t); }
  std::uint8_t ReadSave(std::uint16_t a, std::uint64_t t) override {
    return static_cast<std::uint8_t>(inner_.ReadSave(a, t) ^ (++reads_ == bad_ ? 0x10 : 0));
  }
  void WriteSave(std::uint16_t a, std::uint8_t v, std::uint64_t t) override { inner_.WriteSave(a, v, t); }

 private:
  sim::CartBus& inner_;
  std::uint64_t bad_, reads_ = 0;
};

TEST_F(SaveTest, ReadConfirmationFailureKeepsTheUnitsReadBefore) {
  // The probe reads 3 passes, every unit 2: the third unit's first pass meets the bad read.
  FlakySaveBus bus(rig->cart, (3 + 2 * 2) * kUnit + 100);
  rig->adapter.SetBus(bus);
  EXPECT_EQ(Backup(0, 2), kResultFailed);
  EXPECT_EQ(rig->window.log,
            (Lines{"PortMode = EPP", "FileName = " + out, "Read Save Data Error!!!", "Time = 0 Sec"}));
  EXPECT_EQ(rig->window.status, "Error!!!");
  EXPECT_FALSE(fs::exists(out));
  EXPECT_EQ(testing::ReadBytes(out + ".part"), Units(before, 0, 2));
  ExpectClosedFrame();
}

TEST_F(SaveTest, StopDuringTheSecondOfFourUnitsLetsItFinishAndStartsNoOther) {
  StopBeforeUnitMoves(1);
  EXPECT_EQ(Backup(0, 2), kResultCancelled);
  EXPECT_EQ(rig->window.log,
            (Lines{"PortMode = EPP", "FileName = " + out, "Stop process !!!", "Time = 0 Sec"}));
  EXPECT_EQ(rig->window.status, "Error!!!");
  EXPECT_FALSE(fs::exists(out));
  EXPECT_EQ(testing::ReadBytes(out + ".part"), Units(before, 0, 2));
  EXPECT_EQ(rig->cart.SaveBank(), 0) << "the third unit (bank 1) was started";
  ExpectClosedFrame();

  // Write Saver: Stop during the first of two units.
  Make();
  StopBeforeUnitMoves(0);
  const Bytes file = MakeImage(2 * kUnit, 7);
  EXPECT_EQ(Restore(2, 1, file), kResultCancelled);
  EXPECT_EQ(rig->window.log, (Lines{"PortMode = EPP", "FileName = " + in, "FileSize = 65536", OldSave(),
                                    "Stop process !!!", "Time = 0 Sec"}));
  EXPECT_EQ(Save(), Over(before, 4, Units(file, 0, 1)));
  ExpectClosedFrame();
}

TEST_F(SaveTest, WriteSaverFileThatVanishesOrShrinksAfterItsSizeWasChecked) {
  enum class Change { Vanish, Empty, ShortSecondUnit };
#ifdef _WIN32
  // Windows neither deletes nor shrinks a file another stream holds open.
  GTEST_SKIP() << "files held open cannot be removed or shrunk on Windows";
#endif
  for (Change change : {Change::Vanish, Change::Empty, Change::ShortSecondUnit}) {
    SCOPED_TRACE(static_cast<int>(change));
    Make();
    const Bytes file = MakeImage(2 * kUnit, 8);
    // The frame has opened (one bar position shown), or unit 0 has been read from the file.
    const std::size_t when = change == Change::ShortSecondUnit ? 2 : 1;
    rig->window.onPump = [&, when](std::uint64_t) {
      if (!rig->window.running || rig->window.progressHistory.size() != when) return;
      if (change == Change::Vanish)
        fs::remove(in);
      else
        fs::resize_file(in, change == Change::Empty ? 0 : kUnit + 100);
    };
    const int result = Restore(1, 1, file);
    Lines log = {"PortMode = EPP", "FileName = " + in, "FileSize = 65536", OldSave()};
    if (change == Change::Vanish) {
      // The file was opened before its size was checked; the open file still holds the data.
      EXPECT_EQ(result, kResultDone);
      EXPECT_EQ(Save(), Over(before, 2, file));
    } else {
      EXPECT_EQ(result, kResultFailed);
      log.push_back("Read ErrNo=Unexpected end of file");
      EXPECT_EQ(rig->window.status, "Error!!!");
      EXPECT_EQ(Save(), change == Change::Empty ? before : Over(before, 2, Units(file, 0, 1)));
    }
    log.push_back("Time = 0 Sec");
    EXPECT_EQ(rig->window.log, log);
    ExpectClosedFrame();
  }
}

TEST_F(SaveTest, WriteSaverKeepsTheSaveItReplacesOrWritesNothing) {
  enum class Keep { Kept, FolderIsAFile, ReadsDiffer };
  for (const Keep keep : {Keep::Kept, Keep::FolderIsAFile, Keep::ReadsDiffer}) {
    SCOPED_TRACE(static_cast<int>(keep));
    Make();  // keeping is what Write Saver does unless told otherwise
    const fs::path folder = rig->dir / "kept";
    if (keep == Keep::FolderIsAFile) testing::WriteBytes(folder, {1});
    // The first read of the keep's second unit (after the probe's 3 passes and unit 2's 2).
    FlakySaveBus bus(rig->cart, (3 + 2 + 1) * kUnit + 7);
    if (keep == Keep::ReadsDiffer) rig->adapter.SetBus(bus);
    rig->core.KeptSavesFolder = folder.string();
    const Bytes file = MakeImage(2 * kUnit, 9);
    const int result = Restore(1, 1, file);  // "Bank 2", "64K": units 2 and 3
    Lines log = {"PortMode = EPP", "FileName = " + in, "FileSize = 65536"};
    if (keep == Keep::Kept) {
      EXPECT_EQ(result, kResultDone);
      const std::string kept = rig->core.KeptSaveFile;
      log.insert(log.end(), {"Old Save = " + kept, "Time = 0 Sec"});
      EXPECT_EQ(fs::path(kept).parent_path(), folder);
      EXPECT_TRUE(kept.ends_with("_bank2_64K.sav")) << kept;
      EXPECT_EQ(testing::ReadBytes(kept), Units(before, 2, 2));
      EXPECT_EQ(Save(), Over(before, 2, file));
    } else {
      EXPECT_EQ(result, kResultFailed);
      log.push_back("Old Save Error!!!(" + rig->core.KeepSaveError + ")");
      EXPECT_EQ(rig->window.status, "Error!!!");
      EXPECT_EQ(rig->core.KeptSaveFile, "");
      EXPECT_TRUE(rig->core.KeepSaveError.starts_with(keep == Keep::ReadsDiffer
                                                          ? "the two reads of save unit 3 differed"
                                                          : "cannot create the folder " + folder.string()))
          << rig->core.KeepSaveError;
      EXPECT_EQ(Save(), before) << "written without the old save kept";
      if (keep == Keep::ReadsDiffer) {
        EXPECT_TRUE(fs::is_empty(folder)) << "a half kept save or its temporary file is left";
      }
    }
    EXPECT_EQ(rig->window.log, log);
    ExpectClosedFrame();
  }
}

#ifndef _WIN32  // file size limits are POSIX
TEST_F(SaveTest, FullDiskFailsTheBackupAndKeepsTheUnitsWritten) {
  // A file size limit that leaves room for one unit only, as a disk with 32 KB free would.
  rlimit old{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
  if (old.rlim_max != RLIM_INFINITY && old.rlim_max < kUnit)
    GTEST_SKIP() << "file size limit already below 32 KB";
  const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
  rlimit tight = old;
  tight.rlim_cur = kUnit;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &tight), 0);
  const int result = Backup(0, 1);
  setrlimit(RLIMIT_FSIZE, &old);
  std::signal(SIGXFSZ, oldHandler);
  EXPECT_EQ(result, kResultFailed);
  EXPECT_EQ(rig->window.log,
            (Lines{"PortMode = EPP", "FileName = " + out, "Write ErrNo=File too large", "Time = 0 Sec"}));
  EXPECT_FALSE(fs::exists(out));
  EXPECT_EQ(testing::ReadBytes(out + ".part"), Units(before, 0, 1));
  ExpectClosedFrame();
}
#endif

}  // namespace
}  // namespace brevomat
