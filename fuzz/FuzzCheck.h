#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

// A property that a parser must keep. A broken one aborts, which libFuzzer records as a finding
// with its input and the standalone driver reports as a failed run.
#define FUZZ_CHECK(condition, what)                                                                \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            std::fprintf(stderr, "%s:%d: property broken: %s (%s)\n", __FILE__, __LINE__, what,    \
                         #condition);                                                              \
            std::abort();                                                                          \
        }                                                                                          \
    } while (false)

// Strict UTF-8 (RFC 3629): no overlong forms, no surrogates, nothing above U+10FFFF. Written here
// rather than taken from the code under test, so that the two can disagree.
inline bool DecodesExactly(const char* text, std::size_t length) {
    const auto* s = reinterpret_cast<const unsigned char*>(text);
    std::size_t i = 0;
    while (i < length) {
        const unsigned char c = s[i];
        std::size_t n = 0;
        std::uint32_t cp = 0;
        if (c < 0x80) {
            ++i;
            continue;
        }
        if (c >= 0xC2 && c <= 0xDF)
            n = 1, cp = c & 0x1F;
        else if (c >= 0xE0 && c <= 0xEF)
            n = 2, cp = c & 0x0F;
        else if (c >= 0xF0 && c <= 0xF4)
            n = 3, cp = c & 0x07;
        else
            return false;
        if (i + n >= length) return false; // cut short
        for (std::size_t k = 1; k <= n; ++k) {
            if ((s[i + k] & 0xC0) != 0x80) return false;
            cp = cp << 6 | (s[i + k] & 0x3F);
        }
        if ((n == 2 && cp < 0x800) || (n == 3 && (cp < 0x10000 || cp > 0x10FFFF))) return false;
        if (cp >= 0xD800 && cp <= 0xDFFF) return false;
        i += n + 1;
    }
    return true;
}
