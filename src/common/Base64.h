#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kestrel {

// Standard base64 (RFC 4648, with '=' padding) of a byte string.
std::string Base64Encode(std::string_view bytes);

// The bytes of a base64 text; nullopt when it is not one (a character outside the alphabet, a
// length that is not a multiple of 4, padding anywhere but at the end, or stray bits in the last
// group, which no encoder writes).
std::optional<std::string> Base64Decode(std::string_view text);

} // namespace kestrel
