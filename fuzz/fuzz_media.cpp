// The media readers (TagLib, libavformat, exiv2 behind our content check) over arbitrary bytes,
// in this process: what a helper process would read. The first byte chooses the name the file
// goes by (the name matters only for the MP3 search); the rest is the file.
#include "FuzzCheck.h"

#include "media/MediaReader.h"

#include <QRegularExpression>

#include <cstring>
#include <sys/mman.h>
#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    static const char* const names[] = {"a.mp3", "a.jpg", "a.flac", "a.mp4", "a.wav", "a"};
    const QString name = QString::fromLatin1(names[data[0] % std::size(names)]);
    const int fd = memfd_create("fuzz_media", MFD_CLOEXEC);
    FUZZ_CHECK(fd >= 0, "memory file");
    for (std::size_t done = 1; done < size;) {
        const ssize_t n = ::write(fd, data + done, size - done);
        FUZZ_CHECK(n > 0, "memory file written");
        done += std::size_t(n);
    }
    const treelan::MediaInfo info = treelan::ReadMedia(fd, qint64(size - 1), name);
    ::close(fd);

    // Texts in MP3's shapes, a time that the bytes can carry, sizes as "WxH".
    static const QRegularExpression bitrateShape(QStringLiteral("^(\\d+) kbps( \\(var\\.\\))?$"));
    static const QRegularExpression durationShape(QStringLiteral("^(\\d{2,}):(\\d\\d):(\\d\\d)$"));
    static const QRegularExpression dimensionsShape(QStringLiteral("^[1-9]\\d*x[1-9]\\d*$"));
    if (!info.timing.Bitrate.isEmpty()) {
        FUZZ_CHECK(bitrateShape.match(info.timing.Bitrate).hasMatch(), "bit-rate text shape");
        FUZZ_CHECK(!info.timing.Duration.isEmpty(), "no bit rate without a time");
    }
    if (!info.timing.Duration.isEmpty()) {
        const QRegularExpressionMatch d = durationShape.match(info.timing.Duration);
        FUZZ_CHECK(d.hasMatch(), "duration text shape");
        FUZZ_CHECK(d.captured(2).toInt() < 60 && d.captured(3).toInt() < 60, "below 60");
    }
    const QString& dims = info[treelan::MediaField::Dimensions];
    FUZZ_CHECK(dims.isEmpty() || dimensionsShape.match(dims).hasMatch(), "dimensions shape");
    for (const QString& f : info.fields)
        FUZZ_CHECK(!f.contains(QChar(0)), "no NUL in a text");
    return 0;
}
