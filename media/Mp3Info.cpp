#include "media/Mp3Info.h"

#include "platform/FileError.h"

#include <QByteArray>
#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace treelan {

namespace {

constexpr qint64 kMinFileSize = 256;
constexpr qint64 kId3v2HeaderSize = 10;
constexpr qint64 kId3v1Size = 128;
constexpr qint64 kId3v1Probe = 3; // "TAG"
// All that is read past a leading ID3v2 tag (the ID3v1 probe and the sync window) stays within
// this, so a folder of large files is scanned at the cost of a few pages each.
constexpr qint64 kReadLimit = 64 * 1024;
constexpr qint64 kSyncWindow = kReadLimit - kId3v1Probe;

thread_local qint64 t_bytesRead = 0;

// Kilobits per second by version (MPEG-1, MPEG-2) and bit-rate index, whatever the layer. Index 0
// (free format) and 15 (forbidden) keep the values that the program has always shown.
constexpr int kBitrates[2][16] = {
    {24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 320},
    {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176}};
constexpr int kSampleRates[2][3] = {{44100, 48000, 32000}, {22050, 24000, 16000}};

class FileReader {
public:
    FileReader(int fd, const QString& path) : m_fd(fd), m_path(path) {}

    // Up to `length` bytes from `offset`; fewer only at the end of the file.
    QByteArray read(qint64 offset, qint64 length) const {
        QByteArray buffer(length, Qt::Uninitialized);
        qint64 got = 0;
        while (got < length) {
            const ssize_t n =
                ::pread(m_fd, buffer.data() + got, size_t(length - got), off_t(offset + got));
            if (n < 0) {
                if (errno == EINTR) continue;
                throw FileError::fromErrno(m_path, QStringLiteral("Cannot read the file"), errno);
            }
            if (n == 0) break;
            got += n;
        }
        t_bytesRead += got;
        buffer.truncate(got);
        return buffer;
    }

private:
    int m_fd;
    const QString& m_path;
};

quint8 byteAt(const QByteArray& bytes, qint64 i) {
    return static_cast<quint8>(bytes[i]);
}

quint32 bigEndian32(const QByteArray& bytes, qint64 i) {
    return quint32(byteAt(bytes, i)) << 24 | quint32(byteAt(bytes, i + 1)) << 16 |
           quint32(byteAt(bytes, i + 2)) << 8 | quint32(byteAt(bytes, i + 3));
}

// Total length of an ID3v2 tag from its 10-byte header, or 0 when there is none. A header whose
// size bytes are not syncsafe is no tag.
qint64 id3v2Length(const QByteArray& header) {
    if (header.size() < kId3v2HeaderSize || !header.startsWith("ID3")) return 0;
    if (byteAt(header, 3) == 0xFF || byteAt(header, 4) == 0xFF) return 0;
    qint64 size = 0;
    for (int i = 6; i < 10; ++i) {
        if (byteAt(header, i) & 0x80) return 0;
        size = size << 7 | byteAt(header, i);
    }
    const bool footer = byteAt(header, 5) & 0x10;
    return kId3v2HeaderSize + size + (footer ? kId3v2HeaderSize : 0);
}

// Position of the first frame sync with a version of 1 or 2 and a layer, or -1.
qint64 findSync(const QByteArray& bytes) {
    for (qint64 i = 0; i + 1 < bytes.size(); ++i) {
        if (byteAt(bytes, i) != 0xFF) continue;
        const quint8 next = byteAt(bytes, i + 1);
        if ((next >= 0xF2 && next <= 0xF7) || next >= 0xFA) return i;
    }
    return -1;
}

MP3Info constantInfo(int kbps, qint64 audioBytes) {
    if (kbps == 0) return {}; // MPEG-2 free format: no bytes-per-millisecond figure
    const qint64 seconds = audioBytes / (kbps / 8) / 1000;
    return {QString::number(kbps) + QStringLiteral(" kbps"), FormatDuration(seconds)};
}

// Reads the frame whose header starts at `i` in `window`; `audioBytes` is the file's length
// without its tags.
MP3Info frameInfo(const QByteArray& window, qint64 i, qint64 audioBytes) {
    if (i + 4 > window.size()) return {};
    const quint8 b1 = byteAt(window, i + 1);
    const quint8 b2 = byteAt(window, i + 2);
    const quint8 b3 = byteAt(window, i + 3);
    const bool mpeg1 = b1 >= 0xFA;
    const int layer = 4 - ((b1 >> 1) & 3); // bits 11, 10, 01 are Layers I, II, III
    const bool crc = !(b1 & 1);
    const bool mono = (b3 >> 6) == 3;
    const int kbps = kBitrates[mpeg1 ? 0 : 1][b2 >> 4];
    const int rateIndex = (b2 >> 2) & 3;

    // The Xing/Info header follows the side information, whose length depends on version and mode.
    const int sideInfo = mpeg1 ? (mono ? 17 : 32) : (mono ? 9 : 17);
    const qint64 tagAt = i + 4 + (crc ? 2 : 0) + sideInfo;
    if (tagAt + 4 > window.size()) return {};
    const QByteArray tag = window.mid(tagAt, 4);
    const bool xing = tag == "Xing";
    const bool info = tag == "Info"; // lame's header for constant-bit-rate files
    if (!xing && !info) return constantInfo(kbps, audioBytes);

    qint64 at = tagAt + 8;
    if (at > window.size()) return {};
    const quint32 flags = bigEndian32(window, tagAt + 4);
    std::optional<qint64> frames;
    std::optional<qint64> bytes;
    if (flags & 1) {
        if (at + 4 > window.size()) return {};
        frames = bigEndian32(window, at);
        at += 4;
    }
    if (flags & 2) {
        if (at + 4 > window.size()) return {};
        bytes = bigEndian32(window, at);
    }
    if (!frames) return info ? constantInfo(kbps, audioBytes) : MP3Info{};
    if (rateIndex == 3) return {};

    const int sampleRate = kSampleRates[mpeg1 ? 0 : 1][rateIndex];
    const int samplesPerFrame = layer == 1 ? 384 : (layer == 3 && !mpeg1 ? 576 : 1152);
    if (info) {
        const qint64 seconds = *frames * samplesPerFrame / sampleRate;
        if (kbps == 0 || seconds == 0) return {};
        return {QString::number(kbps) + QStringLiteral(" kbps"), FormatDuration(seconds)};
    }
    return GetVBRInfo(*frames, samplesPerFrame, sampleRate,
                      bytes && *bytes > 0 ? *bytes : audioBytes);
}

} // namespace

