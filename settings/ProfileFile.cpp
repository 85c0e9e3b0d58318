#include "settings/ProfileFile.h"

#include "codec/Utf8.h"

#include <QFile>

namespace treelan {

namespace {

// At most maxLength UTF-16 units, without splitting a surrogate pair.
QString cutTo(const QString& text, qsizetype maxLength) {
    if (maxLength <= 0) return {};
    if (text.size() <= maxLength) return text;
    qsizetype length = maxLength;
    if (text.at(length - 1).isHighSurrogate() && text.at(length).isLowSurrogate()) --length;
    return text.left(length);
}

QString unquoted(const QString& value) {
    if (value.size() >= 2) {
        const QChar first = value.front();
        if ((first == u'"' || first == u'\'') && value.back() == first)
            return value.mid(1, value.size() - 2);
    }
    return value;
}

QString lineText(QByteArrayView line, bool firstLine) {
    if (firstLine && line.startsWith("\xEF\xBB\xBF")) line = line.sliced(3);
    // Bytes that are not UTF-8 (a file saved in a legacy code page) still come through as text.
    return DecodeFileName(line.data(), line.size()).trimmed();
}

// Looks the key up in the content; false when the key is missing.
bool findProfileValue(QByteArrayView content, const QString& section, const QString& key,
                      QString& value) {
    const QString wantedSection = section.trimmed();
    const QString wantedKey = key.trimmed();
    bool inSection = false;
    const char* const text = content.data();
    const qsizetype size = content.size();
    // LF, CR LF and a lone CR all end a line (files saved with classic Mac line ends): no value
    // spans two lines, and no key hides inside another's value.
    for (qsizetype start = 0; start < size;) {
        qsizetype end = start;
        while (end < size && text[end] != '\n' && text[end] != '\r')
            ++end;
        const QString line = lineText(content.sliced(start, end - start), start == 0);
        start = end + 1;
        if (line.isEmpty() || line.front() == u';') continue;
        if (line.front() == u'[') {
            qsizetype close = line.indexOf(u']');
            if (close < 0) close = line.size();
            const QString name = line.mid(1, close - 1).trimmed();
            inSection = name.compare(wantedSection, Qt::CaseInsensitive) == 0;
            continue;
        }
        if (!inSection) continue;
        const qsizetype equals = line.indexOf(u'=');
        if (equals < 0) continue;
        if (line.left(equals).trimmed().compare(wantedKey, Qt::CaseInsensitive) != 0) continue;
        value = unquoted(line.mid(equals + 1).trimmed());
        return true;
    }
    return false;
}

} // namespace

QString ProfileStringIn(QByteArrayView content, const QString& section, const QString& key,
                        const QString& defaultText, int bufferSize) {
    QString value;
    if (!findProfileValue(content, section, key, value)) value = defaultText;
    return cutTo(value, bufferSize - 1);
}

QString ReadProfileString(const QString& iniPath, const QString& section, const QString& key,
                          const QString& defaultText, int bufferSize) {
    QFile file(iniPath);
    // A string file is small; a missing or unreadable one gives the default.
    if (!file.open(QIODevice::ReadOnly)) return cutTo(defaultText, bufferSize - 1);
    return ProfileStringIn(file.readAll(), section, key, defaultText, bufferSize);
}

} // namespace treelan
