#include "export/XmlText.h"

#include "codec/Utf8.h"

namespace treelan {

namespace {

// U+FFFE and U+FFFF are valid UTF-8 in a name but no XML character: a parser stops there.
bool needsEscape(char16_t c) {
    return c < 0x20 || c == u'&' || c == u'<' || c == u'>' || c == u'"' || c == 0x7F || c >= 0xFFFE;
}

} // namespace

void AppendNormalized(QByteArray& out, QStringView text) {
    // ASCII text, the common case, is written byte by byte straight into the output.
    const qsizetype n = text.size();
    const auto* src = reinterpret_cast<const char16_t*>(text.utf16());
    bool ascii = true;
    qsizetype extra = 0;
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t c = src[i];
        if (c >= 0x80) {
            ascii = false;
            break;
        }
        if (needsEscape(c)) extra += 5;
    }
    if (ascii) {
        const qsizetype start = out.size();
        out.resize(start + n + extra);
        char* dst = out.data() + start;
        for (qsizetype i = 0; i < n; ++i) {
            const char16_t c = src[i];
            if (!needsEscape(c)) {
                *dst++ = char(c);
                continue;
            }
            const char* rep = nullptr;
            char picture[3] = {'\xE2', '\x90', '\0'};
            switch (c) {
            case u'&':
                rep = "&amp;";
                break;
            case u'<':
                rep = "&lt;";
                break;
            case u'>':
                rep = "&gt;";
                break;
            case u'"':
                rep = "&quot;";
                break;
            default:
                // U+2400 + c, or U+2421 for DEL, in UTF-8.
                picture[2] = char(0x80 + (c == 0x7F ? 0x21 : c));
            }
            if (rep) {
                for (; *rep; ++rep)
                    *dst++ = *rep;
            } else {
                for (const char b : picture)
                    *dst++ = b;
            }
        }
        out.resize(dst - out.data());
        return;
    }
    bool plain = true;
    for (const QChar c : text)
        if (needsEscape(c.unicode())) {
            plain = false;
            break;
        }
    if (plain) {
        out.append(ToUTF8(text));
        return;
    }
    QString escaped;
    escaped.reserve(text.size() + 16);
    for (const QChar c : text) {
        switch (c.unicode()) {
        case u'&':
            escaped += QLatin1String("&amp;");
            break;
        case u'<':
            escaped += QLatin1String("&lt;");
            break;
        case u'>':
            escaped += QLatin1String("&gt;");
            break;
        case u'"':
            escaped += QLatin1String("&quot;");
            break;
        case 0x7F:
            escaped += QChar(0x2421);
            break;
        case 0xFFFE:
        case 0xFFFF:
            escaped += QChar::ReplacementCharacter;
            break;
        default:
            escaped += c.unicode() < 0x20 ? QChar(0x2400 + c.unicode()) : c;
        }
    }
    out.append(ToUTF8(escaped));
}

QByteArray Normalize(const QString& text) {
    QByteArray out;
    AppendNormalized(out, text);
    return out;
}

void BreakDelimiter(QByteArray& out, qsizetype from) {
    // Each pass removes one "--x" and makes none: what precedes the new "&" is unchanged.
    for (qsizetype at = out.indexOf("--x", from); at >= 0; at = out.indexOf("--x", at))
        out.replace(at + 1, 1, "&#45;");
}

QByteArray NormalizeForArchive(const QString& text) {
    QByteArray out = Normalize(text);
    BreakDelimiter(out);
    return out;
}

} // namespace treelan
