#include "media/Mp3Info.h"
#include "platform/FileError.h"

#include "support/TempTree.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QTest>

#include <limits>

#include <sys/stat.h>
#include <unistd.h>

using treelan::MP3Info;

namespace {

QByteArray header(int b1, int b2, int b3 = 0x00) {
    QByteArray h(4, '\0');
    h[0] = char(0xFF);
    h[1] = char(b1);
    h[2] = char(b2);
    h[3] = char(b3);
    return h;
}

QByteArray padded(QByteArray content, qint64 size) {
    content.resize(size, '\0');
    return content;
}

QByteArray zeros(qint64 n) {
    return QByteArray(n, '\0');
}

QByteArray be32(quint32 v) {
    QByteArray b(4, '\0');
    for (int i = 0; i < 4; ++i)
        b[i] = char(v >> (24 - 8 * i));
    return b;
}

// A frame header followed, `offset` bytes from its start, by a Xing/Info header.
QByteArray tagFrame(int b1, int b2, int b3, int offset, const char* tag, quint32 flags,
                    quint32 frames = 0, quint32 bytes = 0) {
    QByteArray f = padded(header(b1, b2, b3), offset) + tag + be32(flags);
    if (flags & 1) f += be32(frames);
    if (flags & 2) f += be32(bytes);
    return f;
}

// A VBRI header 32 bytes after the frame header: version, delay, quality, bytes, frames.
QByteArray vbriFrame(int b1, int b2, int b3, quint32 frames, quint32 bytes) {
    return padded(header(b1, b2, b3), 36) + "VBRI" + QByteArray("\x00\x01\x02\x40\x00\x4B", 6) +
           be32(bytes) + be32(frames);
}

QByteArray id3v2(const QByteArray& body, bool footer = false) {
    QByteArray size(4, '\0');
    for (int i = 0; i < 4; ++i)
        size[i] = char((body.size() >> (21 - 7 * i)) & 0x7F);
    const QByteArray flags(1, footer ? char(0x10) : '\0');
    QByteArray tag = QByteArray("ID3\x04\x00", 5) + flags + size + body;
    if (footer) tag += QByteArray("3DI\x04\x00", 5) + flags + size;
    return tag;
}

QByteArray id3v1() {
    return "TAG" + QByteArray(125, ' ');
}

// Cover-art bytes that hold a 32 kbps frame header: taken for the first frame, it would give a
// playing time four times too long.
QByteArray coverWithFalseSync() {
    return zeros(100) + header(0xFB, 0x10) + zeros(1000);
}

qint64 durationSeconds(const QString& text) {
    const QStringList parts = text.split(QLatin1Char(':'));
    if (parts.size() != 3) return -1;
    return parts[0].toLongLong() * 3600 + parts[1].toLongLong() * 60 + parts[2].toLongLong();
}

} // namespace

class TestMp3Info : public QObject {
    Q_OBJECT

private slots:
    void formatDuration_data();
    void formatDuration();
    void isMp3Name_data();
    void isMp3Name();
    void getVbrInfo_data();
    void getVbrInfo();
    void readSynthetic_data();
    void readSynthetic();
    void largeSparseFile_data();
    void largeSparseFile();
    void boundedReading_data();
    void boundedReading();
    void extremeSizes_data();
    void extremeSizes();
    void notMpeg_data();
    void notMpeg();
    void errors();
    void specialFile();
    void lameFiles_data();
    void lameFiles();
};

void TestMp3Info::formatDuration_data() {
    QTest::addColumn<qint64>("seconds");
    QTest::addColumn<QString>("text");
    QTest::newRow("zero") << qint64(0) << "00:00:00";
    QTest::newRow("3725") << qint64(3725) << "01:02:05";
    QTest::newRow("last second of an hour") << qint64(3599) << "00:59:59";
    QTest::newRow("256 hours") << qint64(256 * 3600) << "256:00:00";
    QTest::newRow("beyond 32 bits") << qint64(5000000000) << "1388888:53:20";
}

void TestMp3Info::formatDuration() {
    QFETCH(qint64, seconds);
    QFETCH(QString, text);
    QCOMPARE(treelan::FormatDuration(seconds), text);
}

