#pragma once

#include <QFile>
#include <QList>
#include <QString>
#include <QStringList>

// The shared table of name-pattern cases (tests/data/search-cases.tsv): the window's filter, the
// web page's search and the catalogue's search all answer it.
struct SearchCase {
    QString pattern;
    QString name;
    bool folder = false;
    bool expected = false;
    int line = 0;
};

inline QList<SearchCase> ReadSearchCases(const QString& path) {
    QList<SearchCase> cases;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) qFatal("cannot read %s", qPrintable(path));
    int line = 0;
    while (!file.atEnd()) {
        ++line;
        QString text = QString::fromUtf8(file.readLine());
        if (text.endsWith(QLatin1Char('\n'))) text.chop(1);
        if (text.isEmpty() || text.startsWith(QLatin1Char('#'))) continue;
        const QStringList fields = text.split(QLatin1Char('\t'));
        if (fields.size() != 4) qFatal("%s:%d: not four fields", qPrintable(path), line);
        cases.append({fields[0], fields[1], fields[2] == QLatin1String("1"),
                      fields[3] == QLatin1String("1"), line});
    }
    return cases;
}
