// TagLib: tags of every audio file, time and bit rate of audio other than MP3.
#include "media/MediaReader.h"

#include <taglib/aifffile.h>
#include <taglib/apefile.h>
#include <taglib/asffile.h>
#include <taglib/flacfile.h>
#include <taglib/id3v2framefactory.h>
#include <taglib/infotag.h>
#include <taglib/mp4file.h>
#include <taglib/mpcfile.h>
#include <taglib/mpegfile.h>
#include <taglib/oggflacfile.h>
#include <taglib/opusfile.h>
#include <taglib/speexfile.h>
#include <taglib/tiostream.h>
#include <taglib/trueaudiofile.h>
#include <taglib/vorbisfile.h>
#include <taglib/wavfile.h>
#include <taglib/wavpackfile.h>

#include <cerrno>
#include <memory>
#include <mutex>
#include <unistd.h>

namespace treelan {

namespace {

// TagLib reads through this stream: pread on the caller's descriptor, nothing written.
class FdStream final : public TagLib::IOStream {
public:
    explicit FdStream(int fd) : m_fd(fd) {
        const off_t end = ::lseek(fd, 0, SEEK_END);
        m_length = end < 0 ? 0 : long(end);
    }
    TagLib::FileName name() const override { return ""; }
    TagLib::ByteVector readBlock(unsigned long length) override {
        if (m_pos >= m_length) return {};
        const unsigned long want =
            std::min<unsigned long>(length, static_cast<unsigned long>(m_length - m_pos));
        TagLib::ByteVector bytes(static_cast<unsigned int>(want), 0);
        unsigned long got = 0;
        while (got < want) {
            const ssize_t n =
                ::pread(m_fd, bytes.data() + got, want - got, off_t(m_pos) + off_t(got));
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            got += static_cast<unsigned long>(n);
        }
        bytes.resize(static_cast<unsigned int>(got));
        m_pos += long(got);
        return bytes;
    }
    void writeBlock(const TagLib::ByteVector&) override {}
    void insert(const TagLib::ByteVector&, unsigned long, unsigned long) override {}
    void removeBlock(unsigned long, unsigned long) override {}
    bool readOnly() const override { return true; }
    bool isOpen() const override { return true; }
    void seek(long offset, Position p) override {
        const long base = p == Beginning ? 0 : p == Current ? m_pos : m_length;
        m_pos = std::max(0L, base + offset);
    }
    long tell() const override { return m_pos; }
    long length() override { return m_length; }
    void truncate(long) override {}

private:
    int m_fd;
    long m_pos = 0;
    long m_length = 0;
};

QString text(const TagLib::String& s) {
    if (s.isEmpty()) return {};
    QString t = QString::fromStdString(s.to8Bit(true)).trimmed();
    t.remove(QChar(0));
    return t;
}

QString number(unsigned int n) {
    return n > 0 ? QString::number(n) : QString();
}

// Fields the tag gives, where `info` has none yet.
void take(const TagLib::Tag* tag, MediaInfo& info) {
    if (!tag) return;
    const QString values[] = {text(tag->title()),   text(tag->artist()), text(tag->album()),
                              number(tag->track()), number(tag->year()), text(tag->genre())};
    const MediaField fields[] = {MediaField::Title, MediaField::Artist, MediaField::Album,
                                 MediaField::Track, MediaField::Year,   MediaField::Genre};
    for (std::size_t i = 0; i < std::size(fields); ++i)
        if (info[fields[i]].isEmpty()) info[fields[i]] = values[i];
}

std::unique_ptr<TagLib::File> open(FdStream* s, MediaKind kind, bool props) {
    using namespace TagLib;
    const auto style = TagLib::AudioProperties::Average;
    ID3v2::FrameFactory* frames = ID3v2::FrameFactory::instance();
    switch (kind) {
    case MediaKind::Mp3:
        return std::make_unique<MPEG::File>(s, frames, false, style);
    case MediaKind::Flac:
        return std::make_unique<FLAC::File>(s, frames, props, style);
    case MediaKind::OggVorbis:
        return std::make_unique<Ogg::Vorbis::File>(s, props, style);
    case MediaKind::OggOpus:
        return std::make_unique<Ogg::Opus::File>(s, props, style);
    case MediaKind::OggFlac:
        return std::make_unique<Ogg::FLAC::File>(s, props, style);
    case MediaKind::OggSpeex:
        return std::make_unique<Ogg::Speex::File>(s, props, style);
    case MediaKind::M4a:
    case MediaKind::IsoMedia:
        return std::make_unique<MP4::File>(s, props, style);
    case MediaKind::Wav:
        return std::make_unique<RIFF::WAV::File>(s, props, style);
    case MediaKind::Aiff:
        return std::make_unique<RIFF::AIFF::File>(s, props, style);
    case MediaKind::Asf:
        return std::make_unique<ASF::File>(s, props, style);
    case MediaKind::WavPack:
        return std::make_unique<WavPack::File>(s, props, style);
    case MediaKind::Ape:
        return std::make_unique<APE::File>(s, props, style);
    case MediaKind::Mpc:
        return std::make_unique<MPC::File>(s, props, style);
    case MediaKind::Tta:
        return std::make_unique<TrueAudio::File>(s, frames, props, style);
    default:
        return {};
    }
}

} // namespace

// TagLib 1.13 builds some tables lazily without a lock: one reader at a time in this process.
std::mutex& TagLibLock() {
    static std::mutex lock;
    return lock;
}

void ReadTagLib(int fd, MediaKind kind, MediaInfo& info, AudioProperties* properties) {
    std::lock_guard guard(TagLibLock());
    FdStream stream(fd);
    const std::unique_ptr<TagLib::File> file = open(&stream, kind, properties != nullptr);
    if (!file || !file->isValid()) return;
    take(file->tag(), info);
    // A WAV file's RIFF INFO chunk: TagLib's generic tag of a WAV file is its ID3v2 tag alone.
    if (kind == MediaKind::Wav) {
        auto* wav = static_cast<TagLib::RIFF::WAV::File*>(file.get());
        if (wav->hasInfoTag()) take(wav->InfoTag(), info);
    }
    if (properties && file->audioProperties()) {
        properties->milliseconds = file->audioProperties()->lengthInMilliseconds();
        properties->kbps = file->audioProperties()->bitrate();
    }
}

} // namespace treelan