void TestMp3Info::isMp3Name_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("mp3");
    QTest::newRow("mixed case") << "Song.Mp3" << true;
    QTest::newRow("two dots") << "a.b.mp3" << true;
    QTest::newRow("whole name") << "mp3" << true;
    QTest::newRow("hidden") << ".MP3" << true;
    QTest::newRow("later extension") << "song.mp3.txt" << false;
    QTest::newRow("mp3 in the stem") << "mp3.txt" << false;
    QTest::newRow("longer extension") << "song.mp33" << false;
    QTest::newRow("trailing dot") << "song.mp3." << false;
}

void TestMp3Info::isMp3Name() {
    QFETCH(QString, name);
    QFETCH(bool, mp3);
    QCOMPARE(treelan::IsMp3Name(name), mp3);
}

void TestMp3Info::getVbrInfo_data() {
    QTest::addColumn<qint64>("frames");
    QTest::addColumn<int>("samplesPerFrame");
    QTest::addColumn<int>("sampleRate");
    QTest::addColumn<qint64>("audioBytes");
    QTest::addColumn<QString>("bitrate");
    QTest::addColumn<QString>("duration");
    QTest::newRow("10,000 frames at 44.1 kHz")
        << qint64(10000) << 1152 << 44100 << qint64(5000000) << "153 kbps (var.)"
        << "00:04:21";
    QTest::newRow("MPEG-2 frames of 576")
        << qint64(10000) << 576 << 22050 << qint64(5000000) << "153 kbps (var.)"
        << "00:04:21";
    QTest::newRow("just one second")
        << qint64(39) << 1152 << 44100 << qint64(16000) << "128 kbps (var.)"
        << "00:00:01";
    QTest::newRow("just under one second") << qint64(38) << 1152 << 44100 << qint64(16000) << ""
                                           << "";
    QTest::newRow("no frames") << qint64(0) << 1152 << 44100 << qint64(16000) << ""
                               << "";
    QTest::newRow("no sample rate") << qint64(100) << 1152 << 0 << qint64(16000) << ""
                                    << "";
    QTest::newRow("bytes times 8 beyond 32 bits")
        << qint64(10000) << 1152 << 44100 << qint64(6000000000) << "183908 kbps (var.)"
        << "00:04:21";
    QTest::newRow("full 32-bit frame count")
        << qint64(0xFFFFFFFF) << 1152 << 44100 << qint64(0) << "0 kbps (var.)"
        << "31165:17:44";
}

void TestMp3Info::getVbrInfo() {
    QFETCH(qint64, frames);
    QFETCH(int, samplesPerFrame);
    QFETCH(int, sampleRate);
    QFETCH(qint64, audioBytes);
    QFETCH(QString, bitrate);
    QFETCH(QString, duration);
    const MP3Info info = treelan::GetVBRInfo(frames, samplesPerFrame, sampleRate, audioBytes);
    QCOMPARE(info.Bitrate, bitrate);
    QCOMPARE(info.Duration, duration);
}

