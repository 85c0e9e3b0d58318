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

QString lineText(QByteArray line, bool firstLine) {
    if (firstLine && line.startsWith("\xEF\xBB\xBF")) line.remove(0, 3);
    while (line.endsWith('\n') || line.endsWith('\r'))
        line.chop(1);
    // Bytes that are not UTF-8 (a file saved in a legacy code page) still come through as text.
    return DecodeFileName(line).trimmed();
}

// Looks the key up in the file; false when the file or the key is missing.
bool findProfileValue(const QString& iniPath, const QString& section, const QString& key,
                      QString& value) {
    QFile file(iniPath);
    if (!file.open(QIODevice::ReadOnly)) return false;

    const QString wantedSection = section.trimmed();
    const QString wantedKey = key.trimmed();
    bool inSection = false;
    bool firstLine = true;
    while (!file.atEnd()) {
        // A lone CR ends a line too (files saved with classic Mac line ends): no value spans two
        // lines, and no key hides inside another's value.
        for (const QByteArray& piece : file.readLine().split('\r')) {
            const QString line = lineText(piece, firstLine);
            firstLine = false;
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
    }
    return false;
}

} // namespace

QString ReadProfileString(const QString& iniPath, const QString& section, const QString& key,
                          const QString& defaultText, int bufferSize) {
    QString value;
    if (!findProfileValue(iniPath, section, key, value)) value = defaultText;
    return cutTo(value, bufferSize - 1);
}

} // namespace treelan
