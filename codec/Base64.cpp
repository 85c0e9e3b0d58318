#include "codec/Base64.h"

#include <algorithm>
#include <utility>

namespace treelan {

namespace {

constexpr qsizetype kLineLength = 76;

} // namespace

clsBase64::clsBase64() {
    const char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    for (std::size_t i = 0; i < m_table.size(); ++i)
        m_table[i] = alphabet[i];
}

void clsBase64::Load(const QString& strPathName, QByteArray& pbArrayOutput,
                     const FileReader& read) const {
    pbArrayOutput = read(strPathName);
}

void clsBase64::Encode(const QByteArray& pbArrayInput, QByteArray& pbArrayOutput) const {
    const qsizetype n = pbArrayInput.size();
    const qsizetype r = n % 3;
    // Built aside so that the caller may pass one array as both input and output.
    QByteArray out((n - r) / 3 * 4 + (r > 0 ? 4 : 0), Qt::Uninitialized);
    const auto* in = reinterpret_cast<const unsigned char*>(pbArrayInput.constData());
    char* d = out.data();

    qsizetype i = 0;
    for (; i + 3 <= n; i += 3) {
        const unsigned b0 = in[i], b1 = in[i + 1], b2 = in[i + 2];
        *d++ = m_table[b0 >> 2];
        *d++ = m_table[((b0 & 3) << 4) | (b1 >> 4)];
        *d++ = m_table[((b1 & 15) << 2) | (b2 >> 6)];
        *d++ = m_table[b2 & 63];
    }
    if (r == 1) {
        const unsigned b0 = in[i];
        *d++ = m_table[b0 >> 2];
        *d++ = m_table[(b0 & 3) << 4];
        *d++ = '=';
        *d++ = '=';
    } else if (r == 2) {
        const unsigned b0 = in[i], b1 = in[i + 1];
        *d++ = m_table[b0 >> 2];
        *d++ = m_table[((b0 & 3) << 4) | (b1 >> 4)];
        *d++ = m_table[(b1 & 15) << 2];
        *d++ = '=';
    }
    pbArrayOutput = std::move(out);
}

void clsBase64::ByteArrayToString(const QByteArray& pbArrayInput, QByteArray& strOut) const {
    const qsizetype n = pbArrayInput.size();
    const qsizetype lines = (n + kLineLength - 1) / kLineLength;
    QByteArray out;
    out.reserve(n + lines * 2);
    for (qsizetype p = 0; p < n; p += kLineLength) {
        out.append(pbArrayInput.constData() + p, std::min(kLineLength, n - p));
        out.append("\r\n", 2);
    }
    strOut = std::move(out);
}

} // namespace treelan