void TestMp3Info::readSynthetic_data() {
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("bitrate");
    QTest::addColumn<QString>("duration");
    const QByteArray cbr128 = header(0xFB, 0x90);

    // Size limit, sync search and the end of the file
    QTest::newRow("255 bytes") << padded(cbr128, 255) << ""
                               << "";
    QTest::newRow("256 bytes") << padded(cbr128, 256) << "128 kbps"
                               << "00:00:00";
    QByteArray noSync;
    while (noSync.size() < 4096)
        noSync += QByteArray("\xFF\xE3\xFF\xF1\xFF\xF8\xFF\x00", 8);
    QTest::newRow("MPEG-2.5 with a reserved rate and reserved pairs only") << noSync << ""
                                                                           << "";
    // 417 bytes: a 128 kbps frame at 44.1 kHz without padding; 418 with it.
    QTest::newRow("sync after junk, next frame after it: the whole file counts")
        << padded(zeros(1000) + cbr128 + zeros(413) + cbr128, 4000000) << "128 kbps"
        << "00:04:10";
    QTest::newRow("padded frame after junk")
        << padded(zeros(1000) + header(0xFB, 0x92) + zeros(414) + cbr128, 4000000) << "128 kbps"
        << "00:04:10";
    QTest::newRow("lone header after junk") << padded(zeros(1000) + cbr128, 4000000) << ""
                                            << "";
    QTest::newRow("next header one byte off")
        << padded(zeros(1000) + cbr128 + zeros(414) + cbr128, 4000000) << ""
        << "";
    QTest::newRow("next header at another sample rate")
        << padded(zeros(1000) + cbr128 + zeros(413) + header(0xFB, 0x94), 4000000) << ""
        << "";
    QTest::newRow("next header of another layer")
        << padded(zeros(1000) + cbr128 + zeros(413) + header(0xFD, 0x90), 4000000) << ""
        << "";
    QTest::newRow("free format after junk is never confirmed")
        << padded(zeros(1000) + header(0xFB, 0x00) + zeros(413) + header(0xFB, 0x00), 4000000) << ""
        << "";
    QTest::newRow("false sync, then the stream")
        << padded(zeros(100) + header(0xFB, 0x10) + zeros(50) + cbr128 + zeros(413) + cbr128,
                  4000000)
        << "128 kbps"
        << "00:04:10";
    QTest::newRow("0xFF as the last byte") << zeros(299) + "\xFF"
                                           << ""
                                           << "";
    QTest::newRow("header too near the end") << zeros(300) + cbr128 << ""
                                             << "";
    QTest::newRow("header beyond the first 64 KiB") << padded(zeros(70000) + cbr128, 100000) << ""
                                                    << "";

    // Constant bit rate from the table, whatever the layer
    QTest::newRow("4,000,000 bytes at 128 kbps") << padded(cbr128, 4000000) << "128 kbps"
                                                 << "00:04:10";
    QTest::newRow("index 15 MPEG-1") << padded(header(0xFB, 0xF0), 1000000) << "320 kbps"
                                     << "00:00:25";
    QTest::newRow("index 15 MPEG-2") << padded(header(0xF3, 0xF0), 1000000) << "176 kbps"
                                     << "00:00:45";
    QTest::newRow("index 0 MPEG-1") << padded(header(0xFB, 0x00), 1000000) << "24 kbps"
                                    << "00:05:33";
    QTest::newRow("index 0 MPEG-2") << padded(header(0xF3, 0x00), 1000000) << ""
                                    << "";

    // Layers I and II by their own tables
    QTest::newRow("Layer I") << padded(header(0xFF, 0x90), 4000000) << "288 kbps"
                             << "00:01:51";
    QTest::newRow("Layer II") << padded(header(0xFD, 0x90), 4000000) << "160 kbps"
                              << "00:03:20";
    QTest::newRow("Layer I index 14") << padded(header(0xFF, 0xE0), 4480000) << "448 kbps"
                                      << "00:01:20";
    QTest::newRow("Layer II index 14") << padded(header(0xFD, 0xE0), 3840000) << "384 kbps"
                                       << "00:01:20";
    QTest::newRow("MPEG-2 Layer I") << padded(header(0xF7, 0x90), 4000000) << "144 kbps"
                                    << "00:03:42";
    QTest::newRow("MPEG-2 Layer II") << padded(header(0xF5, 0x90), 4000000) << "80 kbps"
                                     << "00:06:40";
    QTest::newRow("Layer I free format") << padded(header(0xFF, 0x00), 4000000) << ""
                                         << "";
    QTest::newRow("Layer II index 15") << padded(header(0xFD, 0xF0), 4000000) << ""
                                       << "";

    // MPEG-2.5: 11.025, 12 and 8 kHz
    QTest::newRow("MPEG-2.5 at the start") << padded(header(0xE3, 0x90), 4000000) << "80 kbps"
                                           << "00:06:40";
    QTest::newRow("MPEG-2.5 Layer II at 8 kbps") << padded(header(0xE5, 0x18), 100000) << "8 kbps"
                                                 << "00:01:40";
    QTest::newRow("MPEG-2.5 with a reserved rate") << padded(header(0xE3, 0x9C), 4000000) << ""
                                                   << "";
    QTest::newRow("MPEG-2.5 index 15") << padded(header(0xE3, 0xF0), 4000000) << ""
                                       << "";
    // 8 kbps at 8 kHz: frames of 72 bytes
    QTest::newRow("MPEG-2.5 after junk, next frame after it")
        << padded(zeros(10) + header(0xE3, 0x18) + zeros(68) + header(0xE3, 0x18), 100000)
        << "8 kbps"
        << "00:01:40";
    QTest::newRow("MPEG-2.5 Xing at 8 kHz")
        << padded(tagFrame(0xE3, 0x98, 0x00, 21, "Xing", 3, 1000, 100000), 100000)
        << "11 kbps (var.)"
        << "00:01:12";

    // Xing: where it is looked for, and its fields
    // 1000 frames and 500,000 bytes in a file of that size
    QTest::newRow("Xing MPEG-1 stereo at 36")
        << padded(tagFrame(0xFB, 0x90, 0x00, 36, "Xing", 3, 1000, 500000), 500000)
        << "153 kbps (var.)"
        << "00:00:26";
    QTest::newRow("Xing MPEG-1 mono at 21")
        << padded(tagFrame(0xFB, 0x90, 0xC0, 21, "Xing", 3, 1000, 500000), 500000)
        << "153 kbps (var.)"
        << "00:00:26";
    QTest::newRow("Xing at 36 in a mono frame is no Xing header")
        << padded(tagFrame(0xFB, 0x90, 0xC0, 36, "Xing", 3, 10000, 5000000), 4000000) << "128 kbps"
        << "00:04:10";
    QTest::newRow("Xing after a CRC at 38 (48 kHz)")
        << padded(tagFrame(0xFA, 0x94, 0x00, 38, "Xing", 3, 1000, 500000), 500000)
        << "166 kbps (var.)"
        << "00:00:24";
    QTest::newRow("Xing MPEG-1 32 kHz")
        << padded(tagFrame(0xFB, 0x98, 0x00, 36, "Xing", 3, 1000, 500000), 500000)
        << "111 kbps (var.)"
        << "00:00:36";
    QTest::newRow("Xing MPEG-2 stereo at 21 (24 kHz)")
        << padded(tagFrame(0xF3, 0x94, 0x00, 21, "Xing", 3, 1000, 500000), 500000)
        << "166 kbps (var.)"
        << "00:00:24";
    QTest::newRow("Xing MPEG-2 mono at 13 (16 kHz)")
        << padded(tagFrame(0xF3, 0x98, 0xC0, 13, "Xing", 3, 1000, 500000), 500000)
        << "111 kbps (var.)"
        << "00:00:36";
    QTest::newRow("Xing on Layer I (384 samples)")
        << padded(tagFrame(0xFF, 0x94, 0x00, 36, "Xing", 3, 1000, 500000), 500000)
        << "500 kbps (var.)"
        << "00:00:08";
    QTest::newRow("Xing without byte count uses the file length")
        << padded(tagFrame(0xFB, 0x90, 0x00, 36, "Xing", 1, 100), 64000) << "256 kbps (var.)"
        << "00:00:02";

    // Counts that cannot fit the file give way to the frame header.
    QTest::newRow("Xing frames beyond the file")
        << padded(tagFrame(0xFB, 0x90, 0x00, 36, "Xing", 3, 0xFFFFFFFF, 1000), 4000000)
        << "128 kbps"
        << "00:04:10";
    QTest::newRow("Xing frames of 104 bytes one too many")
        << padded(tagFrame(0xFB, 0x90, 0x00, 36, "Xing", 1, 38462), 4000000) << "128 kbps"
        << "00:04:10";
    QTest::newRow("Xing frames of 104 bytes just fitting")
        << padded(tagFrame(0xFB, 0x90, 0x00, 36, "Xing", 1, 38461), 4000000) << "31 kbps (var.)"
        << "00:16:44";
    QTest::newRow("Xing bytes beyond the file")
        << padded(tagFrame(0xFB, 0x90, 0x00, 36, "Xing", 3, 100, 0xFFFFFFFF), 4000000) << "128 kbps"
        << "00:04:10";
    QTest::newRow("Xing bytes one beyond the audio")
        << padded(tagFrame(0xFB, 0x90, 0x00, 36, "Xing", 3, 1000, 500001), 500000) << "128 kbps"
        << "00:00:31";
    QTest::newRow("Xing implying more than 640 kbps")
        << padded(tagFrame(0xFB, 0x90, 0x00, 36, "Xing", 3, 100, 4000000), 4000000) << "128 kbps"
        << "00:04:10";
    QTest::newRow("Xing implying less than 8 kbps")
        << padded(tagFrame(0xFB, 0x90, 0x00, 36, "Xing", 3, 10000, 200000), 4000000) << "128 kbps"
        << "00:04:10";
    QTest::newRow("Xing header after junk with believable counts")
        << padded(zeros(500) + tagFrame(0xFB, 0x90, 0x00, 36, "Xing", 3, 1000, 500000), 500500)
        << "153 kbps (var.)"
        << "00:00:26";
    QTest::newRow("Xing header after junk with counts beyond the file")
        << padded(zeros(500) + tagFrame(0xFB, 0x90, 0x00, 36, "Xing", 3, 100000, 500000), 500500)
        << ""
        << "";
    QTest::newRow("Xing with 0 frames")
        << padded(tagFrame(0xFB, 0x90, 0x00, 36, "Xing", 3, 0, 5000000), 1000) << ""
        << "";
    QTest::newRow("Xing without frame count")
        << padded(tagFrame(0xFB, 0x90, 0x00, 36, "Xing", 2, 0, 5000000), 1000) << ""
        << "";
    QTest::newRow("Xing with reserved sample rate")
        << padded(tagFrame(0xFB, 0x9C, 0x00, 36, "Xing", 3, 10000, 5000000), 1000) << ""
        << "";
    QTest::newRow("Xing fields cut by the end of the file")
        << zeros(256) + tagFrame(0xFB, 0x90, 0x00, 36, "Xing", 0) + be32(3) << ""
        << "";

    // Info: lame's header of constant-bit-rate files
    QTest::newRow("Info gives the constant bit rate")
        << padded(tagFrame(0xFB, 0x90, 0x00, 36, "Info", 3, 1000, 500000), 500000) << "128 kbps"
        << "00:00:26";
    // lame at low rates: the Info frame (64 kbps, 208 bytes) stands above the 32 kbps stream.
    QTest::newRow("Info frame above the stream's rate")
        << padded(padded(tagFrame(0xFB, 0x50, 0xC0, 21, "Info", 3, 1000, 104208), 208) +
                      header(0xFB, 0x10, 0xC0),
                  104208)
        << "32 kbps"
        << "00:00:26";
    QTest::newRow("Info frame above the stream, counts beyond the file")
        << padded(padded(tagFrame(0xFB, 0x50, 0xC0, 21, "Info", 3, 100000, 104208), 208) +
                      header(0xFB, 0x10, 0xC0),
                  104208)
        << "32 kbps"
        << "00:00:26";
    QTest::newRow("Info frame followed by another sample rate")
        << padded(padded(tagFrame(0xFB, 0x50, 0xC0, 21, "Info", 3, 1000, 104208), 208) +
                      header(0xFB, 0x14, 0xC0),
                  104208)
        << "64 kbps"
        << "00:00:26";

    // VBRI: 32 bytes after the header in every mode
    QTest::newRow("VBRI") << padded(vbriFrame(0xFB, 0x90, 0x00, 1000, 500000), 500000)
                          << "153 kbps (var.)"
                          << "00:00:26";
    QTest::newRow("VBRI in a mono frame")
        << padded(vbriFrame(0xFB, 0x90, 0xC0, 1000, 500000), 500000) << "153 kbps (var.)"
        << "00:00:26";
    QTest::newRow("VBRI MPEG-2 (576 samples)")
        << padded(vbriFrame(0xF3, 0x94, 0x00, 1000, 500000), 500000) << "166 kbps (var.)"
        << "00:00:24";
    QTest::newRow("VBRI frames beyond the file")
        << padded(vbriFrame(0xFB, 0x90, 0x00, 0xFFFFFFFF, 500000), 4000000) << "128 kbps"
        << "00:04:10";
    QTest::newRow("VBRI bytes beyond the file")
        << padded(vbriFrame(0xFB, 0x90, 0x00, 1000, 4000001), 4000000) << "128 kbps"
        << "00:04:10";
    QTest::newRow("VBRI without bytes uses the audio")
        << padded(vbriFrame(0xFB, 0x90, 0x00, 1000, 0), 500000) << "153 kbps (var.)"
        << "00:00:26";
    QTest::newRow("VBRI cut by the end of the file")
        << zeros(256) + padded(header(0xFB, 0x90), 36) + "VBRI" + zeros(6) << ""
        << "";
    QTest::newRow("Info without frame count")
        << padded(tagFrame(0xFB, 0x90, 0x00, 36, "Info", 0), 4000000) << "128 kbps"
        << "00:04:10";

    // Tags: 159,984 audio bytes at 16 bytes a millisecond are 9.999 s, 16 more are 10 s
    QTest::newRow("ID3v2 cover with a false sync is skipped")
        << id3v2(coverWithFalseSync()) + padded(cbr128, 160000) << "128 kbps"
        << "00:00:10";
    QTest::newRow("ID3v2 not counted") << id3v2(zeros(16)) + padded(cbr128, 159984) << "128 kbps"
                                       << "00:00:09";
    QTest::newRow("ID3v2 footer not counted")
        << id3v2(coverWithFalseSync(), true) + padded(cbr128, 159990) << "128 kbps"
        << "00:00:09";
    QTest::newRow("size bytes not syncsafe: no tag")
        << padded(QByteArray("ID3\x04\x00\x00\x80\x00\x00\x00", 10) + cbr128 + zeros(413) + cbr128,
                  4000000)
        << "128 kbps"
        << "00:04:10";
    QTest::newRow("stacked ID3v2 tags all skipped")
        << id3v2(zeros(16)) + id3v2(coverWithFalseSync()) + id3v2(zeros(3), true) +
               padded(cbr128, 159984)
        << "128 kbps"
        << "00:00:09";
    QTest::newRow("second stacked tag longer than the file")
        << padded(id3v2(zeros(16)) + id3v2(zeros(1000000)).left(2000) + cbr128, 4000) << ""
        << "";
    QTest::newRow("ID3v2 longer than the file")
        << padded(id3v2(zeros(1000000)).left(2000) + cbr128, 4000) << ""
        << "";
    QTest::newRow("ID3v1 not counted") << padded(cbr128, 159984) + id3v1() << "128 kbps"
                                       << "00:00:09";
    QTest::newRow("same length without ID3v1") << padded(cbr128, 159984 + 128) << "128 kbps"
                                               << "00:00:10";
    QTest::newRow("false sync in ID3v1") << zeros(1000) + padded("TAG" + cbr128, 128) << ""
                                         << "";
    QTest::newRow("ID3v2 and ID3v1")
        << id3v2(coverWithFalseSync()) + padded(cbr128, 159984) + id3v1() << "128 kbps"
        << "00:00:09";
}

