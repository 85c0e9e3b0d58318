// Media details over a corpus that Debian's encoders make (scripts/make-media-corpus.sh), each
// figure checked against a program of its own: ffmpeg's decoded length, ffprobe's video stream,
// exiftool's picture tags. Reads go through the helper processes, as the programs' reads do.
#include "media/MediaInfo.h"
#include "media/MediaPool.h"
#include "media/Mp3Info.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QXmlStreamReader>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using treelan::MediaField;
using treelan::MediaInfo;
using treelan::MediaPool;

namespace {

// The tags the corpus script writes into every audio file.
const QString kTitle = QStringLiteral("Night 🎵 Fahrt");
const QString kArtist = QStringLiteral("Ünïcödé 😀 Band");
const QString kAlbum = QStringLiteral("Albüm 🎶");

QString run(const QString& program, const QStringList& args, bool stderrToo = false) {
    QProcess p;
    p.setProgram(program);
    p.setArguments(args);
    p.setStandardInputFile(QProcess::nullDevice());
    p.start();
    if (!p.waitForFinished(60000)) return {};
    return QString::fromUtf8(stderrToo ? p.readAllStandardError() : p.readAllStandardOutput());
}

// ffmpeg's decoded length in seconds: the last progress line's time.
double decodedSeconds(const QString& file) {
    const QString log =
        run(QStringLiteral("ffmpeg"), {"-nostdin", "-i", file, "-f", "null", "-"}, true);
    static const QRegularExpression time(QStringLiteral("time=(\\d+):(\\d+):(\\d+\\.\\d+)"));
    double seconds = -1;
    for (auto it = time.globalMatch(log); it.hasNext();) {
        const auto m = it.next();
        seconds =
            m.captured(1).toInt() * 3600 + m.captured(2).toInt() * 60 + m.captured(3).toDouble();
    }
    return seconds;
}

qint64 durationSeconds(const QString& text) {
    const QStringList parts = text.split(QLatin1Char(':'));
    if (parts.size() != 3) return -1;
    return parts[0].toLongLong() * 3600 + parts[1].toLongLong() * 60 + parts[2].toLongLong();
}

struct Read {
    MediaInfo info;
    QStringList warnings;
    qint64 ms = 0;
};

Read readThrough(MediaPool& pool, const QString& path) {
    Read r;
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return r;
    struct stat st {};
    ::fstat(fd, &st);
    QElapsedTimer timer;
    timer.start();
    r.info = pool.read(fd, st.st_size, QFileInfo(path).fileName(),
                       [&](const QString& why) { r.warnings << why; });
    r.ms = timer.elapsed();
    ::close(fd);
    return r;
}

} // namespace

// The text a form gives `file` under `key`, read back as its own readers would.
QString fieldIn(const QString& form, const QByteArray& output, const QString& file,
                const QString& key) {
    if (form == QLatin1String("csv") || form == QLatin1String("tsv")) {
        const QChar separator = form == QLatin1String("csv") ? u',' : u'\t';
        const QStringList lines = QString::fromUtf8(output).split(QStringLiteral("\r\n"));
        const qsizetype column = lines[0].split(separator).indexOf(key);
        for (const QString& line : lines)
            if (line.startsWith(file + separator)) return line.split(separator).value(column);
        return QStringLiteral("<no row>");
    }
    if (form == QLatin1String("json")) {
        const QJsonArray children =
            QJsonDocument::fromJson(output).object()["root"].toObject()["children"].toArray();
        for (const auto& c : children)
            if (c.toObject()["name"].toString() == file)
                return c.toObject()["media"].toObject()[key].toString();
        return QStringLiteral("<no entry>");
    }
    if (form == QLatin1String("ncdu")) {
        const QJsonArray root = QJsonDocument::fromJson(output).array()[3].toArray();
        for (const auto& c : root)
            if (c.isObject() && c.toObject()["name"].toString() == file)
                return c.toObject()[key].toString();
        return QStringLiteral("<no entry>");
    }
    if (form == QLatin1String("xml")) {
        QXmlStreamReader xml(output);
        while (xml.readNextStartElement() || !xml.atEnd()) {
            if (xml.isStartElement() && xml.name() == QLatin1String("file") &&
                xml.attributes().value(QLatin1String("title")) == file)
                return xml.attributes().value(key).toString();
            if (xml.hasError()) return QStringLiteral("<not XML>");
            if (xml.isStartElement() && xml.name() != QLatin1String("folders"))
                xml.skipCurrentElement();
        }
        return QStringLiteral("<no element>");
    }
    // list: the name, then one cell per media field in the table's order.
    const int column = treelan::MediaFieldByKey(key);
    for (const QString& line : QString::fromUtf8(output).split(QStringLiteral("\r\n")))
        if (line.startsWith(file + u'\t')) return line.split(u'\t').value(1 + column);
    return QStringLiteral("<no line>");
}

