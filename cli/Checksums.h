// The checksums a user compares a dump with: CRC-32 (zlib) and SHA-1 (OpenSSL's libcrypto), of a
// file as it lies on disk.
#pragma once

#include <cstdint>
#include <string>

namespace brevomat::cli {

struct FileDigest {
  std::uint64_t size = 0;
  std::string crc32;  // 8 lower-case hex digits
  std::string sha1;   // 40 lower-case hex digits
};

// Reads the whole file through one fixed buffer. False, with the reason in `error`, when it
// cannot be read.
bool DigestFile(const std::string& path, FileDigest& digest, std::string& error);

}  // namespace brevomat::cli
