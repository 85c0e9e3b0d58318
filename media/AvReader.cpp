// libavformat: video, and audio that TagLib cannot time. The container only: no
// avformat_find_stream_info, which decodes packets and costs many times more.
#include "media/MediaReader.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/display.h>
#include <libavutil/mem.h>
}

#include <cerrno>
#include <cmath>
#include <unistd.h>

namespace treelan {

namespace {

struct FdSource {
    int fd;
    qint64 size;
    qint64 pos = 0;
};

int readPacket(void* opaque, uint8_t* buffer, int length) {
    auto* s = static_cast<FdSource*>(opaque);
    for (;;) {
        const ssize_t n = ::pread(s->fd, buffer, size_t(length), off_t(s->pos));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return AVERROR(errno);
        if (n == 0) return AVERROR_EOF;
        s->pos += n;
        return int(n);
    }
}

int64_t seekTo(void* opaque, int64_t offset, int whence) {
    auto* s = static_cast<FdSource*>(opaque);
    switch (whence & ~AVSEEK_FORCE) {
    case AVSEEK_SIZE:
        return s->size;
    case SEEK_SET:
        s->pos = offset;
        break;
    case SEEK_CUR:
        s->pos += offset;
        break;
    case SEEK_END:
        s->pos = s->size + offset;
        break;
    default:
        return -1;
    }
    return s->pos;
}

// The demuxer of a kind, so that nothing is probed.
const AVInputFormat* demuxerOf(MediaKind kind) {
    switch (kind) {
    case MediaKind::IsoMedia:
    case MediaKind::M4a:
        return av_find_input_format("mov");
    case MediaKind::Matroska:
        return av_find_input_format("matroska");
    case MediaKind::Avi:
        return av_find_input_format("avi");
    case MediaKind::Asf:
        return av_find_input_format("asf");
    case MediaKind::Wav:
        return av_find_input_format("wav");
    case MediaKind::Rf64:
        return av_find_input_format("wav");
    case MediaKind::Aiff:
        return av_find_input_format("aiff");
    case MediaKind::Aac:
        return av_find_input_format("aac");
    case MediaKind::Flac:
        return av_find_input_format("flac");
    case MediaKind::OggVorbis:
    case MediaKind::OggOpus:
    case MediaKind::OggFlac:
    case MediaKind::OggSpeex:
    case MediaKind::OggTheora:
        return av_find_input_format("ogg");
    case MediaKind::WavPack:
        return av_find_input_format("wv");
    case MediaKind::Ape:
        return av_find_input_format("ape");
    case MediaKind::Mpc:
        return av_find_input_format("mpc8");
    case MediaKind::Tta:
        return av_find_input_format("tta");
    case MediaKind::Mp3:
        return av_find_input_format("mp3");
    default:
        return nullptr;
    }
}

QString tag(const AVDictionary* metadata, const char* key) {
    const AVDictionaryEntry* e = av_dict_get(metadata, key, nullptr, 0);
    return e && e->value ? QString::fromUtf8(e->value).trimmed() : QString();
}

// A video stream's size as displayed: a display matrix that turns it a quarter swaps the sides.
void dimensions(const AVStream* st, MediaInfo& info) {
    const AVCodecParameters* par = st->codecpar;
    int width = par->width, height = par->height;
    if (width <= 0 || height <= 0) return;
    size_t sideSize = 0;
    const uint8_t* matrix = av_stream_get_side_data(st, AV_PKT_DATA_DISPLAYMATRIX, &sideSize);
    if (matrix && sideSize >= 9 * sizeof(int32_t)) {
        const double angle = av_display_rotation_get(reinterpret_cast<const int32_t*>(matrix));
        if (std::isfinite(angle) && std::lround(std::fabs(angle)) % 180 == 90)
            std::swap(width, height);
    } else if (const AVDictionaryEntry* rotate = av_dict_get(st->metadata, "rotate", nullptr, 0)) {
        if (std::abs(std::atoi(rotate->value)) % 180 == 90) std::swap(width, height);
    }
    info[MediaField::Dimensions] = QStringLiteral("%1x%2").arg(width).arg(height);
}

} // namespace

bool ReadAvFormat(int fd, qint64 size, MediaKind kind, MediaInfo& info) {
    const AVInputFormat* demuxer = demuxerOf(kind);
    if (!demuxer) return false;
    FdSource source{fd, size};
    constexpr int kBuffer = 16 * 1024;
    auto* buffer = static_cast<unsigned char*>(av_malloc(kBuffer));
    if (!buffer) return false;
    AVIOContext* io = avio_alloc_context(buffer, kBuffer, 0, &source, readPacket, nullptr, seekTo);
    if (!io) {
        av_free(buffer);
        return false;
    }
    AVFormatContext* ctx = avformat_alloc_context();
    bool video = false;
    if (ctx) {
        ctx->pb = io;
        ctx->flags |= AVFMT_FLAG_CUSTOM_IO;
        // avformat_open_input frees the context when it fails.
        if (avformat_open_input(&ctx, nullptr, demuxer, nullptr) == 0) {
            qint64 micro = ctx->duration > 0 ? ctx->duration : 0;
            qint64 bits = ctx->bit_rate > 0 ? ctx->bit_rate : 0;
            const AVStream* videoStream = nullptr;
            qint64 streamBits = 0;
            for (unsigned i = 0; i < ctx->nb_streams; ++i) {
                const AVStream* st = ctx->streams[i];
                const AVCodecParameters* par = st->codecpar;
                if (par->codec_type == AVMEDIA_TYPE_VIDEO && !videoStream &&
                    !(st->disposition & AV_DISPOSITION_ATTACHED_PIC))
                    videoStream = st;
                if (par->bit_rate > 0) streamBits += par->bit_rate;
                if (micro == 0 && st->duration > 0 && st->time_base.den > 0)
                    micro = av_rescale(st->duration, qint64(st->time_base.num) * AV_TIME_BASE,
                                       st->time_base.den);
            }
            if (bits == 0) bits = streamBits;
            // A header that gives no length (a WAV or RF64 whose data size is wrong or open):
            // the bytes over the rate.
            if (micro == 0 && bits > 0 && size > 0) micro = size * 8 * AV_TIME_BASE / bits;
            // A container that gives no rate: the bytes over the length.
            if (bits == 0 && micro > 0) bits = size * 8 * AV_TIME_BASE / micro;
            if (micro > 0) info.timing = TimingTexts(micro / 1000, (bits + 500) / 1000, size);
            if (videoStream) {
                video = true;
                dimensions(videoStream, info);
                info[MediaField::Codec] =
                    QString::fromUtf8(avcodec_get_name(videoStream->codecpar->codec_id));
            }
            const struct {
                MediaField field;
                const char* key;
            } tags[] = {{MediaField::Title, "title"}, {MediaField::Artist, "artist"},
                        {MediaField::Album, "album"}, {MediaField::Track, "track"},
                        {MediaField::Year, "date"},   {MediaField::Genre, "genre"}};
            for (const auto& t : tags)
                if (info[t.field].isEmpty()) info[t.field] = tag(ctx->metadata, t.key);
            info[MediaField::Year].truncate(4);                                    // "2021-05-01"
            info[MediaField::Track] = info[MediaField::Track].section(u'/', 0, 0); // "3/12"
            avformat_close_input(&ctx);
        }
    }
    av_freep(&io->buffer);
    avio_context_free(&io);
    return video;
}

} // namespace treelan
