#include "media/MediaSniff.h"

#include <QByteArray>

#include <cstring>

namespace treelan {

namespace {

constexpr qint64 kHead = 64;
constexpr int kMaxId3Tags = 8;

bool at(const QByteArray& b, qint64 offset, const char* magic, qint64 length) {
    return offset + length <= b.size() &&
           std::memcmp(b.constData() + offset, magic, size_t(length)) == 0;
}
template <std::size_t N> bool at(const QByteArray& b, qint64 offset, const char (&magic)[N]) {
    return at(b, offset, magic, qint64(N - 1));
}

quint8 byte(const QByteArray& b, qint64 i) {
    return i < b.size() ? static_cast<quint8>(b[i]) : 0;
}

// Length of the ID3v2 tag at the start of `b` (header, body, footer), or 0.
qint64 id3Length(const QByteArray& b) {
    if (!at(b, 0, "ID3") || b.size() < 10 || byte(b, 3) == 0xFF || byte(b, 4) == 0xFF) return 0;
    qint64 size = 0;
    for (int i = 6; i < 10; ++i) {
        if (byte(b, i) & 0x80) return 0;
        size = size << 7 | byte(b, i);
    }
    return 10 + size + ((byte(b, 5) & 0x10) ? 10 : 0);
}

// An MPEG audio frame header: eleven sync bits, a version and a layer that exist, a bit rate
// index other than 15 and a sample rate other than the reserved one.
bool mpegFrame(const QByteArray& b, qint64 i) {
    const quint8 b1 = byte(b, i + 1), b2 = byte(b, i + 2);
    return byte(b, i) == 0xFF && (b1 & 0xE0) == 0xE0 && ((b1 >> 3) & 3) != 1 &&
           ((b1 >> 1) & 3) != 0 && (b2 >> 4) != 15 && ((b2 >> 2) & 3) != 3;
}

// ADTS (raw AAC): sync, layer 0.
bool adtsFrame(const QByteArray& b, qint64 i) {
    return byte(b, i) == 0xFF && (byte(b, i + 1) & 0xF6) == 0xF0 &&
           ((byte(b, i + 2) >> 2) & 15) < 13;
}

bool brandIs(const QByteArray& brand, std::initializer_list<const char*> brands) {
    for (const char* b : brands)
        if (brand == QByteArray::fromRawData(b, 4)) return true;
    return false;
}

// ISO base media: the brands in the ftyp box tell pictures (HEIF, AVIF, CR3) and audio-only
// files (M4A) from the rest.
MediaKind isoKind(const Mp3ByteReader& read, const QByteArray& head) {
    if (!at(head, 4, "ftyp")) return MediaKind::IsoMedia; // QuickTime may open with moov or mdat
    const qint64 boxSize =
        qMin<qint64>(quint32(byte(head, 0)) << 24 | quint32(byte(head, 1)) << 16 |
                         quint32(byte(head, 2)) << 8 | byte(head, 3),
                     256);
    const QByteArray box = boxSize > head.size() ? read(0, boxSize) : head.left(boxSize);
    const QByteArray major = box.mid(8, 4);
    static const std::initializer_list<const char*> pictures = {"heic", "heix", "hevc", "heim",
                                                                "heis", "hevm", "hevs", "mif1",
                                                                "msf1", "avif", "avis", "crx "};
    static const std::initializer_list<const char*> audio = {"M4A ", "M4B ", "M4P ", "F4A ",
                                                             "F4B "};
    if (brandIs(major, pictures)) return MediaKind::Heif;
    if (brandIs(major, audio)) return MediaKind::M4a;
    for (qint64 i = 16; i + 4 <= box.size(); i += 4)
        if (brandIs(box.mid(i, 4), {"mif1", "msf1"})) return MediaKind::Heif; // HEIF image brands
    return MediaKind::IsoMedia;
}

MediaKind oggKind(const QByteArray& head) {
    // The first page holds the first packet alone: 27 header bytes, then the lacing values.
    const qint64 packet = 27 + byte(head, 26);
    if (at(head, packet, "\x01vorbis")) return MediaKind::OggVorbis;
    if (at(head, packet, "OpusHead")) return MediaKind::OggOpus;
    if (at(head, packet,
           "\x7f"
           "FLAC"))
        return MediaKind::OggFlac;
    if (at(head, packet, "Speex   ")) return MediaKind::OggSpeex;
    if (at(head, packet, "\x80theora")) return MediaKind::OggTheora;
    return MediaKind::None;
}

// What stands at the audio after the ID3v2 tags.
MediaKind afterTags(const QByteArray& b) {
    if (at(b, 0, "fLaC")) return MediaKind::Flac;
    if (at(b, 0, "MAC ")) return MediaKind::Ape;
    if (at(b, 0, "TTA1")) return MediaKind::Tta;
    if (at(b, 0, "wvpk")) return MediaKind::WavPack;
    if (at(b, 0, "MPCK") || at(b, 0, "MP+")) return MediaKind::Mpc;
    if (adtsFrame(b, 0)) return MediaKind::Aac;
    if (mpegFrame(b, 0)) return MediaKind::Mp3;
    return MediaKind::None;
}

} // namespace

bool IsPictureKind(MediaKind kind) {
    return kind >= MediaKind::Jpeg;
}

MediaKind SniffMedia(const Mp3ByteReader& read, qint64 size, QStringView name) {
    if (size < 12) return MediaKind::None;
    const QByteArray head = read(0, kHead);
    if (at(head, 8, "WAVE") && at(head, 0, "RIFF")) return MediaKind::Wav;
    if (at(head, 8, "WAVE") && (at(head, 0, "RF64") || at(head, 0, "BW64"))) return MediaKind::Rf64;
    if (at(head, 0, "RIFF") && at(head, 8, "AVI ")) return MediaKind::Avi;
    if (at(head, 0, "RIFF") && at(head, 8, "WEBP")) return MediaKind::WebP;
    if (at(head, 0, "FORM") && (at(head, 8, "AIFF") || at(head, 8, "AIFC"))) return MediaKind::Aiff;
    if (at(head, 0, "OggS")) return oggKind(head);
    if (at(head, 0, "\x1a\x45\xdf\xa3")) return MediaKind::Matroska;
    if (at(head, 0, "\x30\x26\xb2\x75\x8e\x66\xcf\x11\xa6\xd9\x00\xaa\x00\x62\xce\x6c"))
        return MediaKind::Asf;
    if (at(head, 4, "ftyp") || at(head, 4, "moov") || at(head, 4, "mdat") || at(head, 4, "wide"))
        return isoKind(read, head);
    if (at(head, 0, "\xff\xd8\xff")) return MediaKind::Jpeg;
    if (at(head, 0, "\x89PNG\r\n\x1a\n")) return MediaKind::Png;
    if (at(head, 0, "II\x1a\0\0\0HEAPCCDR") || at(head, 0, "FUJIFILMCCD-RAW") ||
        at(head, 0, "IIRO") || at(head, 0, "IIRS") || at(head, 0, "MMOR") || at(head, 0, "IIU\0") ||
        at(head, 0, "\0MRM") || at(head, 0, "FOVb"))
        return MediaKind::Raw;
    if (at(head, 0, "II*\0") || at(head, 0, "MM\0*")) return MediaKind::Tiff;

    // Audio may stand behind ID3v2 tags, several of them.
    qint64 audio = 0;
    QByteArray probe = head;
    for (int tags = 0; tags < kMaxId3Tags; ++tags) {
        const qint64 length = id3Length(probe);
        if (length == 0 || length > size - audio) break;
        audio += length;
        probe = read(audio, kHead);
    }
    const MediaKind kind = afterTags(probe);
    if (kind != MediaKind::None) return kind;
    // Today's MP3 reader searches the first 64 KiB for a frame; it does so under MP3 names only.
    return IsMp3Name(name.toString()) ? MediaKind::Mp3 : MediaKind::None;
}

const char* MediaKindName(MediaKind kind) {
    switch (kind) {
    case MediaKind::None:
        return "none";
    case MediaKind::Mp3:
        return "mp3";
    case MediaKind::Flac:
        return "flac";
    case MediaKind::OggVorbis:
        return "vorbis";
    case MediaKind::OggOpus:
        return "opus";
    case MediaKind::OggFlac:
        return "oggflac";
    case MediaKind::OggSpeex:
        return "speex";
    case MediaKind::M4a:
        return "m4a";
    case MediaKind::Wav:
        return "wav";
    case MediaKind::Aiff:
        return "aiff";
    case MediaKind::WavPack:
        return "wavpack";
    case MediaKind::Ape:
        return "ape";
    case MediaKind::Mpc:
        return "mpc";
    case MediaKind::Tta:
        return "tta";
    case MediaKind::IsoMedia:
        return "isomedia";
    case MediaKind::Asf:
        return "asf";
    case MediaKind::Rf64:
        return "rf64";
    case MediaKind::Aac:
        return "aac";
    case MediaKind::Matroska:
        return "matroska";
    case MediaKind::Avi:
        return "avi";
    case MediaKind::OggTheora:
        return "theora";
    case MediaKind::Jpeg:
        return "jpeg";
    case MediaKind::Png:
        return "png";
    case MediaKind::WebP:
        return "webp";
    case MediaKind::Tiff:
        return "tiff";
    case MediaKind::Heif:
        return "heif";
    case MediaKind::Raw:
        return "raw";
    }
    return "none";
}

} // namespace treelan
