#pragma once

#include "media/Mp3Info.h"

#include <QStringView>

namespace treelan {

// What a file holds, told by its first bytes (after any ID3v2 tags), never by its name alone.
enum class MediaKind {
    None,
    // audio, read by TagLib (MP3's time and bit rate by our own reader)
    Mp3,
    Flac,
    OggVorbis,
    OggOpus,
    OggFlac,
    OggSpeex,
    M4a,
    Wav,
    Aiff,
    WavPack,
    Ape,
    Mpc,
    Tta,
    // audio or video: the streams decide
    IsoMedia, // MP4, MOV, 3GP
    Asf,      // WMA, WMV
    // read by libavformat alone
    Rf64,
    Aac, // ADTS
    Matroska,
    Avi,
    OggTheora,
    // pictures, read by exiv2
    Jpeg,
    Png,
    WebP,
    Tiff, // TIFF and the raw formats built on it (DNG, CR2, NEF, ARW, PEF, ...)
    Heif, // HEIC, AVIF, CR3
    Raw,  // raw formats of their own (RAF, ORF, RW2, CRW, MRW, X3F)
};

bool IsPictureKind(MediaKind kind);

// Reads at most a few hundred bytes through `read` (plus one 10-byte probe per leading ID3v2
// tag). `name` matters only for a stream of MPEG audio frames that does not start at the audio:
// such content counts as MP3 only under an MP3 name, where today's reader searches for it.
MediaKind SniffMedia(const Mp3ByteReader& read, qint64 size, QStringView name);

// Printable name of a kind for messages and tests ("flac", "jpeg").
const char* MediaKindName(MediaKind kind);

} // namespace treelan
