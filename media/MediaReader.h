#pragma once

#include "media/MediaInfo.h"
#include "media/MediaSniff.h"

#include <QStringView>

namespace treelan {

// Sets the libraries up: once, before any thread reads (exiv2's XMP parser, its BMFF support,
// TagLib's lazily built tables, the libraries' messages silenced). ReadMedia calls it too.
void InitMediaLibraries();

// Media details of the open regular file `fd` of `size` bytes. Its content chooses the reader
// (SniffMedia): TagLib for audio and every audio file's tags (MP3's time and bit rate from our
// own reader, which counts the frames of a variable rate without a Xing header), libavformat
// for video and for audio TagLib times as 0 s, exiv2 for pictures. Content that is no media, or
// that a library cannot read, gives empty fields. Reads through `fd` with pread only.
// These libraries parse untrusted bytes and can hang or crash on some: callers run this in a
// helper process (MediaPool), never on a thread of their own.
MediaInfo ReadMedia(int fd, qint64 size, QStringView name);

// One reader per library, behind the same small shape.
struct AudioProperties {
    qint64 milliseconds = 0;
    qint64 kbps = 0;
};
// TagLib: tags into `info`; `properties` (may be null) gets time and bit rate.
void ReadTagLib(int fd, MediaKind kind, MediaInfo& info, AudioProperties* properties);
// libavformat, the container only. Fills time, bit rate and, for a video stream, dimensions
// and codec; tags only where `info` has none. Returns whether a video stream was found.
bool ReadAvFormat(int fd, qint64 size, MediaKind kind, MediaInfo& info);
// exiv2: dimensions as displayed, date taken, camera make and model.
void ReadPicture(int fd, MediaInfo& info);

} // namespace treelan
