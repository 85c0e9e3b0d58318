#pragma once

#include <QByteArray>
#include <cstring>

namespace treelan {

// QByteArray::append takes its general insert path for every call; the export's inner loops
// append short pieces millions of times, so they use these plain copies instead.
inline void AppendRaw(QByteArray& out, const char* data, qsizetype length) {
    const qsizetype at = out.size();
    out.resize(at + length);
    std::memcpy(out.data() + at, data, std::size_t(length));
}

template <std::size_t N> inline void AppendLiteral(QByteArray& out, const char (&text)[N]) {
    AppendRaw(out, text, qsizetype(N - 1));
}

inline void AppendChar(QByteArray& out, char c) {
    AppendRaw(out, &c, 1);
}

} // namespace treelan
