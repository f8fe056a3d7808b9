#include "cli/Checksums.h"

#include <openssl/evp.h>
#include <zlib.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

namespace brevomat::cli {

namespace {

std::string Hex(const unsigned char* bytes, std::size_t count) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string text;
  for (std::size_t i = 0; i < count; ++i) {
    text += kDigits[bytes[i] >> 4];
    text += kDigits[bytes[i] & 0x0F];
  }
  return text;
}

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
struct DigestFree {
  void operator()(EVP_MD_CTX* c) const { EVP_MD_CTX_free(c); }
};

}  // namespace

bool DigestFile(const std::string& path, FileDigest& digest, std::string& error) {
  const std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "rb"));
  if (!file) {
    error = std::strerror(errno);
    return false;
  }
  const std::unique_ptr<EVP_MD_CTX, DigestFree> sha(EVP_MD_CTX_new());
  if (!sha || EVP_DigestInit_ex(sha.get(), EVP_sha1(), nullptr) != 1) {
    error = "SHA-1 is not available";
    return false;
  }
  static unsigned char block[64 * 1024];
  uLong crc = crc32_z(0L, Z_NULL, 0);
  digest.size = 0;
  for (;;) {
    const std::size_t got = std::fread(block, 1, sizeof block, file.get());
    if (got > 0) {
      crc = crc32_z(crc, block, got);
      EVP_DigestUpdate(sha.get(), block, got);
      digest.size += got;
    }
    if (got < sizeof block) break;
  }
  if (std::ferror(file.get())) {
    error = std::strerror(errno);
    return false;
  }
  unsigned char sum[EVP_MAX_MD_SIZE];
  unsigned int sumLength = 0;
  if (EVP_DigestFinal_ex(sha.get(), sum, &sumLength) != 1) {
    error = "SHA-1 failed";
    return false;
  }
  char crcText[9];
  std::snprintf(crcText, sizeof crcText, "%08lx", static_cast<unsigned long>(crc));
  digest.crc32 = crcText;
  digest.sha1 = Hex(sum, sumLength);
  return true;
}

}  // namespace brevomat::cli
