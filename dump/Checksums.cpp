#include "dump/Checksums.h"

#include <zlib.h>

#ifdef _WIN32
// On Windows the system's own cryptography (CNG) computes the hashes.
#include <windows.h>
// windows.h first
#include <bcrypt.h>
#else
#include <openssl/evp.h>
#endif

#include <cstdio>

namespace brevomat {

std::string HexText(const std::uint8_t* bytes, std::size_t count) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string text;
  text.reserve(2 * count);
  for (std::size_t i = 0; i < count; ++i) {
    text += kDigits[bytes[i] >> 4];
    text += kDigits[bytes[i] & 0x0F];
  }
  return text;
}

std::string Crc32Text(std::uint32_t crc) {
  char text[9];
  std::snprintf(text, sizeof text, "%08lx", static_cast<unsigned long>(crc));
  return text;
}

namespace {

#ifdef _WIN32

// One CNG hash. Peek finishes a duplicate, so the original goes on.
class Hash {
 public:
  explicit Hash(LPCWSTR algorithm) {
    if (BCryptOpenAlgorithmProvider(&algorithm_, algorithm, nullptr, 0) == 0)
      ok_ = BCryptCreateHash(algorithm_, &hash_, nullptr, 0, nullptr, 0, 0) == 0;
  }
  ~Hash() {
    if (hash_ != nullptr) BCryptDestroyHash(hash_);
    if (algorithm_ != nullptr) BCryptCloseAlgorithmProvider(algorithm_, 0);
  }
  Hash(const Hash&) = delete;
  Hash& operator=(const Hash&) = delete;
  bool Ok() const { return ok_; }
  void Update(const std::uint8_t* data, std::size_t size) {
    ok_ = ok_ && BCryptHashData(hash_, const_cast<PUCHAR>(data), static_cast<ULONG>(size), 0) == 0;
  }
  template <std::size_t N>
  bool Peek(std::array<std::uint8_t, N>& sum) {
    BCRYPT_HASH_HANDLE copy = nullptr;
    if (!ok_ || BCryptDuplicateHash(hash_, &copy, nullptr, 0, 0) != 0) return false;
    const bool done = BCryptFinishHash(copy, sum.data(), static_cast<ULONG>(N), 0) == 0;
    BCryptDestroyHash(copy);
    return done;
  }

 private:
  BCRYPT_ALG_HANDLE algorithm_ = nullptr;
  BCRYPT_HASH_HANDLE hash_ = nullptr;
  bool ok_ = false;
};

struct Algorithms {
  Hash md5{BCRYPT_MD5_ALGORITHM};
  Hash sha1{BCRYPT_SHA1_ALGORITHM};
  Hash sha256{BCRYPT_SHA256_ALGORITHM};
};

#else

// One libcrypto hash. Peek finishes a copy in a context kept for that, so the original goes on.
class Hash {
 public:
  explicit Hash(const EVP_MD* md) : context_(EVP_MD_CTX_new()), scratch_(EVP_MD_CTX_new()) {
    ok_ = context_ != nullptr && scratch_ != nullptr && md != nullptr &&
          EVP_DigestInit_ex(context_, md, nullptr) == 1;
  }
  ~Hash() {
    EVP_MD_CTX_free(scratch_);
    EVP_MD_CTX_free(context_);
  }
  Hash(const Hash&) = delete;
  Hash& operator=(const Hash&) = delete;
  bool Ok() const { return ok_; }
  void Update(const std::uint8_t* data, std::size_t size) {
    ok_ = ok_ && EVP_DigestUpdate(context_, data, size) == 1;
  }
  template <std::size_t N>
  bool Peek(std::array<std::uint8_t, N>& sum) {
    unsigned int length = 0;
    return ok_ && EVP_MD_CTX_copy_ex(scratch_, context_) == 1 &&
           EVP_DigestFinal_ex(scratch_, sum.data(), &length) == 1 && length == N;
  }

 private:
  EVP_MD_CTX* context_;
  EVP_MD_CTX* scratch_;
  bool ok_ = false;
};

struct Algorithms {
  Hash md5{EVP_md5()};
  Hash sha1{EVP_sha1()};
  Hash sha256{EVP_sha256()};
};

#endif

}  // namespace

struct Checksums::State : Algorithms {};

Checksums::Checksums()
    : state_(std::make_unique<State>()), crc_(static_cast<std::uint32_t>(crc32_z(0L, Z_NULL, 0))) {}

Checksums::~Checksums() = default;

bool Checksums::Ok() const { return state_->md5.Ok() && state_->sha1.Ok() && state_->sha256.Ok(); }

void Checksums::Update(const std::uint8_t* data, std::size_t size) {
  crc_ = static_cast<std::uint32_t>(crc32_z(crc_, data, size));
  state_->md5.Update(data, size);
  state_->sha1.Update(data, size);
  state_->sha256.Update(data, size);
  size_ += size;
}

bool Checksums::Peek(Digests& out) {
  out.size = size_;
  out.crc32 = crc_;
  return state_->md5.Peek(out.md5) && state_->sha1.Peek(out.sha1) && state_->sha256.Peek(out.sha256);
}

}  // namespace brevomat
