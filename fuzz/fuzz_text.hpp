// Text helpers shared by the fuzz targets, written apart from the core so that
// a fault in the core's own trimming or decoding is not mirrored here.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

namespace korvel::fuzz {

// The Python boundary only ever hands the core valid UTF-8, so the targets
// feed nothing else: every byte that does not start a well-formed sequence
// (overlong forms, surrogates and code points past U+10FFFF included) becomes
// U+FFFD, which keeps the mutated input useful instead of discarding it.
inline std::string repair_utf8(std::string_view in) {
    std::string out;
    out.reserve(in.size());
    std::size_t i = 0;
    while (i < in.size()) {
        const auto b0 = static_cast<unsigned char>(in[i]);
        std::size_t len = 0;
        char32_t cp = 0;
        if (b0 < 0x80) {
            len = 1;
            cp = b0;
        } else if (b0 >= 0xC2 && b0 <= 0xDF) {
            len = 2;
            cp = b0 & 0x1F;
        } else if (b0 >= 0xE0 && b0 <= 0xEF) {
            len = 3;
            cp = b0 & 0x0F;
        } else if (b0 >= 0xF0 && b0 <= 0xF4) {
            len = 4;
            cp = b0 & 0x07;
        }
        bool ok = len != 0 && i + len <= in.size();
        for (std::size_t k = 1; ok && k < len; ++k) {
            const auto b = static_cast<unsigned char>(in[i + k]);
            ok = (b & 0xC0) == 0x80;
            cp = (cp << 6) | (b & 0x3F);
        }
        if (ok) {
            ok = (len != 3 || (cp >= 0x800 && (cp < 0xD800 || cp > 0xDFFF))) &&
                 (len != 4 || (cp >= 0x10000 && cp <= 0x10FFFF));
        }
        if (ok) {
            out.append(in.substr(i, len));
            i += len;
        } else {
            out.append("\xEF\xBF\xBD");
            ++i;
        }
    }
    return out;
}

// Decodes the code point at `i` of valid UTF-8 and its length in bytes.
inline char32_t decode_at(std::string_view s, std::size_t i, std::size_t& len) {
    const auto b0 = static_cast<unsigned char>(s[i]);
    len = b0 < 0x80 ? 1 : b0 < 0xE0 ? 2 : b0 < 0xF0 ? 3 : 4;
    char32_t cp = len == 1 ? b0 : len == 2 ? (b0 & 0x1F) : len == 3 ? (b0 & 0x0F) : (b0 & 0x07);
    for (std::size_t k = 1; k < len; ++k) cp = (cp << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3F);
    return cp;
}

// The 25 code points with the Unicode White_Space property.
inline bool is_white_space(char32_t c) {
    return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
           (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F ||
           c == 0x3000;
}

// Trim both ends of valid UTF-8, one code point at a time.
inline std::string_view trim(std::string_view s) {
    std::size_t begin = 0;
    while (begin < s.size()) {
        std::size_t len = 0;
        if (!is_white_space(decode_at(s, begin, len))) break;
        begin += len;
    }
    std::size_t end = s.size();
    while (end > begin) {
        std::size_t start = end - 1;
        while (start > begin && (static_cast<unsigned char>(s[start]) & 0xC0) == 0x80) --start;
        std::size_t len = 0;
        if (!is_white_space(decode_at(s, start, len))) break;
        end = start;
    }
    return s.substr(begin, end - begin);
}

inline std::string lower_ascii(std::string_view s) {
    std::string out(s);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return out;
}

inline std::string upper_ascii(std::string_view s) {
    std::string out(s);
    for (char& c : out) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return out;
}

inline bool valid_utf8(std::string_view s) { return repair_utf8(s) == s; }

// A broken invariant: say which and abort, so libFuzzer keeps the input.
[[noreturn]] inline void fail(const char* what, std::string_view input) {
    std::fprintf(stderr, "invariant broken: %s\ninput (%zu bytes):", what, input.size());
    for (unsigned char c : input) std::fprintf(stderr, " %02x", c);
    std::fprintf(stderr, "\n");
    std::abort();
}

}  // namespace korvel::fuzz
