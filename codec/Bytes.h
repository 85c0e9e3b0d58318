#pragma once

#include <QByteArray>
#include <QString>
#include <QStringView>
#include <cstdint>
#include <cstring>

namespace treelan {

// Copies a few bytes in words. The export and the listing copy millions of names and numbers of a
// few bytes each; glibc's memcpy is the AVX-512 one on machines that have it, and on some virtual
// machines each call of that costs about as much as copying kilobytes (measured: copying the
// clipboard text of 200,000 rows took 130 ms through memcpy, 30 ms without it).
#if defined(__GNUC__) && !defined(__clang__)
__attribute__((optimize("no-tree-loop-distribute-patterns")))
#endif
inline void
CopyBytes(void* to, const void* from, std::size_t n) {
    if (n > 256) {
        std::memcpy(to, from, n);
        return;
    }
    auto* d = static_cast<unsigned char*>(to);
    const auto* s = static_cast<const unsigned char*>(from);
    for (; n >= 8; n -= 8, d += 8, s += 8) {
        std::uint64_t w;
        __builtin_memcpy(&w, s, 8);
        __builtin_memcpy(d, &w, 8);
    }
    if (n >= 4) {
        std::uint32_t w;
        __builtin_memcpy(&w, s, 4);
        __builtin_memcpy(d, &w, 4);
        n -= 4;
        d += 4;
        s += 4;
    }
    for (; n > 0; --n)
        *d++ = *s++;
}

// QByteArray::append takes its general insert path for every call; the export's inner loops
// append short pieces millions of times, so they use these plain copies instead.
inline void AppendRaw(QByteArray& out, const char* data, qsizetype length) {
    const qsizetype at = out.size();
    out.resize(at + length);
    CopyBytes(out.data() + at, data, std::size_t(length));
}

template <std::size_t N> inline void AppendLiteral(QByteArray& out, const char (&text)[N]) {
    AppendRaw(out, text, qsizetype(N - 1));
}

inline void AppendChar(QByteArray& out, char c) {
    AppendRaw(out, &c, 1);
}

inline void AppendText(QString& out, QStringView text) {
    const qsizetype at = out.size();
    out.resize(at + text.size());
    CopyBytes(out.data() + at, text.data(), std::size_t(text.size()) * sizeof(QChar));
}

} // namespace treelan
