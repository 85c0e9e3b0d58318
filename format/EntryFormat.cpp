#include "format/EntryFormat.h"

#include "codec/Bytes.h"

#include <QByteArray>
#include <QHash>
#include <QMimeDatabase>

#include <array>
#include <mutex>

namespace treelan {

namespace {

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

void AppendByteTotal(QByteArray& out, ByteTotal value) {
    // In two halves of up to 19 digits each: 10^19 fits in 64 bits, and 128 bits hold fewer than
    // 39 digits, so the upper part's own upper part fits too.
    constexpr quint64 kTen19 = 10'000'000'000'000'000'000ull;
    if (value <= ByteTotal(~quint64(0))) {
        AppendDecimal(out, quint64(value));
        return;
    }
    const ByteTotal high = value / kTen19;
    AppendByteTotal(out, high);
    AppendDecimal(out, quint64(value - high * kTen19), 19);
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

void AppendSignedDecimal(QByteArray& out, qint64 value) {
    if (value < 0) AppendChar(out, '-');
    // Unsigned negation: the lowest qint64 has no positive counterpart.
    AppendDecimal(out, value < 0 ? 0 - quint64(value) : quint64(value));
}

namespace {

qint64 daysOf(qint64 unixSeconds, qint64& secondOfDay) {
    qint64 days = unixSeconds / 86400;
    secondOfDay = unixSeconds % 86400;
    if (secondOfDay < 0) {
        --days;
        secondOfDay += 86400;
    }
    return days;
}

} // namespace

void AppendDateText(QByteArray& out, qint64 fileTime) {
    // A FILETIME starts at 1601: earlier values are shown as its start, never as a negative year.
    qint64 secondOfDay;
    const qint64 days = daysOf(UnixSecondsFromFileTime(qMax<qint64>(fileTime, 0)), secondOfDay);
    qint64 year;
    int month, day;
    civilFromDays(days, year, month, day);
    AppendDecimal(out, quint64(day));
    AppendChar(out, '.');
    AppendDecimal(out, quint64(month));
    AppendChar(out, '.');
    AppendDecimal(out, quint64(year));
}

void AppendIsoTime(QByteArray& out, qint64 fileTime) {
    qint64 secondOfDay;
    const qint64 days = daysOf(UnixSecondsFromFileTime(fileTime), secondOfDay);
    qint64 year;
    int month, day;
    civilFromDays(days, year, month, day);
    // ISO 8601's expanded form for years beyond four digits or before year 0.
    if (year < 0 || year > 9999) AppendChar(out, year < 0 ? '-' : '+');
    AppendDecimal(out, quint64(year < 0 ? -year : year), 4);
    const int hms = int(secondOfDay);
    const char tail[] = {'-', char('0' + month / 10),       char('0' + month % 10),
                         '-', char('0' + day / 10),         char('0' + day % 10),
                         'T', char('0' + hms / 36000),      char('0' + hms / 3600 % 10),
                         ':', char('0' + hms % 3600 / 600), char('0' + hms % 600 / 60),
                         ':', char('0' + hms % 60 / 10),    char('0' + hms % 10),
                         'Z'};
    AppendRaw(out, tail, qsizetype(sizeof tail));
}

QString StripTerminator(const QString& text) {
    const qsizetype nul = text.indexOf(QChar(0));
    return nul < 0 ? text : text.left(nul);
}

QString TypeNameForFile(const QString& name) {
    // The MIME database is slow to ask; a listing has few distinct extensions.
    // Per thread: a scan in the background and one in the foreground (a test, the command line)
    // may ask at once.
    thread_local QHash<QString, QString> cache;
    static const QMimeDatabase db;
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    // A few recent extensions answer most calls without building a key.
    struct Recent {
        QString extension, typeName;
    };
    thread_local std::array<Recent, 8> recent;
    thread_local std::size_t nextRecent = 0;
    const QStringView extension = dot >= 0 ? QStringView(name).mid(dot + 1) : QStringView();
    if (dot >= 0)
        for (const Recent& r : recent)
            if (!r.extension.isNull() && extension.compare(r.extension, Qt::CaseInsensitive) == 0)
                return r.typeName;
    // Like the shell's type names, these go by the extension alone: every name without one gets
    // the same type. (Asking the database about each such name would also cost 45 us a file.)
    const QString key = dot >= 0 ? name.mid(dot + 1).toLower() : QString();
    const QString probe = dot >= 0 ? name : QStringLiteral("file");
    auto it = cache.constFind(key);
    if (it == cache.constEnd()) {
        // The database's texts are made under its own lock, which a thread checker cannot see;
        // ours orders every lookup, and the text kept is a copy of our own.
        static std::mutex dbLock;
        QString typeName;
        {
            std::lock_guard guard(dbLock);
            const QString comment =
                db.mimeTypeForFile(probe, QMimeDatabase::MatchExtension).comment();
            typeName = StripTerminator(QString(comment.constData(), comment.size()));
        }
        it = cache.insert(key, typeName);
    }
    if (dot >= 0) recent[nextRecent++ % recent.size()] = {key, *it};
    return *it;
}

} // namespace treelan
