// MP3 information reader over arbitrary bytes. The first byte chooses whether the file is as long
// as the input or much longer (a sparse file: zeros after the input), its length taken from the
// next eight bytes.
#include "FuzzCheck.h"

#include "media/Mp3Info.h"

#include <QRegularExpression>
#include <QStringList>

#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray input(reinterpret_cast<const char*>(data), qsizetype(size));
    QByteArray content = input;
    qint64 fileSize = input.size();
    if (size >= 9 && (data[0] & 1)) {
        quint64 declared = 0;
        std::memcpy(&declared, data + 1, 8);
        declared &= quint64(std::numeric_limits<qint64>::max());
        content = input.mid(9);
        fileSize = qMax<qint64>(qint64(declared), content.size());
    }

    qint64 probes = 0;     // ten-byte reads of the tag skip, before anything else
    qint64 windowRead = 0; // every other byte read
    int reads = 0;
    const auto read = [&](qint64 offset, qint64 length) {
        FUZZ_CHECK(offset >= 0 && length >= 0 && offset <= fileSize, "read inside the file");
        ++reads;
        const qint64 got = qMin(length, fileSize - offset);
        if (length == 10 && windowRead == 0)
            probes += 1;
        else
            windowRead += got;
        QByteArray bytes = content.mid(qMin<qint64>(offset, content.size()), got);
        bytes.resize(got, '\0');
        return bytes;
    };
    const treelan::MP3Info info = treelan::ReadMP3InfoFrom(read, fileSize);

    // Bounded work: the tag probes, then at most 64 KiB in a few reads.
    FUZZ_CHECK(probes <= treelan::kMp3MaxTags + 1, "tag probes bounded");
    FUZZ_CHECK(windowRead <= treelan::kMp3ReadLimit, "at most 64 KiB beyond the tag skip");
    FUZZ_CHECK(reads <= treelan::kMp3MaxTags + 3, "a few reads");

    // Both texts or neither, in their shapes.
    FUZZ_CHECK(info.Bitrate.isEmpty() == info.Duration.isEmpty(), "both texts or none");
    if (info.Bitrate.isEmpty()) return 0;
    static const QRegularExpression bitrateShape(QStringLiteral("^(\\d+) kbps( \\(var\\.\\))?$"));
    static const QRegularExpression durationShape(QStringLiteral("^(\\d{2,}):(\\d\\d):(\\d\\d)$"));
    const QRegularExpressionMatch bitrate = bitrateShape.match(info.Bitrate);
    const QRegularExpressionMatch duration = durationShape.match(info.Duration);
    FUZZ_CHECK(bitrate.hasMatch(), "bit-rate text shape");
    FUZZ_CHECK(duration.hasMatch(), "duration text shape");
    FUZZ_CHECK(duration.captured(2).toInt() < 60 && duration.captured(3).toInt() < 60,
               "minutes and seconds below 60");

    // A rate that some layer allows, and a playing time that the file's bytes can carry at it:
    // no stream runs below 8 kbps, so no more than a second per 1000 bytes.
    const qint64 kbps = bitrate.captured(1).toLongLong();
    FUZZ_CHECK(kbps <= 640, "bit rate within what MPEG audio allows");
    const qint64 seconds = duration.captured(1).toLongLong() * 3600 +
                           duration.captured(2).toLongLong() * 60 +
                           duration.captured(3).toLongLong();
    FUZZ_CHECK(seconds <= fileSize / 1000, "playing time fits the file size");
    return 0;
}
