// The multi-game layout: which game goes last, where each starts and how much of it is written.
#include <gtest/gtest.h>

#include <vector>

#include "image/MultiLayout.h"

namespace brevomat {
namespace {

constexpr std::uint32_t k1M = 0x100000, k2M = 0x200000, k4M = 0x400000, k8M = 0x800000;
constexpr MultiImage kBlank4M{k4M, true};  // final 32 KB blank
constexpr MultiImage kFull4M{k4M, false};  // final 32 KB hold data

struct Row {
  const char* what;
  std::vector<MultiImage> images;
  std::uint32_t flashSize;
  MultiVerdict verdict;
  std::vector<MultiPlacement> placements;  // {image, start chunk, size}
  std::size_t overflowing = 0;
  std::uint64_t overflowEnd = 0;
};

TEST(MultiLayoutTest, OrderStartsAndSizes) {
  const Row rows[] = {
      {"A (4 MB, blank tail) then B (2 MB): A goes last without its final 32 KB",
       {kBlank4M, {k2M}},
       k8M,
       MultiVerdict::Placed,
       {{1, 1, k2M}, {0, 129, 4161536}}},
      {"B then A: B may go last and does; A is written whole",
       {{k2M}, kBlank4M},
       k8M,
       MultiVerdict::Placed,
       {{1, 1, k4M}, {0, 129, k2M}}},
      {"C then D, both short: C, the first, goes last",
       {{3 * k1M}, {k1M}},
       k8M,
       MultiVerdict::Placed,
       {{1, 1, k1M}, {0, 129, 3 * k1M}}},
      {"two 4 MB images with data at their ends: none may go last",
       {kFull4M, kFull4M},
       k8M,
       MultiVerdict::NoLastImage,
       {}},
      {"4 MB and 4 MB fill the chip to its last byte",
       {kFull4M, kBlank4M},
       k8M,
       MultiVerdict::Placed,
       {{0, 1, k4M}, {1, 129, 4161536}}},
      {"0x3F8000 bytes need a blank tail to go last; 0x3F0000 bytes do not",
       {{0x3F8000, false}, {0x3F0000, false}},
       k8M,
       MultiVerdict::Placed,
       {{0, 1, 0x3F8000}, {1, 129, 0x3F0000}}},
      {"a game over 4 MB going last ends past the flash",
       {{5 * k1M, true}, {k2M}},
       k8M,
       MultiVerdict::PastFlash,
       {{1, 1, k2M}, {0, 129, 5 * k1M - 0x8000}},
       1,
       0x900000},
      {"a game over 4 MB pushes the next slot 8 MB on, past the flash",
       {{5 * k1M, false}, {k2M}},
       k8M,
       MultiVerdict::PastFlash,
       {{0, 1, 5 * k1M}, {1, 257, k2M}},
       1,
       0xA08000},
      {"on a 4 MB chip the second slot lies past the chip",
       {{k1M}, {k1M}},
       k4M,
       MultiVerdict::PastFlash,
       {{1, 1, k1M}, {0, 129, k1M}},
       1,
       0x508000},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    const MultiLayout layout = LayOutMultiImages(row.images, row.flashSize);
    EXPECT_EQ(layout.verdict, row.verdict);
    EXPECT_EQ(layout.placements, row.placements);
    if (row.verdict == MultiVerdict::PastFlash) {
      EXPECT_EQ(layout.overflowing, row.overflowing);
      EXPECT_EQ(layout.overflowEnd, row.overflowEnd);
    }
  }
}

}  // namespace
}  // namespace brevomat
