#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QTest>

// An expected output kept under tests/data, with @ROOT@ standing for the fixture's root path.
inline QByteArray expectedFile(const QString& relative, const QString& root = {}) {
    QFile file(QStringLiteral(TREELAN_TEST_DATA "/") + relative);
    if (!file.open(QIODevice::ReadOnly)) qFatal("missing expected file %s", qPrintable(relative));
    QByteArray bytes = file.readAll();
    bytes.replace("@ROOT@", root.toUtf8());
    return bytes;
}

// Compares line by line, so that a failure names the first line that differs.
inline bool sameLines(const QByteArray& actual, const QByteArray& expected) {
    const QList<QByteArray> a = actual.split('\n'), e = expected.split('\n');
    for (qsizetype i = 0; i < qMin(a.size(), e.size()); ++i)
        if (a[i] != e[i]) {
            qWarning("line %lld differs:\n  actual:   %s\n  expected: %s", qlonglong(i + 1),
                     a[i].constData(), e[i].constData());
            return false;
        }
    if (a.size() != e.size()) {
        qWarning("%lld lines, expected %lld", qlonglong(a.size()), qlonglong(e.size()));
        return false;
    }
    return true;
}
