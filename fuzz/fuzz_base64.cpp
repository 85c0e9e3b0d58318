// Base64 encoder: Qt's decoder gives the input back, the text uses only the alphabet, and its
// line form is the same text cut into CR LF lines of 76 characters.
#include "FuzzCheck.h"

#include "codec/Base64.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray input(reinterpret_cast<const char*>(data), qsizetype(size));
    const treelan::clsBase64 base64;
    QByteArray text("stale");
    base64.Encode(input, text);

    FUZZ_CHECK(text.size() == (input.size() + 2) / 3 * 4, "four characters per three bytes");
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char c = text[i];
        const bool alphabet = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                              (c >= '0' && c <= '9') || c == '+' || c == '/';
        const bool padding = c == '=' && i >= text.size() - 2;
        FUZZ_CHECK(alphabet || padding, "standard alphabet, padding only at the end");
    }
    const auto decoded =
        QByteArray::fromBase64Encoding(text, QByteArray::AbortOnBase64DecodingErrors);
    FUZZ_CHECK(decoded.decodingStatus == QByteArray::Base64DecodingStatus::Ok, "decodes");
    FUZZ_CHECK(decoded.decoded == input, "decodes to the input");

    QByteArray lines;
    base64.ByteArrayToString(text, lines);
    QByteArray joined;
    qsizetype at = 0;
    while (at < lines.size()) {
        const qsizetype end = lines.indexOf("\r\n", at);
        FUZZ_CHECK(end >= 0, "every line ends with CR LF");
        FUZZ_CHECK(end - at <= 76, "lines of at most 76 characters");
        FUZZ_CHECK(end - at == 76 || end + 2 == lines.size(), "only the last line is short");
        joined += lines.mid(at, end - at);
        at = end + 2;
    }
    FUZZ_CHECK(joined == text, "the lines hold the encoded text");
    return 0;
}