MP3Info ReadMP3Info(const QString& path) {
    // O_NONBLOCK keeps a FIFO that carries an .mp3 name from stalling the scan; it changes nothing
    // for regular files.
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) throw FileError::fromErrno(path, QStringLiteral("Cannot open the file"), errno);
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
    struct stat st {};
    if (::fstat(fd, &st) != 0)
        throw FileError::fromErrno(path, QStringLiteral("Cannot read the file"), errno);
    if (!S_ISREG(st.st_mode)) return {};
    return ReadMP3InfoFromFd(fd, st.st_size, path);
}

MP3Info ReadMP3InfoFromFd(int fd, qint64 size, const QString& displayPath) {
    t_bytesRead = 0;
    if (size < kMinFileSize) return {};
    const FileReader reader(fd, displayPath);

    const qint64 audioStart = id3v2Length(reader.read(0, kId3v2HeaderSize));
    t_bytesRead = 0; // the count covers what is read beyond the tag skip
    qint64 audioEnd = size;
    if (size - kId3v1Size >= audioStart && reader.read(size - kId3v1Size, kId3v1Probe) == "TAG")
        audioEnd -= kId3v1Size;
    if (audioEnd <= audioStart) return {};

    const QByteArray window = reader.read(audioStart, qMin(audioEnd - audioStart, kSyncWindow));
    const qint64 i = findSync(window);
    if (i < 0) return {};
    return frameInfo(window, i, audioEnd - audioStart);
}

MP3Info GetVBRInfo(qint64 frames, int samplesPerFrame, int sampleRate, qint64 audioBytes) {
    if (frames <= 0 || samplesPerFrame <= 0 || sampleRate <= 0) return {};
    const qint64 seconds = frames * samplesPerFrame / sampleRate;
    if (seconds == 0) return {};
    const qint64 kbps = qMax<qint64>(audioBytes, 0) * 8 / (seconds * 1000);
    return {QString::number(kbps) + QStringLiteral(" kbps (var.)"), FormatDuration(seconds)};
}

qint64 LastMp3BytesRead() {
    return t_bytesRead;
}

QString FormatDuration(qint64 seconds) {
    const qint64 v = qMax<qint64>(seconds, 0);
    const QLatin1Char zero('0');
    return QStringLiteral("%1:%2:%3")
        .arg(v / 3600, 2, 10, zero)
        .arg(v % 3600 / 60, 2, 10, zero)
        .arg(v % 60, 2, 10, zero);
}

bool IsMp3Name(const QString& name) {
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    return QStringView(name).mid(dot + 1).compare(QLatin1String("mp3"), Qt::CaseInsensitive) == 0;
}

} // namespace treelan
