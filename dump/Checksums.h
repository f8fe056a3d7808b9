// The checksums a user compares a dump with: CRC-32 (zlib), MD5, SHA-1 and SHA-256 (OpenSSL's
// libcrypto; on Windows the system's own cryptography, CryptoAPI), taken from the data as it arrives.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace brevomat {

struct Digests {
  std::uint64_t size = 0;  // bytes the digests cover
  std::uint32_t crc32 = 0;
  std::array<std::uint8_t, 16> md5{};
  std::array<std::uint8_t, 20> sha1{};
  std::array<std::uint8_t, 32> sha256{};

  bool operator==(const Digests&) const = default;
};

// Lower-case hex, as the published lists write them.
std::string HexText(const std::uint8_t* bytes, std::size_t count);
template <std::size_t N>
std::string HexText(const std::array<std::uint8_t, N>& bytes) {
  return HexText(bytes.data(), N);
}
std::string Crc32Text(std::uint32_t crc);  // 8 hex digits

// The four checksums of a stream of bytes. The hash states are set up once; feeding data
// allocates nothing.
class Checksums {
 public:
  Checksums();
  ~Checksums();
  Checksums(const Checksums&) = delete;
  Checksums& operator=(const Checksums&) = delete;

  // False when a library could not set up one of the hashes (or a later step of one failed).
  bool Ok() const;
  void Update(const std::uint8_t* data, std::size_t size);
  // The digests of everything fed so far; feeding may go on afterwards. False when a hash failed.
  bool Peek(Digests& out);

 private:
  struct State;
  std::unique_ptr<State> state_;
  std::uint64_t size_ = 0;
  std::uint32_t crc_ = 0;
};

}  // namespace brevomat