void TestMp3Info::readSynthetic() {
    QFETCH(QByteArray, content);
    QFETCH(QString, bitrate);
    QFETCH(QString, duration);
    TempTree tree;
    tree.createFile(QStringLiteral("a.mp3"), content);
    const MP3Info info = treelan::ReadMP3Info(tree.path(QStringLiteral("a.mp3")));
    QCOMPARE(info.Bitrate, bitrate);
    QCOMPARE(info.Duration, duration);
}

void TestMp3Info::largeSparseFile_data() {
    QTest::addColumn<QByteArray>("start");
    QTest::addColumn<QString>("bitrate");
    QTest::addColumn<QString>("duration");
    QTest::newRow("constant bit rate") << header(0xFB, 0x90) << "128 kbps"
                                       << "93:12:24";
    QTest::newRow("Xing count's high byte is read")
        << tagFrame(0xFB, 0x90, 0x00, 36, "Xing", 1, 0x01000000 + 10000) << "97 kbps (var.)"
        << "121:48:43";
    QTest::newRow("Xing count implying 164558 kbps gives way")
        << tagFrame(0xFB, 0x90, 0x00, 36, "Xing", 1, 10000) << "128 kbps"
        << "93:12:24";
}

void TestMp3Info::largeSparseFile() {
    QFETCH(QByteArray, start);
    QFETCH(QString, bitrate);
    QFETCH(QString, duration);
    TempTree tree;
    const QString path = tree.path(QStringLiteral("big.mp3"));
    tree.createSparseFile(QStringLiteral("big.mp3"), qint64(5) << 30);
    QFile f(path);
    QVERIFY(f.open(QIODevice::ReadWrite));
    QCOMPARE(f.write(start), start.size());
    f.close();
    QCOMPARE(QFileInfo(path).size(), qint64(5) << 30);
    const MP3Info info = treelan::ReadMP3Info(path);
    QCOMPARE(info.Bitrate, bitrate);
    QCOMPARE(info.Duration, duration);
}

