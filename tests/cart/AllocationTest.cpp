// Writing an image, reading a cart and backing up save memory allocate nothing per chunk or unit:
// the transfer buffer, the IPS tables and the stream buffer are all fixed. Counts every heap
// allocation made while WriteImage, ReadCartToFile or BackupSaveToFile runs.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>

#include "CartRig.h"
#include "cart/Flash.h"
#include "cart/Program.h"
#include "cart/ReadOut.h"
#include "cart/SaveMemory.h"
#include "link/Detection.h"

namespace {
std::atomic<bool> counting{false};
std::atomic<std::uint64_t> allocations{0};
}  // namespace

void* operator new(std::size_t size) {
  if (counting) ++allocations;
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace brevomat {
namespace {

// Allocations made by one WriteImage of `size` bytes, IPS on, after a warm-up write. Writing only
// what changed, the patched write erases block 0 and keeps the others.
std::uint64_t AllocationsForWrite(std::uint32_t size, bool onlyChanged) {
  testing::CartRig rig;
  rig.core.cart.Changed.Enabled = onlyChanged;
  rig.tee.recording = false;  // its record of cart writes grows with what a write programs
  rig.window.recordProgress = false;
  const std::string image = rig.File("game.gba", testing::MakeImage(size));
  const std::string patch =
      rig.File("p.ips", {'P', 'A', 'T', 'C', 'H', 0, 0, 0x10, 0, 1, 0xAB, 'E', 'O', 'F'});
  EXPECT_TRUE(rig.core.OpenLink());
  EXPECT_TRUE(IdentifyFlash(rig.core.link, rig.core.frame, rig.core.cart));
  StoreFileName(rig.core.frame.ImageFileName, image);
  rig.core.frame.BeginOperation();

  // Warm-up: the first write may set up lazily created library state.
  EXPECT_EQ(rig.core.frame.OpenInputFile(), 0);
  EXPECT_EQ(WriteImage(rig.core.link, rig.core.frame, rig.core.cart, rig.core.ips, size, 0, false), 0);

  rig.window.radioIps = 1;
  rig.window.openDialog3 = {patch};
  rig.window.log.reserve(64);
  EXPECT_EQ(rig.core.frame.OpenInputFile(), 0);
  allocations = 0;
  counting = true;
  const int result = WriteImage(rig.core.link, rig.core.frame, rig.core.cart, rig.core.ips, size, 0, true);
  counting = false;
  EXPECT_EQ(result, 0);
  EXPECT_EQ(rig.window.status, "Write Cart ok");
  return allocations;
}

TEST(AllocationTest, NoAllocationPerChunk) {
  for (const bool onlyChanged : {false, true}) {
    const std::uint64_t small = AllocationsForWrite(2 * 0x8000, onlyChanged);
    const std::uint64_t large = AllocationsForWrite(64 * 0x8000, onlyChanged);
    // Whatever a write allocates once (reopening the file for the verify pass, a log line) does
    // not grow with the number of chunks.
    EXPECT_EQ(small, large) << onlyChanged;
    EXPECT_LT(large, 16u) << onlyChanged;
  }
}

// Allocations made by a read-out of Form2 item `item` after a warm-up read-out of 1 MB.
std::uint64_t AllocationsForReadOut(int item) {
  testing::CartRig rig;
  rig.window.recordProgress = false;
  rig.cart.Flash() = testing::MakeImage(rig.cart.Flash().size());
  rig.window.saveDialog1Name = (rig.dir / "dump.gba").string();
  rig.window.form2 = {0, item};
  rig.window.log.reserve(64);
  EXPECT_TRUE(rig.core.OpenLink());
  std::int32_t chunks = 0;
  EXPECT_EQ(ReadCartToFile(rig.core.link, rig.core.frame, rig.core.cart, chunks), 0);
  allocations = 0;
  counting = true;
  const int result = ReadCartToFile(rig.core.link, rig.core.frame, rig.core.cart, chunks);
  counting = false;
  EXPECT_EQ(result, 0);
  return allocations;
}

TEST(AllocationTest, ReadOutAllocatesNothingPerChunk) {
  EXPECT_EQ(AllocationsForReadOut(0), AllocationsForReadOut(2));  // 32 and 128 chunks
  EXPECT_LT(AllocationsForReadOut(2), 16u);
}

// Allocations made by one Backup Saver transfer of `units` save units, after a warm-up.
std::uint64_t AllocationsForSaveBackup(std::uint8_t units) {
  testing::CartRig rig;
  rig.window.recordProgress = false;
  rig.window.saveDialog1Name = (rig.dir / "backup.sav").string();
  EXPECT_TRUE(rig.core.OpenLink());
  rig.core.cart.SaveStartUnit = 0;
  rig.core.cart.SaveUnitCount = units;
  EXPECT_EQ(BackupSaveToFile(rig.core.link, rig.core.frame, rig.core.cart), 0);
  allocations = 0;
  counting = true;
  const int result = BackupSaveToFile(rig.core.link, rig.core.frame, rig.core.cart);
  counting = false;
  EXPECT_EQ(result, 0);
  return allocations;
}

TEST(AllocationTest, NoAllocationPerSaveUnit) {
  // Creating the file allocates its stream buffer once; the units themselves allocate nothing.
  EXPECT_EQ(AllocationsForSaveBackup(1), AllocationsForSaveBackup(8));
}

}  // namespace
}  // namespace brevomat
