// exiv2: a picture's size as displayed, date taken, camera make and model.
#include "media/MediaReader.h"

#include <exiv2/bmffimage.hpp>
#include <exiv2/exiv2.hpp>
#include <exiv2/webpimage.hpp>

#include <string>

namespace treelan {

namespace {

// exiv2 chooses its parser by content, and some of its parsers are for video (RIFF, QuickTime,
// Matroska, ASF): exiv2 0.27.6 loops for ever on a truncated AVI. Only these types go on.
bool isPictureType(int type) {
    namespace T = Exiv2::ImageType;
    switch (type) {
    case T::jpeg:
    case T::tiff:
    case T::png:
    case T::crw:
    case T::mrw:
    case T::cr2:
    case T::raf:
    case T::orf:
    case T::rw2:
    case T::webp:
    case T::bmff:
        return true;
    default:
        return false;
    }
}

QString value(const Exiv2::ExifData& exif, const char* key) {
    const auto it = exif.findKey(Exiv2::ExifKey(key));
    if (it == exif.end() || it->count() == 0) return {};
    QString text = QString::fromStdString(it->toString()).trimmed();
    text.remove(QChar(0));
    return text;
}

} // namespace

void ReadPicture(int fd, MediaInfo& info) {
    const std::string path = "/proc/self/fd/" + std::to_string(fd);
    try {
        // One open of the file for the type check and the reading.
        Exiv2::BasicIo::AutoPtr io(new Exiv2::FileIo(path));
        if (io->open() != 0) return;
        const int type = Exiv2::ImageFactory::getType(*io);
        io->close();
        if (!isPictureType(type)) return;
        const auto image = Exiv2::ImageFactory::open(std::move(io));
        if (!image.get()) return;
        image->readMetadata();
        const Exiv2::ExifData& exif = image->exifData();
        int width = image->pixelWidth(), height = image->pixelHeight();
        if (width <= 0 || height <= 0) {
            // TIFF-based raw files name their size in the first image's tags.
            bool okW = false, okH = false;
            width = value(exif, "Exif.Image.ImageWidth").toInt(&okW);
            height = value(exif, "Exif.Image.ImageLength").toInt(&okH);
            if (!okW || !okH) width = height = 0;
        }
        // Orientations 5 to 8 turn the picture a quarter: the displayed sides swap.
        const int orientation = value(exif, "Exif.Image.Orientation").toInt();
        if (orientation >= 5 && orientation <= 8) std::swap(width, height);
        if (width > 0 && height > 0)
            info[MediaField::Dimensions] = QStringLiteral("%1x%2").arg(width).arg(height);
        QString taken = value(exif, "Exif.Photo.DateTimeOriginal");
        QString offset = value(exif, "Exif.Photo.OffsetTimeOriginal");
        if (taken.isEmpty()) {
            taken = value(exif, "Exif.Photo.DateTimeDigitized");
            offset = value(exif, "Exif.Photo.OffsetTimeDigitized");
        }
        // As the camera recorded it, never converted; its offset when it gives one.
        if (!taken.isEmpty() && !offset.isEmpty()) taken += QLatin1Char(' ') + offset;
        info[MediaField::Taken] = taken;
        info[MediaField::Make] = value(exif, "Exif.Image.Make");
        info[MediaField::Model] = value(exif, "Exif.Image.Model");
    } catch (const std::exception&) {
        info = {};
    } catch (...) {
        info = {};
    }
}

} // namespace treelan
