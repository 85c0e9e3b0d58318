#include "listing/EntryFormat.h"

#include "codec/Bytes.h"

#include <QByteArray>

namespace treelan {

namespace {

constexpr qint64 kFileTimeUnitsPerSecond = 10'000'000;
constexpr qint64 kSecondsFrom1601To1970 = 11'644'473'600;

// Civil date from days since 1970-01-01 (proleptic Gregorian).
void civilFromDays(qint64 days, qint64& year, int& month, int& day) {
    days += 719468;
    const qint64 era = (days >= 0 ? days : days - 146096) / 146097;
    const qint64 doe = days - era * 146097;
    const qint64 yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const qint64 doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const qint64 mp = (5 * doy + 2) / 153;
    day = int(doy - (153 * mp + 2) / 5 + 1);
    month = int(mp < 10 ? mp + 3 : mp - 9);
    year = yoe + era * 400 + (month <= 2 ? 1 : 0);
}

} // namespace

void AppendDecimal(QByteArray& out, quint64 value, int width) {
    char digits[24];
    int n = 0;
    do {
        digits[n++] = char('0' + value % 10);
        value /= 10;
    } while (value > 0);
    while (n < width && n < int(sizeof digits))
        digits[n++] = '0';
    char text[24];
    for (int i = 0; i < n; ++i)
        text[i] = digits[n - 1 - i];
    AppendRaw(out, text, n);
}

void AppendSizeText(QByteArray& out, qint64 bytes) {
    // Half up without adding 512 first, which overflows for sizes near 2^63.
    const qint64 kb = bytes <= 0 ? 0 : bytes / 1024 + (bytes % 1024 >= 512 ? 1 : 0);
    if (kb >= 1000) {
        AppendDecimal(out, quint64(kb / 1000));
        const int low = int(kb % 1000);
        const char digits[4] = {' ', char('0' + low / 100), char('0' + low / 10 % 10),
                                char('0' + low % 10)};
        AppendRaw(out, digits, 4);
    } else {
        AppendDecimal(out, quint64(kb));
    }
    AppendLiteral(out, " kB");
}

void AppendListingSizeText(QByteArray& out, qint64 bytes) {
    // Rounds as AppendSizeText does; below 999.5 kB the number has at most three digits.
    if (bytes < 999 * 1024 + 512) AppendChar(out, ' ');
    AppendSizeText(out, bytes);
}

QString FormatSizeText(qint64 bytes) {
    QByteArray text;
    text.reserve(32);
    AppendListingSizeText(text, bytes);
    return QString::fromLatin1(text);
}

void AppendDateText(QByteArray& out, qint64 fileTime) {
    // A FILETIME starts at 1601: earlier values are shown as its start, never as a negative year.
    const qint64 seconds =
        qMax<qint64>(fileTime, 0) / kFileTimeUnitsPerSecond - kSecondsFrom1601To1970;
    qint64 days = seconds / 86400;
    if (seconds % 86400 < 0) --days;
    qint64 year;
    int month, day;
    civilFromDays(days, year, month, day);
    AppendDecimal(out, quint64(day));
    AppendChar(out, '.');
    AppendDecimal(out, quint64(month));
    AppendChar(out, '.');
    AppendDecimal(out, quint64(year));
}

QString FormatDateText(qint64 fileTime) {
    QByteArray text;
    text.reserve(32);
    AppendDateText(text, fileTime);
    return QString::fromLatin1(text);
}

} // namespace treelan
