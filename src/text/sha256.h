// SHA-256 (FIPS 180-4), written as 64 lower-case
// hexadecimal digits as sha256sum prints them.

#ifndef ZAVO_TEXT_SHA256_H_
#define ZAVO_TEXT_SHA256_H_

#include <cstddef>
#include <cstdint>
#include <string>

namespace zavo {

// An incremental digest: Update any number of times, then HexDigest once.
// Feeding the same bytes in any split gives the same digest.
class Sha256 {
 public:
  Sha256();
  void Update(const void* data, std::size_t n);
  // Ends the message and returns its digest; the object must not be updated
  // afterwards (Reset starts a new message).
  std::string HexDigest();
  void Reset();

 private:
  void Block(const unsigned char* block);

  std::uint32_t state_[8];
  unsigned char buffer_[64];
  std::size_t buffered_ = 0;
  std::uint64_t length_ = 0;  // bytes seen
};

// The digest of a text's bytes.
std::string Sha256Hex(const std::string& bytes);

}  // namespace zavo

#endif  // ZAVO_TEXT_SHA256_H_
