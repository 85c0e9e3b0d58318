#include "catalog/Entries.h"

#include <cstring>
#include <limits>

namespace treelan::catalog {

static_assert(kMediaTexts == kMediaFieldCount + 2);

namespace {

// The FILETIME of nanoseconds since 1970, as the walk makes it.
qint64 fileTimeOfNs(std::int64_t ns) {
    std::int64_t seconds = ns / 1'000'000'000, rest = ns % 1'000'000'000;
    if (rest < 0) {
        rest += 1'000'000'000;
        --seconds;
    }
    return FileTimeFromUnix(seconds, rest);
}

// A 64-bit mix of words (the finaliser of MurmurHash3 over a running state): fast, and any
// changed bit changes about half the result.
class Mixer {
public:
    void add(std::uint64_t w) {
        m_h ^= w + 0x9E3779B97F4A7C15ULL + (m_h << 6) + (m_h >> 2);
        m_h ^= m_h >> 33;
        m_h *= 0xFF51AFD7ED558CCDULL;
        m_h ^= m_h >> 33;
        m_h *= 0xC4CEB9FE1A85EC53ULL;
        m_h ^= m_h >> 33;
    }
    void add(const QByteArray& bytes) {
        add(std::uint64_t(bytes.size()));
        qsizetype at = 0;
        for (; at + 8 <= bytes.size(); at += 8) {
            std::uint64_t w;
            std::memcpy(&w, bytes.constData() + at, 8);
            add(w);
        }
        std::uint64_t w = 0;
        std::memcpy(&w, bytes.constData() + at, std::size_t(bytes.size() - at));
        add(w);
    }
    std::int64_t value() const { return std::int64_t(m_h); }

private:
    std::uint64_t m_h = 0x243F6A8885A308D3ULL;
};

} // namespace

Version VersionOf(const DirEntry& e) {
    Version v;
    v.kind = static_cast<Kind>(int(e.kind));
    v.size = e.size;
    v.mtime = e.mtimeNs;
    if (fileTimeOfNs(e.mtimeNs) != e.fileTime) v.fileTime = e.fileTime; // beyond the ns range
    v.ctime = e.ctimeNs;
    v.inode = std::int64_t(e.inode);
    v.mode = e.mode;
    v.error = e.kind == DirEntry::Kind::Unexamined ? e.error : 0;
    return v;
}

DirEntry EntryOf(const Version& v, const std::string& rawName) {
    DirEntry e;
    e.rawName = QByteArray(rawName.data(), qsizetype(rawName.size()));
    e.kind = static_cast<DirEntry::Kind>(int(v.kind));
    e.size = v.size;
    e.mtimeNs = v.mtime;
    e.fileTime = v.fileTime != 0 ? v.fileTime : fileTimeOfNs(v.mtime);
    if (v.kind == Kind::Unexamined) e.fileTime = 0;
    e.ctimeNs = v.ctime;
    e.inode = quint64(v.inode);
    e.mode = quint32(v.mode);
    e.error = v.error;
    return e;
}

std::int64_t DigestOf(const std::vector<DirEntry>& entries) {
    Mixer m;
    m.add(std::uint64_t(entries.size()));
    for (const DirEntry& e : entries) {
        m.add(e.rawName);
        m.add(std::uint64_t(e.kind) | std::uint64_t(e.mode) << 8 |
              std::uint64_t(std::uint32_t(e.error)) << 40);
        m.add(std::uint64_t(e.size));
        m.add(std::uint64_t(e.mtimeNs));
        m.add(std::uint64_t(e.ctimeNs));
        m.add(e.inode);
        m.add(std::uint64_t(e.fileTime));
    }
    return m.value();
}

std::optional<std::string> PackMediaInfo(const MediaInfo& info,
                                         const std::optional<std::string>& mp3) {
    MediaTexts texts;
    texts[0] = info.timing.Duration.toStdString();
    texts[1] = info.timing.Bitrate.toStdString();
    for (std::size_t i = 0; i < kMediaFieldCount; ++i)
        texts[i + 2] = info.fields[i].toStdString();
    return PackMedia(texts, mp3);
}

MediaInfo UnpackMediaInfo(const std::optional<std::string>& media,
                          const std::optional<std::string>& mp3) {
    const MediaTexts texts = UnpackMedia(media, mp3);
    MediaInfo info;
    info.timing.Duration = QString::fromStdString(texts[0]);
    info.timing.Bitrate = QString::fromStdString(texts[1]);
    for (std::size_t i = 0; i < kMediaFieldCount; ++i)
        info.fields[i] = QString::fromStdString(texts[i + 2]);
    return info;
}

bool SameMetadata(const Version& a, const Version& b) {
    return a.kind == b.kind && a.size == b.size && a.mtime == b.mtime && a.fileTime == b.fileTime &&
           a.ctime == b.ctime && a.inode == b.inode && a.mode == b.mode && a.error == b.error;
}

} // namespace treelan::catalog
