#include "codec/Utf8.h"

namespace treelan {

namespace {

constexpr char16_t kReplacement = 0xFFFD;

bool isHighSurrogate(char16_t u) {
    return u >= 0xD800 && u <= 0xDBFF;
}
bool isLowSurrogate(char16_t u) {
    return u >= 0xDC00 && u <= 0xDFFF;
}

// Every exported name goes through here, so it writes into a buffer sized for the worst case
// (three bytes per UTF-16 unit) and trims once, instead of growing byte by byte.
QByteArray encodeUtf8(const char16_t* src, qsizetype length) {
    qsizetype ascii = 0;
    while (ascii < length && src[ascii] < 0x80)
        ++ascii;

    // Names are mostly ASCII: a plain narrowing copy.
    if (ascii == length) {
        QByteArray out(length, Qt::Uninitialized);
        char* d = out.data();
        for (qsizetype i = 0; i < length; ++i)
            d[i] = static_cast<char>(src[i]);
        return out;
    }

    QByteArray out(ascii + (length - ascii) * 3, Qt::Uninitialized);
    auto* d = reinterpret_cast<unsigned char*>(out.data());
    for (qsizetype i = 0; i < ascii; ++i)
        *d++ = static_cast<unsigned char>(src[i]);

    for (qsizetype i = ascii; i < length; ++i) {
        char32_t c = src[i];
        if (c < 0x80) {
            *d++ = static_cast<unsigned char>(c);
            continue;
        }
        if (c < 0x800) {
            *d++ = static_cast<unsigned char>(0xC0 | (c >> 6));
            *d++ = static_cast<unsigned char>(0x80 | (c & 0x3F));
            continue;
        }
        if (isHighSurrogate(src[i]) && i + 1 < length && isLowSurrogate(src[i + 1])) {
            c = 0x10000 + ((c - 0xD800) << 10) + (src[i + 1] - 0xDC00);
            ++i;
            *d++ = static_cast<unsigned char>(0xF0 | (c >> 18));
            *d++ = static_cast<unsigned char>(0x80 | ((c >> 12) & 0x3F));
            *d++ = static_cast<unsigned char>(0x80 | ((c >> 6) & 0x3F));
            *d++ = static_cast<unsigned char>(0x80 | (c & 0x3F));
            continue;
        }
        // A lone surrogate has no UTF-8 form; the replacement character keeps the output valid.
        if (isHighSurrogate(src[i]) || isLowSurrogate(src[i])) c = kReplacement;
        *d++ = static_cast<unsigned char>(0xE0 | (c >> 12));
        *d++ = static_cast<unsigned char>(0x80 | ((c >> 6) & 0x3F));
        *d++ = static_cast<unsigned char>(0x80 | (c & 0x3F));
    }
    out.truncate(reinterpret_cast<char*>(d) - out.constData());
    return out;
}

qsizetype lengthToNul(QStringView text) {
    const qsizetype nul = text.indexOf(QChar(u'\0'));
    return nul < 0 ? text.size() : nul;
}

bool isContinuation(unsigned char b) {
    return (b & 0xC0) == 0x80;
}

// Length of the valid UTF-8 sequence at p (at most `left` bytes available), or 0 when the bytes
// there do not form one: overlong forms, surrogates and values above U+10FFFF are refused.
int validSequenceLength(const unsigned char* p, qsizetype left) {
    const unsigned char b0 = p[0];
    if (b0 >= 0xC2 && b0 <= 0xDF) return left >= 2 && isContinuation(p[1]) ? 2 : 0;
    if (b0 >= 0xE0 && b0 <= 0xEF) {
        if (left < 3 || !isContinuation(p[1]) || !isContinuation(p[2])) return 0;
        if (b0 == 0xE0 && p[1] < 0xA0) return 0; // overlong
        if (b0 == 0xED && p[1] > 0x9F) return 0; // surrogate
        return 3;
    }
    if (b0 >= 0xF0 && b0 <= 0xF4) {
        if (left < 4 || !isContinuation(p[1]) || !isContinuation(p[2]) || !isContinuation(p[3]))
            return 0;
        if (b0 == 0xF0 && p[1] < 0x90) return 0; // overlong
        if (b0 == 0xF4 && p[1] > 0x8F) return 0; // above U+10FFFF
        return 4;
    }
    return 0;
}

} // namespace

QByteArray ToUTF8(QStringView text) {
    if (text.isEmpty()) return {};
    return ToMultiByte(text, kCodePageUtf8, 0);
}

QByteArray ToMultiByte(QStringView text, quint32 codePage, quint32 flags) {
    // The flags only tune how unconvertible characters are handled; UTF-8 has none of those.
    Q_UNUSED(flags);
    if (codePage != kCodePageUtf8) return {};
    return encodeUtf8(text.utf16(), lengthToNul(text));
}

QString CutAtNul(const QString& text) {
    const qsizetype nul = text.indexOf(QChar(u'\0'));
    return nul < 0 ? text : text.left(nul);
}

bool DecodesExactly(const char* bytes, qsizetype length) {
    const auto* p = reinterpret_cast<const unsigned char*>(bytes);
    for (qsizetype i = 0; i < length;) {
        if (p[i] < 0x80) {
            ++i;
            continue;
        }
        const int n = validSequenceLength(p + i, length - i);
        if (n == 0) return false;
        i += n;
    }
    return true;
}

namespace {

// Decodes UTF-8; a byte that is not part of a valid sequence becomes `invalidBase` + the byte.
QString decode(const char* bytes, qsizetype length, char16_t invalidBase) {
    if (length <= 0) return {};
    const auto* p = reinterpret_cast<const unsigned char*>(bytes);

    qsizetype ascii = 0;
    while (ascii < length && p[ascii] < 0x80)
        ++ascii;
    if (ascii == length) return QString::fromLatin1(bytes, length);

    // Never more UTF-16 units than bytes: 1, 2 and 3 bytes give one unit, 4 bytes give two.
    QString out(length, Qt::Uninitialized);
    char16_t* d = reinterpret_cast<char16_t*>(out.data());
    for (qsizetype i = 0; i < ascii; ++i)
        *d++ = p[i];

    qsizetype i = ascii;
    while (i < length) {
        const unsigned char b0 = p[i];
        if (b0 < 0x80) {
            *d++ = b0;
            ++i;
            continue;
        }
        const int n = validSequenceLength(p + i, length - i);
        if (n == 0) {
            *d++ = static_cast<char16_t>(invalidBase + b0);
            ++i;
            continue;
        }
        char32_t c = b0 & (0x7F >> n);
        for (int k = 1; k < n; ++k)
            c = (c << 6) | (p[i + k] & 0x3F);
        if (c >= 0x10000) {
            c -= 0x10000;
            *d++ = static_cast<char16_t>(0xD800 + (c >> 10));
            *d++ = static_cast<char16_t>(0xDC00 + (c & 0x3FF));
        } else {
            *d++ = static_cast<char16_t>(c);
        }
        i += n;
    }
    out.truncate(d - reinterpret_cast<const char16_t*>(out.constData()));
    return out;
}

// Where DecodeArgument puts a byte that is not UTF-8: U+DC80..U+DCFF, lone low surrogates that no
// valid UTF-8 sequence decodes to, so the mapping can be undone exactly.
constexpr char16_t kEscapeBase = 0xDC00;

} // namespace

QString DecodeFileName(const char* bytes, qsizetype length) {
    // Not UTF-8: the byte stands for its Latin-1 character, so the name stays readable.
    return decode(bytes, length, 0);
}

QString DecodeArgument(const QByteArray& bytes) {
    return decode(bytes.constData(), bytes.size(), kEscapeBase);
}

QByteArray EncodeArgument(QStringView text) {
    QByteArray out;
    out.reserve(text.size());
    qsizetype from = 0; // start of the run not yet encoded
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t u = text[i].unicode();
        if (u < kEscapeBase + 0x80 || u > kEscapeBase + 0xFF) continue;
        // A lone escape (not the second half of a pair) stands for its byte.
        if (i > 0 && isHighSurrogate(text[i - 1].unicode())) continue;
        out += encodeUtf8(text.utf16() + from, i - from);
        out += static_cast<char>(u - kEscapeBase);
        from = i + 1;
    }
    out += encodeUtf8(text.utf16() + from, text.size() - from);
    return out;
}

} // namespace treelan