void TestMp3Info::boundedReading_data() {
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<bool>("found");
    QTest::newRow("large tag, no sync after it") << id3v2(zeros(300000)) + zeros(1000000) << false;
    QTest::newRow("header at the start of a large file")
        << padded(header(0xFB, 0x90), 4000000) << true;
    QTest::newRow("large tag and ID3v1")
        << id3v2(zeros(300000)) + zeros(1000000) + header(0xFB, 0x90) + id3v1() << false;
}

void TestMp3Info::boundedReading() {
    QFETCH(QByteArray, content);
    QFETCH(bool, found);
    TempTree tree;
    tree.createFile(QStringLiteral("a.mp3"), content);
    qint64 read = 0;
    const MP3Info info = treelan::ReadMP3Info(tree.path(QStringLiteral("a.mp3")), &read);
    QCOMPARE(!info.Bitrate.isEmpty(), found);
    // Beyond the 10-byte tag header probe: at most 64 KiB, and something was read.
    QVERIFY2(read <= 64 * 1024, qPrintable(QString::number(read)));
    QVERIFY(read > 0);
}

void TestMp3Info::extremeSizes_data() {
    QTest::addColumn<QByteArray>("start");
    QTest::addColumn<qint64>("size");
    QTest::addColumn<QString>("bitrate");
    QTest::addColumn<QString>("duration");
    const qint64 largest = std::numeric_limits<qint64>::max();
    QTest::newRow("constant rate, 2^63-1 bytes") << header(0xFB, 0x90) << largest << "128 kbps"
                                                 << "160127986750:57:03";
    QTest::newRow("8 kbps, 2^63-1 bytes") << header(0xE3, 0x18) << largest << "8 kbps"
                                          << "2562047788015:12:55";
    QTest::newRow("Xing without byte count, 2^63-1 bytes")
        << tagFrame(0xFB, 0x90, 0x00, 36, "Xing", 1, 0xFFFFFFFF) << largest << "128 kbps"
        << "160127986750:57:03";
    QTest::newRow("Xing, all counts at their largest (under 8 kbps), 2^63-1 bytes")
        << tagFrame(0xFB, 0x90, 0x00, 36, "Xing", 3, 0xFFFFFFFF, 0xFFFFFFFF) << largest
        << "128 kbps"
        << "160127986750:57:03";
    QTest::newRow("tag as long as the file")
        << id3v2(zeros(1000000 - 10)).left(256) << qint64(1000000) << ""
        << "";
}

