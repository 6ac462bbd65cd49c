#include "common/Base64.h"

#include <array>

namespace kestrel {

namespace {

constexpr std::string_view kAlphabet =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

constexpr uint8_t kInvalid = 0xFF;

constexpr std::array<uint8_t, 256> DecodeTable() {
    std::array<uint8_t, 256> table{};
    table.fill(kInvalid);
    for (size_t i = 0; i < kAlphabet.size(); ++i)
        table[static_cast<uint8_t>(kAlphabet[i])] = static_cast<uint8_t>(i);
    return table;
}

constexpr std::array<uint8_t, 256> kDecode = DecodeTable();

} // namespace

std::string Base64Encode(std::string_view bytes) {
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    size_t i = 0;
    for (; i + 3 <= bytes.size(); i += 3) {
        const uint32_t group = (uint32_t{static_cast<uint8_t>(bytes[i])} << 16) |
                               (uint32_t{static_cast<uint8_t>(bytes[i + 1])} << 8) |
                               static_cast<uint8_t>(bytes[i + 2]);
        for (int shift = 18; shift >= 0; shift -= 6)
            out.push_back(kAlphabet[(group >> shift) & 0x3F]);
    }
    const size_t rest = bytes.size() - i;
    if (rest > 0) {
        uint32_t group = uint32_t{static_cast<uint8_t>(bytes[i])} << 16;
        if (rest == 2) group |= uint32_t{static_cast<uint8_t>(bytes[i + 1])} << 8;
        out.push_back(kAlphabet[(group >> 18) & 0x3F]);
        out.push_back(kAlphabet[(group >> 12) & 0x3F]);
        out.push_back(rest == 2 ? kAlphabet[(group >> 6) & 0x3F] : '=');
        out.push_back('=');
    }
    return out;
}

std::optional<std::string> Base64Decode(std::string_view text) {
    if (text.size() % 4 != 0) return std::nullopt;
    std::string out;
    out.reserve(text.size() / 4 * 3);
    for (size_t i = 0; i < text.size(); i += 4) {
        const bool last = i + 4 == text.size();
        const size_t pad = !last ? 0 : text[i + 3] != '=' ? 0 : text[i + 2] != '=' ? 1 : 2;
        uint32_t group = 0;
        for (size_t k = 0; k < 4; ++k) {
            const uint8_t digit = k < 4 - pad ? kDecode[static_cast<uint8_t>(text[i + k])] : 0;
            if (digit == kInvalid) return std::nullopt;
            group = (group << 6) | digit;
        }
        // Bits below the last byte must be zero, so that every text decodes from one encoding.
        if ((pad == 1 && (group & 0xFF) != 0) || (pad == 2 && (group & 0xFFFF) != 0))
            return std::nullopt;
        out.push_back(static_cast<char>(group >> 16));
        if (pad < 2) out.push_back(static_cast<char>((group >> 8) & 0xFF));
        if (pad < 1) out.push_back(static_cast<char>(group & 0xFF));
    }
    return out;
}

} // namespace kestrel
