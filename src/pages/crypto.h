// The cryptography of web security, all from OpenSSL's libcrypto: digests,
// keyed digests for form tokens, password stretching for stored logins,
// random bytes, and the Base64 decoding of an HTTP Basic login.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace corvane {

// Bytes as lower-case hexadecimal digits.
std::string HexOf(std::string_view bytes);
// SHA-256 of `data` as 64 lower-case hexadecimal digits.
std::string Sha256Hex(std::string_view data);
// HMAC-SHA256 of `data` under `key`, as 64 hexadecimal digits.
std::string HmacSha256Hex(std::string_view key, std::string_view data);
// PBKDF2-HMAC-SHA256 of `password` with `salt`, 32 bytes as hexadecimal.
std::string Pbkdf2Sha256Hex(std::string_view password, std::string_view salt, int iterations);
// `count` bytes from the system's random source; throws when it fails.
std::string RandomBytes(size_t count);

// Standard Base64 (RFC 4648, "=" padding optional); nothing for text that is
// not Base64.
std::optional<std::string> Base64Decode(std::string_view text);

// Compares two texts in time that depends only on their lengths.
bool ConstantTimeEquals(std::string_view a, std::string_view b);

}  // namespace corvane
