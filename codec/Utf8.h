#pragma once

#include <QByteArray>
#include <QString>
#include <QStringView>

namespace treelan {

constexpr quint32 kCodePageUtf8 = 65001;

// UTF-8 bytes of the text up to its first NUL; never holds a NUL byte.
// Unpaired surrogates are written as U+FFFD.
QByteArray ToUTF8(QStringView text);

// Conversion to a code page. Only UTF-8 (65001) is supported here; any other code page gives an
// empty result, as does a failing conversion.
QByteArray ToMultiByte(QStringView text, quint32 codePage, quint32 flags);

// The part of the text before its first NUL, or the whole text.
QString CutAtNul(const QString& text);

// Decodes a raw file name. Valid UTF-8 sequences are decoded as such; every byte that is not part
// of a valid sequence stands for its Latin-1 character, so legacy names stay readable. The text is
// for display and export only: a Latin-1 byte and its UTF-8 form decode alike, so keep the raw
// bytes to open the file.
QString DecodeFileName(const char* bytes, qsizetype length);
inline QString DecodeFileName(const QByteArray& bytes) {
    return DecodeFileName(bytes.constData(), bytes.size());
}
// A command-line argument as text that keeps its bytes: valid UTF-8 is decoded, every other byte
// becomes a lone surrogate U+DC80..U+DCFF. EncodeArgument gives back exactly the bytes, so an
// argument can pass through a text-based option parser and still name a file that is not UTF-8.
// Show it to the user through DecodeFileName(EncodeArgument(text)).
QString DecodeArgument(const QByteArray& bytes);
QByteArray EncodeArgument(QStringView text);

// True when the bytes are well-formed UTF-8 (no overlong forms, surrogates or values above
// U+10FFFF), i.e. ToUTF8(DecodeFileName(bytes)) gives them back; false when the decoded text
// stands for them only approximately.
bool DecodesExactly(const char* bytes, qsizetype length);
inline bool DecodesExactly(const QByteArray& bytes) {
    return DecodesExactly(bytes.constData(), bytes.size());
}

} // namespace treelan
