#include "pages/crypto.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <openssl/rand.h>
#include <openssl/sha.h>

#include <array>
#include <cstdint>
#include <stdexcept>

namespace corvane {

namespace {

const unsigned char* Bytes(std::string_view s) {
  return reinterpret_cast<const unsigned char*>(s.data());
}

int Base64Value(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

}  // namespace

std::string HexOf(std::string_view bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out;
  out.reserve(bytes.size() * 2);
  for (unsigned char b : bytes) {
    out.push_back(kDigits[b >> 4]);
    out.push_back(kDigits[b & 15]);
  }
  return out;
}

std::string Sha256Hex(std::string_view data) {
  std::array<unsigned char, SHA256_DIGEST_LENGTH> digest{};
  SHA256(Bytes(data), data.size(), digest.data());
  return HexOf({reinterpret_cast<const char*>(digest.data()), digest.size()});
}

std::string HmacSha256Hex(std::string_view key, std::string_view data) {
  std::array<unsigned char, EVP_MAX_MD_SIZE> digest{};
  unsigned int length = 0;
  if (!HMAC(EVP_sha256(), key.data(), static_cast<int>(key.size()), Bytes(data), data.size(),
            digest.data(), &length)) {
    throw std::runtime_error("HMAC-SHA256 failed");
  }
  return HexOf({reinterpret_cast<const char*>(digest.data()), length});
}

std::string Pbkdf2Sha256Hex(std::string_view password, std::string_view salt, int iterations) {
  std::array<unsigned char, 32> key{};
  if (iterations < 1 ||
      PKCS5_PBKDF2_HMAC(password.data(), static_cast<int>(password.size()), Bytes(salt),
                        static_cast<int>(salt.size()), iterations, EVP_sha256(),
                        static_cast<int>(key.size()), key.data()) != 1) {
    throw std::runtime_error("PBKDF2-HMAC-SHA256 failed");
  }
  return HexOf({reinterpret_cast<const char*>(key.data()), key.size()});
}

std::string RandomBytes(size_t count) {
  std::string out(count, '\0');
  if (RAND_bytes(reinterpret_cast<unsigned char*>(out.data()), static_cast<int>(count)) != 1) {
    throw std::runtime_error("no random bytes from the system");
  }
  return out;
}

std::optional<std::string> Base64Decode(std::string_view text) {
  while (!text.empty() && text.back() == '=') text.remove_suffix(1);
  if (text.size() % 4 == 1) return std::nullopt;
  std::string out;
  uint32_t acc = 0;
  int bits = 0;
  for (char c : text) {
    const int v = Base64Value(c);
    if (v < 0) return std::nullopt;
    acc = (acc << 6) | static_cast<uint32_t>(v);
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      out.push_back(static_cast<char>((acc >> bits) & 0xFF));
    }
  }
  return out;
}

bool ConstantTimeEquals(std::string_view a, std::string_view b) {
  return a.size() == b.size() && CRYPTO_memcmp(a.data(), b.data(), a.size()) == 0;
}

}  // namespace corvane