// Sizes no test folder can hold, through a source that reads zeros past its first bytes.
void TestMp3Info::extremeSizes() {
    QFETCH(QByteArray, start);
    QFETCH(qint64, size);
    QFETCH(QString, bitrate);
    QFETCH(QString, duration);
    const auto read = [&](qint64 offset, qint64 length) {
        QByteArray bytes = start.mid(qMin<qint64>(offset, start.size()), length);
        bytes.resize(qMin(length, size - offset), '\0');
        return bytes;
    };
    const MP3Info info = treelan::ReadMP3InfoFrom(read, size);
    QCOMPARE(info.Bitrate, bitrate);
    QCOMPARE(info.Duration, duration);
}

// Other formats named .mp3 (tests/data/mp3/not-mpeg/, made by scripts/make-mp3-fixtures.sh),
// random bytes and fuzzer findings give no figures.
void TestMp3Info::notMpeg_data() {
    QTest::addColumn<QByteArray>("content");
    const QDir samples(QStringLiteral(TREELAN_TEST_DATA "/mp3/not-mpeg"));
    const QStringList names = samples.entryList({QStringLiteral("*.mp3")}, QDir::Files);
    QVERIFY(names.size() >= 6);
    for (const QString& name : names) {
        QFile f(samples.filePath(name));
        QVERIFY(f.open(QIODevice::ReadOnly));
        QTest::newRow(qPrintable(name)) << f.readAll();
    }
    for (const quint32 seed : {1u, 2u, 3u, 4u, 5u, 6u, 7u, 8u}) {
        QRandomGenerator random(seed);
        QByteArray bytes(200000, Qt::Uninitialized);
        random.fillRange(reinterpret_cast<quint32*>(bytes.data()), bytes.size() / 4);
        bytes[0] = 'R'; // no header at the very start, which is taken as it is
        QTest::newRow(qPrintable(QStringLiteral("random bytes, seed %1").arg(seed))) << bytes;
    }
    // A frame header after junk whose Xing counts cannot fit, and its next frame cut by the end.
    QFile finding(QStringLiteral(TREELAN_SOURCE_DIR
                                 "/fuzz/regressions/mp3/mp3-fuzz-min-absurd-duration-256B.mp3"));
    QVERIFY(finding.open(QIODevice::ReadOnly));
    QTest::newRow("absurd Xing counts after junk") << finding.readAll();
}

