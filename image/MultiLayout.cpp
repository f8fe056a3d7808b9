#include "image/MultiLayout.h"

#include <algorithm>
#include <utility>

namespace brevomat {

std::uint8_t LastFit(const MultiImage& image) {
  if (image.size < kLastFitWholeLimit) return 1;
  return image.finalChunkBlank ? 2 : 0;
}

bool ChunkBlank(const TransferBuffer& buffer) {
  const std::uint8_t first = buffer[0];
  if (first != 0x00 && first != 0xFF) return false;
  return std::all_of(buffer.bytes.begin(), buffer.bytes.end(),
                     [first](std::uint8_t b) { return b == first; });
}

MultiLayout LayOutMultiImages(std::span<const MultiImage> images, std::uint32_t flashSize) {
  MultiLayout layout;
  const auto last =
      std::find_if(images.begin(), images.end(), [](const MultiImage& image) { return LastFit(image) != 0; });
  if (last == images.end()) {
    layout.verdict = MultiVerdict::NoLastImage;
    return layout;
  }

  std::vector<std::size_t> order(images.size());
  for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::swap(order[static_cast<std::size_t>(last - images.begin())], order.back());

  std::uint64_t start = kPreBootBytes;
  for (std::size_t j = 0; j < order.size(); ++j) {
    const MultiImage& image = images[order[j]];
    std::uint32_t size = image.size;
    if (j + 1 == order.size() && LastFit(image) == 2) size -= kChunkBytes;
    layout.placements.push_back({order[j], static_cast<std::uint32_t>(start / kChunkBytes), size});
    const std::uint64_t end = start + size;
    if (end > flashSize && layout.verdict == MultiVerdict::Placed) {
      layout.verdict = MultiVerdict::PastFlash;
      layout.overflowing = j;
      layout.overflowEnd = end;
    }
    start += size > kMultiSlotBytes ? 2 * kMultiSlotBytes : kMultiSlotBytes;
  }
  return layout;
}

}  // namespace brevomat
