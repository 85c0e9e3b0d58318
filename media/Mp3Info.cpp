#include "media/Mp3Info.h"

#include "platform/FileError.h"

#include <QByteArray>
#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <optional>
#include <sys/stat.h>

namespace treelan {

namespace {

constexpr qint64 kMinFileSize = 256;
constexpr qint64 kId3v2HeaderSize = 10;
constexpr qint64 kId3v1Size = 128;
constexpr qint64 kId3v1Probe = 3; // "TAG"
// All that is read past the leading ID3v2 tags (the ID3v1 probe and the sync window) stays within
// kMp3ReadLimit, so a folder of large files is scanned at the cost of a few pages each.
constexpr qint64 kSyncWindow = kMp3ReadLimit - kId3v1Probe;
// Bit rates that a tag's counts may imply: the lowest and highest any layer allows, with room for
// free format.
constexpr qint64 kMinKbps = 8;
constexpr qint64 kMaxKbps = 640;

enum Version { Mpeg1, Mpeg2, Mpeg25 };

// Kilobits per second by bit-rate index. Layer III keeps, for index 0 (free format) and 15
// (forbidden), the values that the program has always shown for MPEG-1 and MPEG-2; elsewhere
// those indexes give 0, no figure.
constexpr int kLayer3Mpeg1[16] = {24,  32,  40,  48,  56,  64,  80,  96,
                                  112, 128, 160, 192, 224, 256, 320, 320};
constexpr int kLayer3Mpeg2[16] = {0,  8,  16, 24,  32,  40,  48,  56,
                                  64, 80, 96, 112, 128, 144, 160, 176};
constexpr int kLayer2Mpeg1[16] = {0,   32,  48,  56,  64,  80,  96,  112,
                                  128, 160, 192, 224, 256, 320, 384, 0};
constexpr int kLayer1Mpeg1[16] = {0,   32,  64,  96,  128, 160, 192, 224,
                                  256, 288, 320, 352, 384, 416, 448, 0};
constexpr int kLayer1Mpeg2[16] = {0,   32,  48,  56,  64,  80,  96,  112,
                                  128, 144, 160, 176, 192, 224, 256, 0};
// MPEG-2 and 2.5 Layer II share Layer III's table.
constexpr int kSampleRates[3][3] = {
    {44100, 48000, 32000}, {22050, 24000, 16000}, {11025, 12000, 8000}};

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

struct FrameHeader {
    Version version;
    int layer; // 1, 2 or 3
    bool crc;
    bool mono;
    bool padding;
    int bitrateIndex;
    int rateIndex; // 3 is reserved