void TestMp3Info::notMpeg() {
    QFETCH(QByteArray, content);
    TempTree tree;
    tree.createFile(QStringLiteral("a.mp3"), content);
    const MP3Info info = treelan::ReadMP3Info(tree.path(QStringLiteral("a.mp3")));
    QCOMPARE(info.Bitrate, QString());
    QCOMPARE(info.Duration, QString());
}

void TestMp3Info::errors() {
    TempTree tree;
    const QString missing = tree.path(QStringLiteral("missing.mp3"));
    try {
        treelan::ReadMP3Info(missing);
        QFAIL("no error for a missing file");
    } catch (const treelan::FileError& e) {
        QCOMPARE(e.path(), missing);
    }

    if (::geteuid() == 0) QSKIP("root reads files whatever their mode");
    tree.createFile(QStringLiteral("locked.mp3"), padded(header(0xFB, 0x90), 4096));
    tree.setMode(QStringLiteral("locked.mp3"), 0);
    QVERIFY_THROWS_EXCEPTION(treelan::FileError,
                             treelan::ReadMP3Info(tree.path(QStringLiteral("locked.mp3"))));
}

void TestMp3Info::specialFile() {
    // A FIFO with an .mp3 name must not stall the reader waiting for a writer.
    TempTree tree;
    const QString path = tree.path(QStringLiteral("pipe.mp3"));
    QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0644), 0);
    const MP3Info info = treelan::ReadMP3Info(path);
    QVERIFY(info.Bitrate.isEmpty());
    QVERIFY(info.Duration.isEmpty());
}

