#include "export/TreeWriter.h"
#include "format/EntryFormat.h"
#include "platform/DirWalker.h"

#include <QDateTime>
#include <QTest>

using namespace treelan;

// The fields that the machine-readable exports write: times in ISO 8601 and epoch seconds, and the
// MP3 figures behind the reader's texts.
class TestFieldTexts : public QObject {
    Q_OBJECT

private slots:
    void isoTime_data() {
        QTest::addColumn<qint64>("seconds");
        QTest::addColumn<qint64>("nanoseconds");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("epoch") << qint64(0) << qint64(0) << QByteArray("1970-01-01T00:00:00Z");
        QTest::newRow("fixture time")
            << qint64(1078315200) << qint64(0) << QByteArray("2004-03-03T12:00:00Z");
        QTest::newRow("fraction rounds down")
            << qint64(1078315200) << qint64(999999999) << QByteArray("2004-03-03T12:00:00Z");
        QTest::newRow("leap day") << qint64(951825599) << qint64(0)
                                  << QByteArray("2000-02-29T11:59:59Z");
        QTest::newRow("last second of a year")
            << qint64(946684799) << qint64(0) << QByteArray("1999-12-31T23:59:59Z");
        QTest::newRow("before 1970")
            << qint64(-1) << qint64(500000000) << QByteArray("1969-12-31T23:59:59Z");
        QTest::newRow("FILETIME zero")
            << qint64(-11644473600) << qint64(0) << QByteArray("1601-01-01T00:00:00Z");
        QTest::newRow("year 9999")
            << qint64(253402300799) << qint64(0) << QByteArray("9999-12-31T23:59:59Z");
        QTest::newRow("year 10000")
            << qint64(253402300800) << qint64(0) << QByteArray("+10000-01-01T00:00:00Z");
    }
    void isoTime() {
        QFETCH(qint64, seconds);
        QFETCH(qint64, nanoseconds);
        QFETCH(QByteArray, expected);
        const qint64 fileTime = FileTimeFromUnix(seconds, nanoseconds);
        QByteArray out;
        AppendIsoTime(out, fileTime);
        QCOMPARE(out, expected);
        QCOMPARE(UnixSecondsFromFileTime(fileTime), seconds);
        // Qt's own calendar agrees wherever it writes four-digit years.
        if (!expected.startsWith('+'))
            QCOMPARE(
                QDateTime::fromSecsSinceEpoch(seconds, Qt::UTC).toString(Qt::ISODate).toLatin1(),
                expected);
    }

    void signedDecimal_data() {
        QTest::addColumn<qint64>("value");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("zero") << qint64(0) << QByteArray("0");
        QTest::newRow("negative") << qint64(-12) << QByteArray("-12");
        QTest::newRow("lowest") << std::numeric_limits<qint64>::min()
                                << QByteArray("-9223372036854775808");
        QTest::newRow("highest") << std::numeric_limits<qint64>::max()
                                 << QByteArray("9223372036854775807");
    }
    void signedDecimal() {
        QFETCH(qint64, value);
        QFETCH(QByteArray, expected);
        QByteArray out;
        AppendSignedDecimal(out, value);
        QCOMPARE(out, expected);
    }

    void mp3Figures_data() {
        QTest::addColumn<QString>("bitrate");
        QTest::addColumn<QString>("duration");
        QTest::addColumn<qint64>("seconds");
        QTest::addColumn<qint64>("kbps");
        QTest::addColumn<bool>("vbr");
        const MP3Info vbr = GetVBRInfo(3000, 1152, 44100, 1500000);
        QTest::newRow("nothing read") << QString() << QString() << qint64(-1) << qint64(0) << false;
        QTest::newRow("constant") << QStringLiteral("128 kbps") << FormatDuration(250)
                                  << qint64(250) << qint64(128) << false;
        QTest::newRow("variable, from the reader")
            << vbr.Bitrate << vbr.Duration << qint64(78) << qint64(153) << true;
        QTest::newRow("over a day") << QStringLiteral("8 kbps") << FormatDuration(100000)
                                    << qint64(100000) << qint64(8) << false;
        QTest::newRow("zero") << QStringLiteral("0 kbps") << FormatDuration(0) << qint64(0)
                              << qint64(0) << false;
        QTest::newRow("not a bit rate") << QStringLiteral("kbps") << QStringLiteral("00:61:00")
                                        << qint64(-1) << qint64(0) << false;
        QTest::newRow("more than an int")
            << QStringLiteral("4294967296 kbps") << QStringLiteral("00:00:01:00") << qint64(-1)
            << qint64(0) << false;
        QTest::newRow("digits overflow")
            << QStringLiteral("99999999999999999999 kbps") << QStringLiteral("1:2") << qint64(-1)
            << qint64(0) << false;
    }
    void mp3Figures() {
        QFETCH(QString, bitrate);
        QFETCH(QString, duration);
        QFETCH(qint64, seconds);
        QFETCH(qint64, kbps);
        QFETCH(bool, vbr);
        const Mp3Fields f = Mp3FieldsOf(MP3Info{bitrate, duration});
        QCOMPARE(f.seconds, seconds);
        QCOMPARE(qint64(f.kbps), kbps);
        QCOMPARE(f.vbr, vbr);
        // The figures give back the reader's texts.
        if (f.seconds >= 0) QCOMPARE(FormatDuration(f.seconds), duration);
        QCOMPARE(f.durationText, duration);
        QCOMPARE(f.bitrateText, bitrate);
    }
};

QTEST_GUILESS_MAIN(TestFieldTexts)
#include "tst_fieldtexts.moc"