class TestMediaRead : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    QString m_corpus;
    std::unique_ptr<MediaPool> m_pool;

private slots:
    void initTestCase() {
        for (const char* tool : {"ffmpeg", "ffprobe", "exiftool", "lame", "flac", "oggenc",
                                 "opusenc", "wavpack", "convert"})
            if (QStandardPaths::findExecutable(QLatin1String(tool)).isEmpty())
                QSKIP(
                    qPrintable(QStringLiteral("%1 is not installed (scripts/install-deps.sh test)")
                                   .arg(QLatin1String(tool))));
        m_corpus = m_dir.path() + QStringLiteral("/corpus");
        QProcess make;
        make.start(QStringLiteral(TREELAN_SOURCE_DIR "/scripts/make-media-corpus.sh"), {m_corpus});
        QVERIFY(make.waitForFinished(180000));
        QVERIFY2(make.exitCode() == 0, make.readAllStandardError().constData());
        m_pool = std::make_unique<MediaPool>(QStringLiteral(TREELAN_MEDIA_HELPER));
    }

    // One row per generated file; what to check follows from its kind.
    void corpus_data() {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("kind");     // audio, video or picture
        QTest::addColumn<bool>("tagged");      // carries the script's tags
        QTest::addColumn<QString>("mp3Alone"); // MP3 with -m alone: "same" figures, or "empty"
        const struct {
            const char* file;
            const char* kind;
            bool tagged;
            const char* mp3Alone;
        } rows[] = {
            {"cbr.mp3", "audio", true, "same"},
            {"vbr-xing.mp3", "audio", true, "same"},
            // Bit rate changes, no Xing header: -m alone leaves it empty, --media counts frames.
            {"vbr-noxing.mp3", "audio", true, "empty"},
            {"tone.flac", "audio", true, ""},
            {"tone.ogg", "audio", true, ""},
            {"tone.opus", "audio", true, ""},
            {"tone-aac.m4a", "audio", true, ""},
            {"tone-alac.m4a", "audio", true, ""},
            {"tone.wav", "audio", true, ""}, // tags in RIFF INFO
            {"tone-badsize.wav", "audio", true, ""},
            {"tone-rf64.wav", "audio", true, ""},
            {"tone.aiff", "audio", true, ""},
            {"tone.wma", "audio", true, ""},
            {"tone.wv", "audio", true, ""},
            {"tone.mpc", "audio", true, ""},
            {"clip.mp4", "video", false, ""},
            {"clip-rotated.mp4", "video", false, ""},
            {"clip.mov", "video", false, ""},
            {"clip.mkv", "video", false, ""},
            {"clip.webm", "video", false, ""},
            {"clip.avi", "video", false, ""},
            {"clip.wmv", "video", false, ""},
            {"photo.jpg", "picture", false, ""},
            {"photo.png", "picture", false, ""},
            {"photo.tif", "picture", false, ""},
            {"photo.webp", "picture", false, ""},
            {"photo.heic", "picture", false, ""},
            {"photo.avif", "picture", false, ""},
            {"plain.png", "picture", false, ""},
        };
        for (const auto& r : rows)
            QTest::newRow(r.file) << QString::fromLatin1(r.file) << QString::fromLatin1(r.kind)
                                  << r.tagged << QString::fromLatin1(r.mp3Alone);
    }

    void corpus() {
        QFETCH(QString, file);
        QFETCH(QString, kind);
        QFETCH(bool, tagged);
        QFETCH(QString, mp3Alone);
        const QString path = m_corpus + QLatin1Char('/') + file;
        if (!QFile::exists(path)) QSKIP("the corpus script could not make this format here");
        const Read r = readThrough(*m_pool, path);
        QVERIFY2(r.warnings.isEmpty(), qPrintable(r.warnings.join(u'\n')));
        const MediaInfo& m = r.info;

        if (kind != QLatin1String("picture")) {
            const double decoded = decodedSeconds(path);
            QVERIFY(decoded > 0);
            const qint64 ours = durationSeconds(m.timing.Duration);
            QVERIFY2(ours >= 0 && qAbs(double(ours) - decoded) <= 1.0,
                     qPrintable(QStringLiteral("%1 against ffmpeg's %2 s")
                                    .arg(m.timing.Duration)
                                    .arg(decoded)));
            QVERIFY2(m.timing.Bitrate.endsWith(QLatin1String(" kbps")) ||
                         m.timing.Bitrate.endsWith(QLatin1String(" kbps (var.)")),
                     qPrintable(m.timing.Bitrate));
        }
        if (tagged) {
            QCOMPARE(m[MediaField::Title], kTitle);
            QCOMPARE(m[MediaField::Artist], kArtist);
            QCOMPARE(m[MediaField::Album], kAlbum);
            QCOMPARE(m[MediaField::Track], QStringLiteral("3"));
            QCOMPARE(m[MediaField::Year], QStringLiteral("2021"));
            QCOMPARE(m[MediaField::Genre], QStringLiteral("Jazz"));
        }
        if (kind == QLatin1String("video")) {
            const QJsonObject stream =
                QJsonDocument::fromJson(
                    run(QStringLiteral("ffprobe"),
                        {"-v", "error", "-select_streams", "v:0", "-show_entries",
                         "stream=width,height,codec_name:stream_side_data=rotation", "-of", "json",
                         path})
                        .toUtf8())
                    .object()["streams"]
                    .toArray()
                    .first()
                    .toObject();
            int w = stream["width"].toInt(), h = stream["height"].toInt();
            const int rotation =
                stream["side_data_list"].toArray().first().toObject()["rotation"].toInt();
            if (qAbs(rotation) % 180 == 90) std::swap(w, h);
            QCOMPARE(m[MediaField::Dimensions], QStringLiteral("%1x%2").arg(w).arg(h));
            QCOMPARE(m[MediaField::Codec], stream["codec_name"].toString());
        }
        if (kind == QLatin1String("picture")) {
            const QJsonObject tags =
                QJsonDocument::fromJson(
                    run(QStringLiteral("exiftool"),
                        {"-n", "-j", "-ImageWidth", "-ImageHeight", "-Orientation",
                         "-DateTimeOriginal", "-OffsetTimeOriginal", "-Make", "-Model", path})
                        .toUtf8())
                    .array()
                    .first()
                    .toObject();
            int w = tags["ImageWidth"].toInt(), h = tags["ImageHeight"].toInt();
            if (tags["Orientation"].toInt() >= 5) std::swap(w, h);
            QString taken = tags["DateTimeOriginal"].toString();
            if (!tags["OffsetTimeOriginal"].toString().isEmpty())
                taken += QLatin1Char(' ') + tags["OffsetTimeOriginal"].toString();
            QCOMPARE(m[MediaField::Taken], taken);
            QCOMPARE(m[MediaField::Make], tags["Make"].toString());
            QCOMPARE(m[MediaField::Model], tags["Model"].toString());
            if (file == QLatin1String("photo.heic"))
                QEXPECT_FAIL("",
                             "exiv2 0.27.6 takes the first ispe box of a HEIC file, not the "
                             "primary item's (64x64 where the picture is 64x48)",
                             Continue);
            QCOMPARE(m[MediaField::Dimensions], QStringLiteral("%1x%2").arg(w).arg(h));
        }
        if (!mp3Alone.isEmpty()) {
            const treelan::MP3Info alone = treelan::ReadMP3Info(path);
            if (mp3Alone == QLatin1String("empty")) {
                QCOMPARE(alone.Duration, QString());
                QCOMPARE(alone.Bitrate, QString());
            } else {
                QCOMPARE(alone.Duration, m.timing.Duration);
                QCOMPARE(alone.Bitrate, m.timing.Bitrate);
            }
        }
    }

    // Every corpus file cut short, overwritten with noise, and random bytes under its name: no
    // crash, no hang (a helper that died or timed out would warn), and no figure from nothing.
    void hostile_data() {
        QTest::addColumn<QString>("file");
        const QStringList names =
            QDir(m_corpus + QStringLiteral("/hostile")).entryList(QDir::Files, QDir::Name);
        for (const QString& name : names)
            QTest::newRow(qPrintable(name)) << name;
    }

    void hostile() {
        QFETCH(QString, file);
        const Read r = readThrough(*m_pool, m_corpus + QStringLiteral("/hostile/") + file);
        QVERIFY2(r.warnings.isEmpty(), qPrintable(r.warnings.join(u'\n')));
        QVERIFY2(r.ms < 2000, qPrintable(QString::number(r.ms)));
        if (file.contains(QLatin1String("-random")) || file.startsWith(QLatin1String("avi-as")))
            QVERIFY2(r.info.isEmpty(),
                     qPrintable(r.info.timing.Duration + r.info[MediaField::Dimensions]));
    }

    // Every output form carries every field under the table's one name, with --media only.
    void outputs_data() {
        QTest::addColumn<QStringList>("command");
        QTest::newRow("csv") << QStringList{"export", "-f", "csv"};
        QTest::newRow("tsv") << QStringList{"export", "-f", "tsv"};
        QTest::newRow("json") << QStringList{"export", "-f", "json"};
        QTest::newRow("ncdu") << QStringList{"export", "-f", "ncdu"};
        QTest::newRow("xml") << QStringList{"export", "-f", "xml"};
        QStringList columns;
        for (const auto& f : treelan::kMediaFieldNames)
            columns << QLatin1String(f.key);
        QTest::newRow("list") << QStringList{"list", "--columns", columns.join(u',')};
    }

    void outputs() {
        QFETCH(QStringList, command);
        const QString folder = m_dir.path() + QStringLiteral("/outputs");
        QDir().mkpath(folder);
        const QStringList files{"tone.flac", "photo.jpg", "clip-rotated.mp4", "tone.wav"};
        for (const QString& f : files)
            QFile::copy(m_corpus + QLatin1Char('/') + f, folder + QLatin1Char('/') + f);
        auto output = [&](const QString& option) {
            QStringList args = command;
            args.insert(1, option);
            args << folder;
            if (args[0] == QLatin1String("export")) args << QStringLiteral("-");
            return run(QStringLiteral(TREELAN_CLI), args).toUtf8();
        };
        // Without --media no field name appears at all (-m's output is checked byte for byte
        // by the worked examples).
        const QByteArray without = output(QStringLiteral("-m"));
        QVERIFY(!without.isEmpty());
        for (const auto& f : treelan::kMediaFieldNames)
            QVERIFY2(!without.contains(f.key), f.key);
        const QByteArray with = output(QStringLiteral("--media"));
        const QString form = QString::fromUtf8(QTest::currentDataTag());
        for (const QString& file : files) {
            const MediaInfo expected = readThrough(*m_pool, folder + QLatin1Char('/') + file).info;
            for (const auto& f : treelan::kMediaFieldNames)
                QCOMPARE(fieldIn(form, with, file, QLatin1String(f.key)), expected[f.field]);
        }
        if (form == QLatin1String("json") &&
            !QStandardPaths::findExecutable(QStringLiteral("python3")).isEmpty()) {
            QProcess check;
            check.start(
                QStringLiteral("python3"),
                {"-c",
                 "import json,sys,jsonschema; jsonschema.validate(json.load(sys.stdin), "
                 "json.load(open(sys.argv[1])))",
                 QStringLiteral(TREELAN_SOURCE_DIR "/Resource/treelan-export.schema.json")});
            check.write(with);
            check.closeWriteChannel();
            QVERIFY(check.waitForFinished(60000));
            QVERIFY2(check.exitCode() == 0, check.readAllStandardError().constData());
        }
    }

    // Helpers that fail: each read gets empty fields and a warning that says why, and the next
    // read starts a new helper.
    void helperFailures_data() {
        QTest::addColumn<QString>("script");
        QTest::addColumn<QString>("reason");
        QTest::newRow("hangs") << "exec sleep 30"
                               << "no answer within 2 s";
        QTest::newRow("exits") << "exit 3"
                               << "exit status 3";
        QTest::newRow("crashes") << "kill -SEGV $$"
                                 << "signal 11";
        QTest::newRow("answers nonsense") << "printf xyz >&3; exec sleep 30"
                                          << "the reader stopped";
    }

    void helperFailures() {
        QFETCH(QString, script);
        QFETCH(QString, reason);
        const QString helper = m_dir.path() + QStringLiteral("/helper.sh");
        QFile f(helper);
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write("#!/bin/sh\n" + script.toUtf8() + "\n");
        f.close();
        QVERIFY(f.setPermissions(QFileDevice::ReadOwner | QFileDevice::ExeOwner));
        MediaPool pool(helper, 1, 2000);
        for (int round = 1; round <= 2; ++round) {
            const Read r = readThrough(pool, m_corpus + QStringLiteral("/tone.flac"));
            QVERIFY(r.info.isEmpty());
            QCOMPARE(r.warnings.size(), 1);
            QVERIFY2(r.warnings[0].startsWith(QLatin1String("cannot read media details: ")) &&
                         r.warnings[0].contains(reason),
                     qPrintable(r.warnings[0]));
            QVERIFY(pool.started() >= round); // a helper that is gone is never asked again
            QVERIFY(r.ms < 3000);
        }
        // A batch, as the export's walk reads: every file warned for, none waits on another's
        // dead helper.
        const int fd =
            ::open(QFile::encodeName(m_corpus + QStringLiteral("/tone.flac")).constData(),
                   O_RDONLY | O_CLOEXEC);
        QVERIFY(fd >= 0);
        std::vector<MediaPool::Job> jobs(3);
        QStringList warnings;
        for (MediaPool::Job& job : jobs) {
            job.fd = fd;
            job.size = QFileInfo(m_corpus + QStringLiteral("/tone.flac")).size();
            job.name = QStringLiteral("tone.flac");
            job.warn = [&](const QString& why) { warnings << why; };
        }
        QElapsedTimer timer;
        timer.start();
        pool.read(jobs);
        ::close(fd);
        QCOMPARE(warnings.size(), 3);
        for (const MediaPool::Job& job : jobs)
            QVERIFY(job.info.isEmpty());
        QVERIFY2(warnings.filter(reason).size() == 3, qPrintable(warnings.join(u'\n')));
        QVERIFY(timer.elapsed() < 3 * 2000 + 1000);
    }
};

QTEST_GUILESS_MAIN(TestMediaRead)
#include "tst_mediaread.moc"
