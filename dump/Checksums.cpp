#include "dump/Checksums.h"

#include <zlib.h>

#ifdef _WIN32
// On Windows the system's own cryptography (CryptoAPI) computes the hashes.
#include <windows.h>
// windows.h first
#include <wincrypt.h>
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

// One CryptoAPI hash. The provider type PROV_RSA_AES gives MD5, SHA-1 and SHA-256 on every
// Windows from XP SP3 on (CNG, which has them too, came only with Vista). Peek finishes a
// duplicate, so the original goes on.
class Hash {
 public:
  explicit Hash(ALG_ID algorithm) {
    // The type's default provider; XP SP3 names its AES provider differently from later Windows,
    // which matters only where the type has no default set.
    if (!CryptAcquireContextW(&provider_, nullptr, nullptr, PROV_RSA_AES,
                              CRYPT_VERIFYCONTEXT | CRYPT_SILENT) &&
        !CryptAcquireContextW(&provider_, nullptr,
                              L"Microsoft Enhanced RSA and AES Cryptographic Provider (Prototype)",
                              PROV_RSA_AES, CRYPT_VERIFYCONTEXT | CRYPT_SILENT)) {
      provider_ = 0;
      return;
    }
    ok_ = CryptCreateHash(provider_, algorithm, 0, 0, &hash_) != FALSE;
  }
  ~Hash() {
    if (hash_ != 0) CryptDestroyHash(hash_);
    if (provider_ != 0) CryptReleaseContext(provider_, 0);
  }
  Hash(const Hash&) = delete;
  Hash& operator=(const Hash&) = delete;
  bool Ok() const { return ok_; }
  void Update(const std::uint8_t* data, std::size_t size) {
    // CryptHashData takes at most 4 GB at a time.
    while (ok_ && size > 0) {
      const DWORD part = size > 0x40000000u ? 0x40000000u : static_cast<DWORD>(size);
      ok_ = CryptHashData(hash_, data, part, 0) != FALSE;
      data += part;
      size -= part;
    }
  }
  template <std::size_t N>
  bool Peek(std::array<std::uint8_t, N>& sum) {
    HCRYPTHASH copy = 0;
    if (!ok_ || !CryptDuplicateHash(hash_, nullptr, 0, &copy)) return false;
    DWORD length = static_cast<DWORD>(N);
    const bool done = CryptGetHashParam(copy, HP_HASHVAL, sum.data(), &length, 0) != FALSE && length == N;
    CryptDestroyHash(copy);
    return done;
  }

 private:
  HCRYPTPROV provider_ = 0;
  HCRYPTHASH hash_ = 0;
  bool ok_ = false;
};

struct Algorithms {
  Hash md5{CALG_MD5};
  Hash sha1{CALG_SHA1};
  Hash sha256{CALG_SHA_256};
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
