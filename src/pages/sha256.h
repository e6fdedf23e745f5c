// The two pieces of HTTP Basic authentication the pages need: Base64
// decoding of the Authorization header and SHA-256 of a salted password.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace corvane {

// The SHA-256 digest of `data`.
std::array<uint8_t, 32> Sha256(std::string_view data);
// The digest as 64 lower-case hexadecimal digits.
std::string Sha256Hex(std::string_view data);

// Standard Base64 (RFC 4648, "=" padding optional); nothing for text that is
// not Base64.
std::optional<std::string> Base64Decode(std::string_view text);

// Compares two texts in time that depends only on their lengths.
bool ConstantTimeEquals(std::string_view a, std::string_view b);

}  // namespace corvane