void TestMp3Info::lameFiles_data() {
    QTest::addColumn<QString>("file");
    QTest::addColumn<bool>("vbr");
    QTest::addColumn<double>("reference");
    QTest::addColumn<QString>("kbps"); // ffprobe's stream rate of a constant-rate file
    QFile tsv(QStringLiteral(TREELAN_TEST_DATA "/mp3/reference.tsv"));
    QVERIFY(tsv.open(QIODevice::ReadOnly | QIODevice::Text));
    tsv.readLine(); // column names
    int rows = 0;
    while (!tsv.atEnd()) {
        const QStringList fields =
            QString::fromUtf8(tsv.readLine()).trimmed().split(QLatin1Char('\t'));
        QVERIFY(fields.size() == 4);
        QTest::newRow(qPrintable(fields[0]))
            << fields[0] << (fields[1] == QLatin1String("1")) << fields[2].toDouble() << fields[3];
        ++rows;
    }
    QVERIFY(rows >= 20);
}

void TestMp3Info::lameFiles() {
    QFETCH(QString, file);
    QFETCH(bool, vbr);
    QFETCH(double, reference);
    QFETCH(QString, kbps);
    const MP3Info info = treelan::ReadMP3Info(QStringLiteral(TREELAN_TEST_DATA "/mp3/") + file);
    QVERIFY2(!info.Bitrate.isEmpty(), "no bit rate");
    QCOMPARE(info.Bitrate.endsWith(QLatin1String(" kbps (var.)")), vbr);
    if (!vbr) QCOMPARE(info.Bitrate, kbps + QStringLiteral(" kbps"));
    const qint64 seconds = durationSeconds(info.Duration);
    QVERIFY2(qAbs(double(seconds) - reference) <= 1.0,
             qPrintable(info.Duration + QStringLiteral(" against ") + QString::number(reference)));
}

QTEST_GUILESS_MAIN(TestMp3Info)
#include "tst_mp3info.moc"
