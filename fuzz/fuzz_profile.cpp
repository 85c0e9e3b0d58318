// Profile (string file) reader over arbitrary file contents, read from memory as the file reader
// reads it once loaded. Besides the lookups of every key that the program asks for, a section put
// before the input must be found with its value.
#include "FuzzCheck.h"

#include "settings/ProfileFile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray input(reinterpret_cast<const char*>(data), qsizetype(size));
    for (int key = 100; key <= 190; key += 3) {
        const QString value = treelan::ProfileStringIn(input, QStringLiteral("GUI_Strings"),
                                                       QString::number(key), {}, 255);
        FUZZ_CHECK(value.size() <= 254, "values cut at 254");
        FUZZ_CHECK(!value.contains(u'\n') && !value.contains(u'\r'), "a value is one line");
    }
    FUZZ_CHECK(treelan::ProfileStringIn(input, QStringLiteral("GUI_Strings"), QStringLiteral("101"),
                                        QStringLiteral("x"), 1)
                   .isEmpty(),
               "a buffer of one holds nothing");

    // A value made of the input's letters and digits, in a section of its own put before the
    // input, is found as written: blanks and one pair of quotes around it dropped.
    QByteArray value;
    for (const char c : input)
        if ((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')) value += c;
    value = value.left(200);
    const QString found = treelan::ProfileStringIn(
        "[Fuzz_Section]\r\n  fuzz_key =  \"" + value + "\"  \r\n" + input,
        QStringLiteral("FUZZ_SECTION"), QStringLiteral("Fuzz_Key"), {}, 255);
    FUZZ_CHECK(found == QString::fromLatin1(value), "a section's value is found");
    return 0;
}