    int kbps() const { return kbpsAt(bitrateIndex); }
    int kbpsAt(int index) const {
        const bool mpeg1 = version == Mpeg1;
        if (layer == 3) {
            if (version == Mpeg25 && (index == 0 || index == 15)) return 0;
            return mpeg1 ? kLayer3Mpeg1[index] : kLayer3Mpeg2[index];
        }
        if (index == 15) return 0;
        if (layer == 2) return mpeg1 ? kLayer2Mpeg1[index] : kLayer3Mpeg2[index];
        return mpeg1 ? kLayer1Mpeg1[index] : kLayer1Mpeg2[index];
    }
    int sampleRate() const { return rateIndex == 3 ? 0 : kSampleRates[version][rateIndex]; }
    int samplesPerFrame() const {
        if (layer == 1) return 384;
        return layer == 3 && version != Mpeg1 ? 576 : 1152;
    }
    // Everything a frame's length needs is known: no free format, no forbidden or reserved value.
    bool complete() const { return bitrateIndex != 0 && bitrateIndex != 15 && rateIndex != 3; }
    // Bytes of a frame at bit-rate index `index` (0 when unknown).
    qint64 lengthAt(int index, bool padded) const {
        if (rateIndex == 3 || index == 0 || index == 15) return 0;
        const qint64 slot = layer == 1 ? 4 : 1;
        const qint64 units =
            qint64(samplesPerFrame()) / 8 * kbpsAt(index) * 1000 / slot / sampleRate();
        return (units + (padded ? 1 : 0)) * slot;
    }
    qint64 length() const { return lengthAt(bitrateIndex, padding); }
    bool sameStream(const FrameHeader& other) const {
        return version == other.version && layer == other.layer && rateIndex == other.rateIndex;
    }
};

// The frame header at `i`: eleven sync bits, a version other than the reserved one and a layer.
std::optional<FrameHeader> headerAt(const QByteArray& bytes, qint64 i) {
    if (i < 0 || i + 4 > bytes.size() || byteAt(bytes, i) != 0xFF) return {};
    const quint8 b1 = byteAt(bytes, i + 1);
    const quint8 b2 = byteAt(bytes, i + 2);
    const quint8 b3 = byteAt(bytes, i + 3);
    if ((b1 & 0xE0) != 0xE0) return {};
    const int versionBits = (b1 >> 3) & 3;
    const int layerBits = (b1 >> 1) & 3;
    if (versionBits == 1 || layerBits == 0) return {};
    const Version version = versionBits == 3 ? Mpeg1 : versionBits == 2 ? Mpeg2 : Mpeg25;
    return FrameHeader{version,      4 - layerBits, !(b1 & 1),    (b3 >> 6) == 3,
                       bool(b2 & 2), b2 >> 4,       (b2 >> 2) & 3};
}

// Frame and byte counts of a Xing, Info or VBRI header in the frame at `i`.
struct StreamTag {
    enum Kind { None, Xing, Info, Vbri } kind = None;
    std::optional<qint64> frames;
    std::optional<qint64> bytes;
    bool cut = false; // the counts lie beyond the bytes at hand
};

StreamTag tagIn(const QByteArray& window, qint64 i, const FrameHeader& h) {
    StreamTag tag;
    // VBRI stands 32 bytes after the header whatever the mode: version, delay, quality, bytes,
    // frames.
    const qint64 vbriAt = i + 4 + 32;
    if (vbriAt + 4 <= window.size() && window.mid(vbriAt, 4) == "VBRI") {
        tag.kind = StreamTag::Vbri;
        if (vbriAt + 18 > window.size()) {
            tag.cut = true;
            return tag;
        }
        tag.bytes = bigEndian32(window, vbriAt + 10);
        tag.frames = bigEndian32(window, vbriAt + 14);
        return tag;
    }
    // The Xing/Info header follows the side information, whose length depends on version and mode.
    const int sideInfo = h.version == Mpeg1 ? (h.mono ? 17 : 32) : (h.mono ? 9 : 17);
    const qint64 tagAt = i + 4 + (h.crc ? 2 : 0) + sideInfo;
    if (tagAt + 4 > window.size()) {
        tag.cut = true;
        return tag;
    }
    const QByteArray name = window.mid(tagAt, 4);
    if (name == "Xing")
        tag.kind = StreamTag::Xing;
    else if (name == "Info")
        tag.kind = StreamTag::Info; // lame's header for constant bit rates
    else
        return tag;

    qint64 at = tagAt + 8;
    if (at > window.size()) {
        tag.cut = true;
        return tag;
    }
    const quint32 flags = bigEndian32(window, tagAt + 4);
    if (flags & 1) {
        if (at + 4 > window.size()) {
            tag.cut = true;
            return tag;
        }
        tag.frames = bigEndian32(window, at);
        at += 4;
    }
    if (flags & 2) {
        if (at + 4 > window.size()) {
            tag.cut = true;
            return tag;
        }
        tag.bytes = bigEndian32(window, at);
    }
    return tag;
}

// A tag's counts are believed only when they fit the file: that many frames of the smallest
// size, and a byte count within the audio, at a bit rate that some layer allows.
bool believable(const StreamTag& tag, const FrameHeader& h, qint64 audioBytes) {
    if (!tag.frames || *tag.frames <= 0 || h.rateIndex == 3) return false;
    const qint64 smallest = h.lengthAt(1, false);
    if (smallest > 0 && *tag.frames > audioBytes / smallest) return false;
    const qint64 bytes = tag.bytes && *tag.bytes > 0 ? *tag.bytes : audioBytes;
    if (bytes > audioBytes) return false;
    const qint64 seconds = *tag.frames * h.samplesPerFrame() / h.sampleRate();
    if (seconds == 0) return true; // under a second: no rate to check, and no duration either
    const qint64 kbps = bytes / (seconds * 125);
    return kbps >= kMinKbps && kbps <= kMaxKbps;
}

// Whether the frames chained after the one at `i` within `window` change bit rate: a variable
// bit rate without a Xing or VBRI header, which the first frame's rate would misstate. The chain
// ends at the window's end or at anything that is not the next frame of the same stream.
bool ratesDiffer(const QByteArray& window, qint64 i, const FrameHeader& first) {
    FrameHeader h = first;
    for (qint64 at = i; h.length() > 0;) {
        at += h.length();
        const std::optional<FrameHeader> next = headerAt(window, at);
        if (!next || !next->sameStream(first) || !next->complete()) return false;
        if (next->bitrateIndex != first.bitrateIndex) return true;
        h = *next;
    }
    return false;
}

MP3Info constantInfo(int kbps, qint64 audioBytes) {
    if (kbps == 0) return {}; // free format: no bytes-per-millisecond figure
    const qint64 seconds = audioBytes / (kbps / 8) / 1000;
    return {QString::number(kbps) + QStringLiteral(" kbps"), FormatDuration(seconds)};
}

// Reads the frame whose header `h` starts at `i` in `window`; `audioBytes` is the file's length
// without its tags.
// Counts a stream's frames from the first one's header, `first` bytes into the audio.
using FrameCounter = std::function<MP3Info(qint64 first, const FrameHeader& h)>;

MP3Info frameInfo(const QByteArray& window, qint64 i, const FrameHeader& h, const StreamTag& tag,
                  qint64 audioBytes, const FrameCounter& count) {
    if (tag.cut) return {};
    if (tag.kind == StreamTag::None) {
        if (!ratesDiffer(window, i, h)) return constantInfo(h.kbps(), audioBytes);
        return count ? count(i, h) : MP3Info{};
    }

    // A tag frame is no audio: its header may use a higher rate to make room for the tag (lame
    // does at low rates), so the stream's rate is that of the next frame.
    int kbps = h.kbps();
    const std::optional<FrameHeader> next = headerAt(window, i + h.length());
    if (h.length() > 0 && next && next->sameStream(h) && next->kbps() > 0) kbps = next->kbps();

    if (tag.kind == StreamTag::Info && !tag.frames) return constantInfo(kbps, audioBytes);
    if (!tag.frames || *tag.frames == 0 || h.rateIndex == 3) return {};
    if (!believable(tag, h, audioBytes)) return constantInfo(kbps, audioBytes);

    if (tag.kind == StreamTag::Info) {
        const qint64 seconds = *tag.frames * h.samplesPerFrame() / h.sampleRate();
        if (kbps == 0 || seconds == 0) return {};
        return {QString::number(kbps) + QStringLiteral(" kbps"), FormatDuration(seconds)};
    }
    return GetVBRInfo(*tag.frames, h.samplesPerFrame(), h.sampleRate(),
                      tag.bytes && *tag.bytes > 0 ? *tag.bytes : audioBytes);
}

// The first frame of the stream in `window`, which starts at the audio: a header at 0 is taken as
// it is (MPEG-2.5 only when complete, as it was never taken before), one further in only when the
// next frame's header follows at its length or it holds a believable tag.
MP3Info findFrame(const QByteArray& window, qint64 audioBytes, const FrameCounter& count) {
    for (qint64 i = 0; i + 4 <= window.size(); ++i) {
        if (byteAt(window, i) != 0xFF) continue;
        const std::optional<FrameHeader> h = headerAt(window, i);
        if (!h) continue;
        if (i == 0 && (h->version != Mpeg25 || h->complete()))
            return frameInfo(window, i, *h, tagIn(window, i, *h), audioBytes, count);
        if (!h->complete()) continue;
        const std::optional<FrameHeader> next = headerAt(window, i + h->length());
        if (next && next->sameStream(*h) && next->complete())
            return frameInfo(window, i, *h, tagIn(window, i, *h), audioBytes, count);
        const StreamTag tag = tagIn(window, i, *h);
        if (tag.kind != StreamTag::None && believable(tag, *h, audioBytes))
            return frameInfo(window, i, *h, tag, audioBytes, count);
    }
    return {};
}

// Frames of one stream counted through the audio from `from`, headers only, read in large pieces;
// the count ends at the audio's end or at the first gap.
MP3Info countFrames(const Mp3ByteReader& read, qint64 from, qint64 audioEnd,
                    const FrameHeader& h0) {
    constexpr qint64 kPiece = 1 << 20;
    QByteArray piece;
    qint64 pieceAt = from, frames = 0, bytes = 0;
    for (qint64 pos = from; pos + 4 <= audioEnd;) {
        if (pos + 4 > pieceAt + piece.size()) {
            pieceAt = pos;
            piece = read(pos, qMin(kPiece, audioEnd - pos));
        }
        const std::optional<FrameHeader> h = headerAt(piece, pos - pieceAt);
        if (!h || !h->sameStream(h0) || !h->complete()) break;
        const qint64 length = qMin(h->length(), audioEnd - pos);
        ++frames;
        bytes += length;
        pos += length;
    }
    return GetVBRInfo(frames, h0.samplesPerFrame(), h0.sampleRate(), bytes);
}

// The reader over an open file, which `displayPath` names in errors.
MP3Info readFromFd(int fd, qint64 size, const QString& displayPath,
                   qint64* readAfterTags = nullptr) {
    return ReadMP3InfoFrom(
        [&](qint64 offset, qint64 length) {
            QByteArray buffer(length, Qt::Uninitialized);
            qint64 got = 0;
            while (got < length) {
                const ssize_t n =
                    ::pread(fd, buffer.data() + got, size_t(length - got), off_t(offset + got));
                if (n < 0) {
                    if (errno == EINTR) continue;
                    throw FileError::fromErrno(displayPath, QStringLiteral("cannot read the file"),
                                               errno);
                }
                if (n == 0) break;
                got += n;
            }
            buffer.truncate(got);
            return buffer;
        },
        size, false, readAfterTags);
}

} // namespace

MP3Info ReadMP3Info(const QString& path, qint64* readAfterTags) {
    // O_NONBLOCK keeps a FIFO that carries an .mp3 name from stalling the scan; it changes nothing
    // for regular files.
    const UniqueFd fd(
        ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (!fd) throw FileError::fromErrno(path, QStringLiteral("cannot open the file"), errno);
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0)
        throw FileError::fromErrno(path, QStringLiteral("cannot read the file"), errno);
    if (!S_ISREG(st.st_mode)) return {};
    return readFromFd(fd.get(), st.st_size, path, readAfterTags);
}

namespace {

// The information, or why there is none; the warning names the file as the walk does.
struct Mp3Read {
    MP3Info info;
    QString failure;
};

class Mp3Reader final : public FileReadAhead {
public:
    explicit Mp3Reader(bool noFollow) : m_noFollow(noFollow) {}
    bool wants(const DirEntry& entry) const override {
        return entry.readsAsFile(m_noFollow) && IsMp3Name(entry.name());
    }
    std::shared_ptr<const void> read(int folderFd, const DirEntry& entry) const override {
        auto read = std::make_shared<Mp3Read>();
        int error = 0;
        const UniqueFd fd = OpenRegularFile(folderFd, entry.rawName, error);
        try {
            if (!fd)
                throw FileError::fromErrno(QString(), QStringLiteral("cannot read MP3 information"),
                                           error);
            read->info = readFromFd(fd.get(), entry.size, QString());
        } catch (const FileError& e) {
            read->failure = e.reason();
        }
        return read;
    }

private:
    bool m_noFollow;
};

} // namespace

std::shared_ptr<const FileReadAhead> Mp3ReadAhead(bool noFollow) {
    return std::make_shared<Mp3Reader>(noFollow);
}

MP3Info ReadMP3InfoIn(const WalkFolder& folder, const DirEntry& entry, const QString& displayPath,
                      const WarningCallback& warning) {
    if (const auto* ahead = static_cast<const Mp3Read*>(folder.aheadOf(entry))) {
        if (!ahead->failure.isEmpty() && warning) warning(displayPath, ahead->failure);
        return ahead->info;
    }
    int error = 0;
    const UniqueFd fd = OpenRegularFile(folder.fd, entry.rawName, error);
    try {
        if (!fd)
            throw FileError::fromErrno(displayPath, QStringLiteral("cannot read MP3 information"),
                                       error);
        return readFromFd(fd.get(), entry.size, displayPath);
    } catch (const FileError& e) {
        if (warning) warning(displayPath, e.reason());
        return {};
    }
}

MP3Info ReadMP3InfoFrom(const Mp3ByteReader& readBytes, qint64 size, bool countVbrFrames,
                        qint64* readAfterTags) {
    if (size < kMinFileSize) return {};
    bool counting = false; // from the end of the tag skip on
    const auto read = [&](qint64 offset, qint64 length) {
        QByteArray bytes = readBytes(offset, length);
        if (counting && readAfterTags) *readAfterTags += bytes.size();
        return bytes;
    };

    // Taggers stack ID3v2 tags (a second one often holds the cover): skip them all.
    qint64 audioStart = 0;
    for (int tags = 0; tags < kMp3MaxTags && audioStart <= size - kId3v2HeaderSize; ++tags) {
        const qint64 length = id3v2Length(read(audioStart, kId3v2HeaderSize));
        if (length == 0) break;
        if (length > size - audioStart) return {};
        audioStart += length;
    }
    counting = true;
    qint64 audioEnd = size;
    if (size - kId3v1Size >= audioStart && read(size - kId3v1Size, kId3v1Probe) == "TAG")
        audioEnd -= kId3v1Size;
    if (audioEnd <= audioStart) return {};

    FrameCounter count;
    if (countVbrFrames)
        count = [&](qint64 first, const FrameHeader& h) {
            return countFrames(read, audioStart + first, audioEnd, h);
        };
    return findFrame(read(audioStart, qMin(audioEnd - audioStart, kSyncWindow)),
                     audioEnd - audioStart, count);
}

MP3Info GetVBRInfo(qint64 frames, int samplesPerFrame, int sampleRate, qint64 audioBytes) {
    if (frames <= 0 || samplesPerFrame <= 0 || sampleRate <= 0) return {};
    const qint64 seconds = frames * samplesPerFrame / sampleRate;
    if (seconds == 0) return {};
    // bytes * 8 / (seconds * 1000) without the product that overflows for the largest files
    const qint64 kbps = qMax<qint64>(audioBytes, 0) / (seconds * 125);
    return {QString::number(kbps) + QStringLiteral(" kbps (var.)"), FormatDuration(seconds)};
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
