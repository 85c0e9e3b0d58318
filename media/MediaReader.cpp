#include "media/MediaReader.h"

#include "platform/FileError.h"

#include <exiv2/exiv2.hpp>
extern "C" {
#include <libavutil/log.h>
}
#include <taglib/id3v1genres.h>
#include <taglib/id3v2framefactory.h>
#include <taglib/tdebuglistener.h>

#include <QByteArray>

#include <cerrno>
#include <mutex>
#include <unistd.h>

namespace treelan {

namespace {

class SilentListener final : public TagLib::DebugListener {
public:
    void printMessage(const TagLib::String&) override {}
};

QByteArray readAt(int fd, qint64 offset, qint64 length) {
    QByteArray buffer(length, Qt::Uninitialized);
    qint64 got = 0;
    while (got < length) {
        const ssize_t n =
            ::pread(fd, buffer.data() + got, size_t(length - got), off_t(offset + got));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        got += n;
    }
    buffer.truncate(got);
    return buffer;
}

} // namespace

void InitMediaLibraries() {
    static std::once_flag once;
    std::call_once(once, [] {
        Exiv2::XmpParser::initialize();
        Exiv2::enableBMFF(true);
        Exiv2::LogMsg::setLevel(Exiv2::LogMsg::mute);
        av_log_set_level(AV_LOG_QUIET);
        static SilentListener silent;
        TagLib::setDebugListener(&silent);
        // TagLib's lazily built tables, built here on one thread.
        (void)TagLib::ID3v1::genreList();
        (void)TagLib::ID3v1::genreMap();
        (void)TagLib::ID3v2::FrameFactory::instance();
    });
}

MediaInfo ReadMedia(int fd, qint64 size, QStringView name) {
    InitMediaLibraries();
    MediaInfo info;
    const Mp3ByteReader read = [fd](qint64 offset, qint64 length) {
        return readAt(fd, offset, length);
    };
    const MediaKind kind = SniffMedia(read, size, name);
    switch (kind) {
    case MediaKind::None:
        return info;
    case MediaKind::Mp3:
        try {
            info.timing = ReadMP3InfoFrom(read, size, true);
        } catch (const FileError&) {
        }
        ReadTagLib(fd, kind, info, nullptr);
        return info;
    case MediaKind::IsoMedia:
    case MediaKind::Asf: {
        // Audio or video: a video stream makes it a video, whose tags the container gave
        // (TagLib would parse the whole atom tree again for them).
        MediaInfo av;
        if (ReadAvFormat(fd, size, kind, av)) return av;
        AudioProperties props;
        ReadTagLib(fd, kind, info, &props);
        info.timing = props.milliseconds >= 1000 ? TimingTexts(props.milliseconds, props.kbps, size)
                                                 : av.timing;
        // Tags TagLib did not find where the container's own names them (ffmpeg's WMA year).
        for (std::size_t i = 0; i < std::size_t(MediaField::Dimensions); ++i)
            if (info.fields[i].isEmpty()) info.fields[i] = av.fields[i];
        return info;
    }
    case MediaKind::Flac:
    case MediaKind::OggVorbis:
    case MediaKind::OggOpus:
    case MediaKind::OggFlac:
    case MediaKind::OggSpeex:
    case MediaKind::M4a:
    case MediaKind::Wav:
    case MediaKind::Aiff:
    case MediaKind::WavPack:
    case MediaKind::Ape:
    case MediaKind::Mpc:
    case MediaKind::Tta: {
        AudioProperties props;
        ReadTagLib(fd, kind, info, &props);
        if (props.milliseconds >= 1000) {
            info.timing = TimingTexts(props.milliseconds, props.kbps, size);
            return info;
        }
        // TagLib times it as 0 s (a WAV whose data size is wrong, a damaged header): the
        // container's own figures, or the size over the rate.
        MediaInfo av;
        ReadAvFormat(fd, size, kind, av);
        info.timing = av.timing;
        return info;
    }
    case MediaKind::Rf64:
    case MediaKind::Aac:
    case MediaKind::Matroska:
    case MediaKind::Avi:
    case MediaKind::OggTheora:
        ReadAvFormat(fd, size, kind, info);
        return info;
    case MediaKind::Jpeg:
    case MediaKind::Png:
    case MediaKind::WebP:
    case MediaKind::Tiff:
    case MediaKind::Heif:
    case MediaKind::Raw:
        ReadPicture(fd, info);
        return info;
    }
    return info;
}

} // namespace treelan
