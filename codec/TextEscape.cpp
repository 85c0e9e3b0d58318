#include "codec/TextEscape.h"

#include "codec/Bytes.h"
#include "codec/Utf8.h"

namespace treelan {

namespace {

constexpr char kHex[] = "0123456789ABCDEF";

// DEL needs no escape in JSON, but ncdu's reader refuses it raw.
bool jsonSpecial(unsigned char b) {
    return b < 0x20 || b == '"' || b == '\\' || b == 0x7F;
}

bool unreserved(unsigned char b) {
    return (b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z') || (b >= '0' && b <= '9') || b == '-' ||
           b == '.' || b == '_' || b == '~';
}

} // namespace

void AppendJsonBytes(QByteArray& out, const char* bytes, qsizetype length) {
    AppendChar(out, '"');
    AppendJsonEscaped(out, bytes, length);
    AppendChar(out, '"');
}

void AppendJsonEscaped(QByteArray& out, const char* bytes, qsizetype length) {
    const auto* p = reinterpret_cast<const unsigned char*>(bytes);
    qsizetype plain = 0;
    while (plain < length && !jsonSpecial(p[plain]))
        ++plain;
    if (plain == length) {
        AppendRaw(out, bytes, length);
        return;
    }
    // Worst case six bytes (\u00XX) per byte after the plain run.
    const qsizetype at = out.size();
    out.resize(at + plain + (length - plain) * 6);
    char* d = out.data() + at;
    CopyBytes(d, bytes, std::size_t(plain));
    d += plain;
    for (qsizetype i = plain; i < length; ++i) {
        const unsigned char b = p[i];
        if (!jsonSpecial(b)) {
            *d++ = char(b);
            continue;
        }
        *d++ = '\\';
        switch (b) {
        case '"':
        case '\\':
            *d++ = char(b);
            break;
        case '\b':
            *d++ = 'b';
            break;
        case '\f':
            *d++ = 'f';
            break;
        case '\n':
            *d++ = 'n';
            break;
        case '\r':
            *d++ = 'r';
            break;
        case '\t':
            *d++ = 't';
            break;
        default:
            *d++ = 'u';
            *d++ = '0';
            *d++ = '0';
            *d++ = kHex[b >> 4];
            *d++ = kHex[b & 15];
        }
    }
    out.truncate(d - out.constData());
}

void AppendJsonString(QByteArray& out, QStringView text) {
    // ToUTF8 writes U+FFFD for an unpaired surrogate. It stops at a NUL, which no file name,
    // path or error text holds.
    AppendJsonBytes(out, ToUTF8(text));
}

void AppendPercentEncoded(QByteArray& out, const char* bytes, qsizetype length) {
    const auto* p = reinterpret_cast<const unsigned char*>(bytes);
    const qsizetype at = out.size();
    out.resize(at + length * 3);
    char* d = out.data() + at;
    for (qsizetype i = 0; i < length; ++i) {
        const unsigned char b = p[i];
        if (unreserved(b)) {
            *d++ = char(b);
        } else {
            *d++ = '%';
            *d++ = kHex[b >> 4];
            *d++ = kHex[b & 15];
        }
    }
    out.truncate(d - out.constData());
}

void AppendCsvField(QByteArray& out, const char* utf8, qsizetype length, char separator) {
    const bool guard = length > 0 && NeedsFormulaGuard(utf8[0]);
    qsizetype quotes = 0;
    bool quote = false;
    for (qsizetype i = 0; i < length; ++i) {
        const char c = utf8[i];
        if (c == '"') ++quotes;
        quote |= c == '"' || c == separator || c == '\r' || c == '\n';
    }
    if (!quote && !guard) {
        AppendRaw(out, utf8, length);
        return;
    }
    const qsizetype at = out.size();
    out.resize(at + length + quotes + (guard ? 1 : 0) + (quote ? 2 : 0));
    char* d = out.data() + at;
    if (quote) *d++ = '"';
    if (guard) *d++ = '\'';
    for (qsizetype i = 0; i < length; ++i) {
        if (utf8[i] == '"') *d++ = '"';
        *d++ = utf8[i];
    }
    if (quote) *d++ = '"';
}

} // namespace treelan
