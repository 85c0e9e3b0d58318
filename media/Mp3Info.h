#pragma once

#include "platform/DirWalker.h"

#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include <functional>

namespace treelan {

struct MP3Info {
    QString Bitrate;  // "128 kbps", "153 kbps (var.)", or empty when the file gave no information
    QString Duration; // "00:04:10", or empty
};

// Reads bit rate and playing time from the first frame header (and its Xing/Info/VBRI header)
// found after the leading ID3v2 tags, within the first 64 KiB that follow them. A header right at
// the start of the audio is taken as it is; one further in only when the next frame's header
// follows it or it carries a believable Xing/Info/VBRI header. A trailing ID3v1 tag is not counted
// as audio. A file without such a header whose frames in that window change bit rate gives
// empty texts: the first frame's rate would misstate its time. Throws FileError when the file
// cannot be opened or read. `readAfterTags`, when given, adds the bytes read beyond the ten-byte
// tag probes (at most kMp3ReadLimit).
MP3Info ReadMP3Info(const QString& path, qint64* readAfterTags = nullptr);

// The same for `entry`, a file the walk found in the open `folder`: only a regular file is opened
// (OpenRegularFile). One that cannot be opened or read gives empty texts, and `warning` hears why,
// naming the file `displayPath`.
MP3Info ReadMP3InfoIn(const WalkFolder& folder, const DirEntry& entry, const QString& displayPath,
                      const WarningCallback& warning);

// Reads the MP3 files' information on the walk's workers, ahead of ReadMP3InfoIn, which takes it
// from there. `noFollow`: the walk's own (a link not followed is not read).
std::shared_ptr<const FileReadAhead> Mp3ReadAhead(bool noFollow);

// `length` bytes of the file from `offset`; fewer only at the end of the file.
using Mp3ByteReader = std::function<QByteArray(qint64 offset, qint64 length)>;
// The reader over any source of bytes: at most kMp3MaxTags ten-byte tag probes, then at most
// kMp3ReadLimit bytes. `countVbrFrames`: a variable bit rate without a Xing/VBRI header is timed by
// counting its frames through the whole file (headers only, read in large pieces) instead of being
// left empty.
MP3Info ReadMP3InfoFrom(const Mp3ByteReader& read, qint64 size, bool countVbrFrames = false,
                        qint64* readAfterTags = nullptr);
constexpr int kMp3MaxTags = 64;
constexpr qint64 kMp3ReadLimit = 64 * 1024;

// Texts for a variable-bit-rate file (Xing header): frame count, samples per frame, sample rate and
// the number of audio bytes. Gives two empty texts when the playing time comes out as 0 seconds.
MP3Info GetVBRInfo(qint64 frames, int samplesPerFrame, int sampleRate, qint64 audioBytes);

// "hh:mm:ss" with at least two digits each.
QString FormatDuration(qint64 seconds);

// True when the name's extension (text after the last ".", or the whole name) is MP3 in any case.
bool IsMp3Name(const QString& name);

} // namespace treelan
