#pragma once

#include "media/Mp3Info.h"

#include <QByteArray>
#include <QString>
#include <QStringView>

#include <array>
#include <cstddef>

namespace treelan {

// What the media readers give beyond playing time and bit rate, in the order of their columns.
enum class MediaField {
    Title,
    Artist,
    Album,
    Track,
    Year,
    Genre,
    Dimensions, // "1920x1080" as displayed: a video's rotation, a picture's EXIF orientation
                // applied
    Codec,      // a video's codec
    Taken,      // a picture's date taken, as the camera recorded it
    Make,       // camera make
    Model,      // camera model
};
constexpr std::size_t kMediaFieldCount = std::size_t(MediaField::Model) + 1;

// The one table of the fields' names: the key is the `list --columns` name, the CSV heading, the
// XML attribute, the JSON key and the ncdu key; the heading is the window's column title.
struct MediaFieldName {
    MediaField field;
    const char* key;
    const char* heading;
};
extern const std::array<MediaFieldName, kMediaFieldCount> kMediaFieldNames;

// The field whose key is `key` (in any case), or -1.
int MediaFieldByKey(QStringView key);

// A file's media details. Playing time and bit rate use MP3's texts ("00:03:16", "128 kbps");
// every text is empty when the file did not give it.
struct MediaInfo {
    MP3Info timing;
    std::array<QString, kMediaFieldCount> fields;

    const QString& operator[](MediaField f) const { return fields[std::size_t(f)]; }
    QString& operator[](MediaField f) { return fields[std::size_t(f)]; }
    bool isEmpty() const;
};

// Byte form that crosses the pipe between a helper process and its caller.
QByteArray SerializeMediaInfo(const MediaInfo& info);
// False when `bytes` is not a whole serialized MediaInfo; `info` is then left empty.
bool DeserializeMediaInfo(QByteArrayView bytes, MediaInfo& info);

// What a file's name says it may be: names with an audio, video or picture extension (any case)
// are read, and then their content decides which reader takes them.
bool IsMediaName(QStringView name);

// Texts as MP3's: whole seconds truncated, "00:00:00"-style; a length under a second gives empty
// texts. `kbps` <= 0 gives no bit rate; a bit rate without a time stays empty too. A time that
// the file's `bytes` could not hold (under 1 kbps over the whole file: a damaged header's
// figure) is no time either.
MP3Info TimingTexts(qint64 milliseconds, qint64 kbps, qint64 bytes);

} // namespace treelan
