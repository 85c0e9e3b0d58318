#pragma once

#include <QString>
#include <QtGlobal>

namespace treelan {

struct MP3Info {
    QString Bitrate;  // "128 kbps", "153 kbps (var.)", or empty when the file gave no information
    QString Duration; // "00:04:10", or empty
};

// Reads bit rate and playing time from the first frame header (and its Xing/Info header) found
// after a leading ID3v2 tag, within the first 64 KiB that follow it. A trailing ID3v1 tag is not
// counted as audio. Throws FileError when the file cannot be opened or read.
MP3Info ReadMP3Info(const QString& path);
// The same on an already open file descriptor (the walkers open files relative to their folder).
// `size` is the file's length in bytes; `displayPath` names the file in errors.
MP3Info ReadMP3InfoFromFd(int fd, qint64 size, const QString& displayPath);

// Texts for a variable-bit-rate file (Xing header): frame count, samples per frame, sample rate and
// the number of audio bytes. Gives two empty texts when the playing time comes out as 0 seconds.
MP3Info GetVBRInfo(qint64 frames, int samplesPerFrame, int sampleRate, qint64 audioBytes);

// Bytes that the last ReadMP3InfoFromFd call on this thread read from its file after the 10-byte
// ID3v2 header probe, i.e. beyond the tag skip; lets tests check the bounded window.
qint64 LastMp3BytesRead();

// "hh:mm:ss" with at least two digits each.
QString FormatDuration(qint64 seconds);

// True when the name's extension (text after the last ".", or the whole name) is MP3 in any case.
bool IsMp3Name(const QString& name);

} // namespace treelan
