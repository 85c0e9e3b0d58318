#include "media/MediaInfo.h"

#include "media/MediaFieldKeys.h"

#include <QDataStream>
#include <QIODevice>

#include <algorithm>

namespace treelan {

static_assert(kMediaFieldKeys.size() == kMediaFieldCount);

const std::array<MediaFieldName, kMediaFieldCount> kMediaFieldNames = {{
    {MediaField::Title, kMediaFieldKeys[0].data(), "Title"},
    {MediaField::Artist, kMediaFieldKeys[1].data(), "Artist"},
    {MediaField::Album, kMediaFieldKeys[2].data(), "Album"},
    {MediaField::Track, kMediaFieldKeys[3].data(), "Track"},
    {MediaField::Year, kMediaFieldKeys[4].data(), "Year"},
    {MediaField::Genre, kMediaFieldKeys[5].data(), "Genre"},
    {MediaField::Dimensions, kMediaFieldKeys[6].data(), "Dimensions"},
    {MediaField::Codec, kMediaFieldKeys[7].data(), "Codec"},
    {MediaField::Taken, kMediaFieldKeys[8].data(), "Date taken"},
    {MediaField::Make, kMediaFieldKeys[9].data(), "Camera make"},
    {MediaField::Model, kMediaFieldKeys[10].data(), "Camera model"},
}};

int MediaFieldByKey(QStringView key) {
    for (std::size_t i = 0; i < kMediaFieldNames.size(); ++i)
        if (key.compare(QLatin1String(kMediaFieldNames[i].key), Qt::CaseInsensitive) == 0)
            return int(i);
    return -1;
}

bool MediaInfo::isEmpty() const {
    return timing.Duration.isEmpty() && timing.Bitrate.isEmpty() &&
           std::all_of(fields.begin(), fields.end(), [](const QString& s) { return s.isEmpty(); });
}

namespace {
// Bumped whenever the layout changes, so a helper of another build is refused, not misread.
constexpr quint32 kWireVersion = 1;
} // namespace

QByteArray SerializeMediaInfo(const MediaInfo& info) {
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    out << kWireVersion << quint32(kMediaFieldCount) << info.timing.Duration << info.timing.Bitrate;
    for (const QString& f : info.fields)
        out << f;
    return bytes;
}

bool DeserializeMediaInfo(QByteArrayView bytes, MediaInfo& info) {
    info = {};
    const QByteArray copy = bytes.toByteArray();
    QDataStream in(copy);
    quint32 version = 0, count = 0;
    MediaInfo read;
    in >> version >> count;
    if (version != kWireVersion || count != kMediaFieldCount) return false;
    in >> read.timing.Duration >> read.timing.Bitrate;
    for (QString& f : read.fields)
        in >> f;
    if (in.status() != QDataStream::Ok || !in.atEnd()) return false;
    info = std::move(read);
    return true;
}

bool IsMediaName(QStringView name) {
    static const char* const extensions[] = {
        // audio
        "mp3", "mp2", "flac", "fla", "ogg", "oga", "opus", "spx", "m4a", "m4b", "m4p", "aac", "wav",
        "wave", "rf64", "bwf", "aif", "aiff", "aifc", "wma", "wv", "ape", "mpc", "mp+", "mpp",
        "tta", "mka",
        // video
        "mp4", "m4v", "mov", "qt", "mkv", "webm", "avi", "wmv", "asf", "3gp", "3g2", "ogv",
        // pictures, camera raw included
        "jpg", "jpeg", "jpe", "jfif", "png", "webp", "tif", "tiff", "heic", "heif", "avif", "dng",
        "cr2", "cr3", "crw", "nef", "nrw", "arw", "sr2", "srf", "orf", "rw2", "raf", "pef", "srw",
        "mrw", "3fr", "erf", "kdc", "dcr", "x3f"};
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    if (dot < 0) return false;
    const QStringView ext = name.mid(dot + 1);
    for (const char* e : extensions)
        if (ext.compare(QLatin1String(e), Qt::CaseInsensitive) == 0) return true;
    return false;
}

MP3Info TimingTexts(qint64 milliseconds, qint64 kbps, qint64 bytes) {
    const qint64 seconds = milliseconds / 1000;
    if (seconds <= 0 || bytes / 125 < seconds) return {};
    MP3Info t;
    t.Duration = FormatDuration(seconds);
    if (kbps > 0) t.Bitrate = QString::number(kbps) + QStringLiteral(" kbps");
    return t;
}

} // namespace treelan
