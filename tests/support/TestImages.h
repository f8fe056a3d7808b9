// Game images for tests: the genuine small images kept in tests/data, and larger ones generated
// from a genuine header and a deterministic pattern.
#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

namespace brevomat::testing {

// The project's own tests/data, fixed when the build is configured, so that a test finds it from
// whatever folder it is started in.
inline std::filesystem::path TestDataDir() { return BREVOMAT_TESTDATA_DIR; }

inline std::vector<std::uint8_t> ReadBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// One of the genuine images in TestDataDir(). A missing or empty file throws with its path, so the
// test fails saying what is missing instead of running on with no data.
inline std::vector<std::uint8_t> ReadTestImage(const std::string& name) {
  const std::filesystem::path path = TestDataDir() / name;
  std::vector<std::uint8_t> bytes = ReadBytes(path);
  if (bytes.empty()) throw std::runtime_error("test data missing or empty: " + path.string());
  return bytes;
}

inline void WriteBytes(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// `size` bytes: the genuine 192-byte header of hello.gba, then a pattern that differs in every
// 32 KB chunk and every word, seeded so that two images differ.
inline std::vector<std::uint8_t> MakeImage(std::size_t size, std::uint32_t seed = 1) {
  std::vector<std::uint8_t> image(size);
  std::uint32_t x = 0x9E3779B9u * (seed + 1);
  for (std::size_t i = 0; i < size; ++i) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    image[i] = static_cast<std::uint8_t>(x >> 11);
  }
  const std::vector<std::uint8_t> header = ReadTestImage("hello.gba");
  for (std::size_t i = 0; i < 192 && i < size && i < header.size(); ++i) image[i] = header[i];
  return image;
}

}  // namespace brevomat::testing
