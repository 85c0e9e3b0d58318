// File-name decoder and UTF-8 encoder. The first byte picks the input's reading:
// even: raw name bytes, decoded and encoded again; odd: UTF-16 code units, encoded.
#include "FuzzCheck.h"

#include "codec/Utf8.h"

#include <QStringDecoder>

#include <cstring>

namespace {

// The bytes up to the first NUL, where ToUTF8 stops.
QByteArray beforeNul(const QByteArray& bytes) {
    const qsizetype nul = bytes.indexOf('\0');
    return nul < 0 ? bytes : bytes.left(nul);
}

void checkName(const QByteArray& name) {
    const QString text = treelan::DecodeFileName(name);
    const QByteArray utf8 = treelan::ToUTF8(text);
    FUZZ_CHECK(DecodesExactly(utf8.constData(), std::size_t(utf8.size())), "output is valid UTF-8");
    FUZZ_CHECK(!utf8.contains('\0'), "no NUL in the output");
    const QByteArray kept = beforeNul(name);
    // A valid name comes back byte for byte; any other keeps its length at least (every stray
    // byte becomes a character of its own) and its ASCII bytes in order.
    if (DecodesExactly(kept.constData(), std::size_t(kept.size())))
        FUZZ_CHECK(utf8 == kept, "a valid name loses nothing");
    FUZZ_CHECK(utf8.size() >= kept.size(), "no byte dropped");
    QByteArray asciiIn, asciiOut;
    for (const char c : kept)
        if (uchar(c) < 0x80) asciiIn += c;
    for (const char c : utf8)
        if (uchar(c) < 0x80) asciiOut += c;
    FUZZ_CHECK(asciiIn == asciiOut, "ASCII bytes kept in order");
}

void checkText(const std::uint8_t* data, std::size_t size) {
    QString text(qsizetype(size / 2), Qt::Uninitialized);
    std::memcpy(text.data(), data, size / 2 * 2);
    const QByteArray utf8 = treelan::ToUTF8(text);
    FUZZ_CHECK(DecodesExactly(utf8.constData(), std::size_t(utf8.size())), "output is valid UTF-8");
    // Qt's decoder gives the text back up to its first NUL, with every unpaired surrogate as
    // U+FFFD.
    QString expected = treelan::CutAtNul(text);
    for (qsizetype i = 0; i < expected.size(); ++i) {
        const QChar c = expected[i];
        if (c.isHighSurrogate() && i + 1 < expected.size() && expected[i + 1].isLowSurrogate()) {
            ++i;
            continue;
        }
        if (c.isSurrogate()) expected[i] = QChar::ReplacementCharacter;
    }
    // ConvertInitialBom: a leading U+FEFF is text of the name, not a mark to drop.
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::ConvertInitialBom);
    const QString back = decoder.decode(utf8);
    FUZZ_CHECK(!decoder.hasError() && back == expected, "the text comes back");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    if (data[0] & 1)
        checkText(data + 1, size - 1);
    else
        checkName(QByteArray(reinterpret_cast<const char*>(data + 1), qsizetype(size - 1)));
    return 0;
}
