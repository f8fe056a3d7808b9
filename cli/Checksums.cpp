#include "cli/Checksums.h"

#include <zlib.h>

#ifdef _WIN32
// On Windows the system's own cryptography (CNG) computes the SHA-1.
#include <windows.h>
// windows.h first
#include <bcrypt.h>
#else
#include <openssl/evp.h>
#endif

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
#ifdef _WIN32

class Sha1 {
 public:
  Sha1() {
    if (BCryptOpenAlgorithmProvider(&algorithm_, BCRYPT_SHA1_ALGORITHM, nullptr, 0) == 0)
      ok_ = BCryptCreateHash(algorithm_, &hash_, nullptr, 0, nullptr, 0, 0) == 0;
  }
  ~Sha1() {
    if (hash_ != nullptr) BCryptDestroyHash(hash_);
    if (algorithm_ != nullptr) BCryptCloseAlgorithmProvider(algorithm_, 0);
  }
  Sha1(const Sha1&) = delete;
  Sha1& operator=(const Sha1&) = delete;
  bool Ok() const { return ok_; }
  void Update(const unsigned char* data, std::size_t size) {
    ok_ = ok_ && BCryptHashData(hash_, const_cast<PUCHAR>(data), static_cast<ULONG>(size), 0) == 0;
  }
  bool Final(unsigned char (&sum)[20]) { return ok_ && BCryptFinishHash(hash_, sum, sizeof sum, 0) == 0; }

 private:
  BCRYPT_ALG_HANDLE algorithm_ = nullptr;
  BCRYPT_HASH_HANDLE hash_ = nullptr;
  bool ok_ = false;
};

#else

class Sha1 {
 public:
  Sha1() : context_(EVP_MD_CTX_new()) {
    ok_ = context_ != nullptr && EVP_DigestInit_ex(context_, EVP_sha1(), nullptr) == 1;
  }
  ~Sha1() { EVP_MD_CTX_free(context_); }
  Sha1(const Sha1&) = delete;
  Sha1& operator=(const Sha1&) = delete;
  bool Ok() const { return ok_; }
  void Update(const unsigned char* data, std::size_t size) {
    ok_ = ok_ && EVP_DigestUpdate(context_, data, size) == 1;
  }
  bool Final(unsigned char (&sum)[20]) {
    unsigned int length = 0;
    return ok_ && EVP_DigestFinal_ex(context_, sum, &length) == 1 && length == sizeof sum;
  }

 private:
  EVP_MD_CTX* context_;
  bool ok_ = false;
};

#endif

}  // namespace

bool DigestFile(const std::string& path, FileDigest& digest, std::string& error) {
  const std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "rb"));
  if (!file) {
    error = std::strerror(errno);
    return false;
  }
  Sha1 sha;
  if (!sha.Ok()) {
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
      sha.Update(block, got);
      digest.size += got;
    }
    if (got < sizeof block) break;
  }
  if (std::ferror(file.get())) {
    error = std::strerror(errno);
    return false;
  }
  unsigned char sum[20];
  if (!sha.Final(sum)) {
    error = "SHA-1 failed";
    return false;
  }
  char crcText[9];
  std::snprintf(crcText, sizeof crcText, "%08lx", static_cast<unsigned long>(crc));
  digest.crc32 = crcText;
  digest.sha1 = Hex(sum, sizeof sum);
  return true;
}

}  // namespace brevomat::cli
