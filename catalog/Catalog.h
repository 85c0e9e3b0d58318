#pragma once

// The catalogue: one SQLite file of volumes, their snapshots, and what each snapshot saw. Plain
// C++ without Qt, so that a search runs without loading it.
//
// A name is kept once (names), a file or folder of a volume once (nodes: parent and name, so a
// folder keeps its id from snapshot to snapshot), and what a node looked like as versions valid
// from one snapshot of its volume to another (first .. last, last NULL while it holds in the
// volume's latest snapshot). An unchanged entry costs nothing in a new snapshot, and the changes
// between two snapshots of a volume are the versions that begin or end between them.

#include "catalog/Sqlite.h"

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace treelan::catalog {

constexpr std::int64_t kApplicationId = 0x54726c43; // "TrlC"
constexpr std::int64_t kSchemaVersion = 2;          // 2: media details

// Entry kinds as stored; the numbers are DirEntry::Kind's.
enum class Kind : int { File = 0, Folder = 1, Link = 2, Special = 3, Unexamined = 4 };
const char* KindName(Kind kind); // "file", "folder", "link", "special", "unexamined"

// Bits of a folder version's flags.
enum FolderFlag : int {
    kUnreadable = 1, // could not be read: `error` says why
    kLoop = 2,       // leads back to a folder above it; not followed
    kForeign = 4,    // on another file system than the root
    kNotEntered = 8, // the walk did not go into it (depth, file system)
    kRepeat = 16,    // entered elsewhere first (same inode, through a link): not entered here
};

struct VolumeRow {
    std::int64_t id = 0;
    std::string label;
    std::string identity;
    std::string rootInFs;
    std::string fsType;
    std::string fsLabel;
    std::int64_t rootNode = 0;
};

struct SnapshotRow {
    std::int64_t id = 0;
    std::int64_t volume = 0;
    std::string label;           // the volume's
    std::string state;           // running, complete, aborted
    std::int64_t started = 0;    // ns since 1970 UTC
    std::int64_t finished = 0;   // ns since 1970 UTC; 0 while running
    std::string rootPath;        // raw bytes, absolute, ending in "/"
    std::string options;         // the walk's filters as JSON (WalkFilters)
    std::int64_t resolution = 1; // the file system's time step in ns
    bool hashed = false;         // added with --hash
    bool mp3 = false;            // added with -m
    bool media = false;          // added with --media
    std::int64_t files = 0, folders = 0, bytes = 0;
    std::int64_t written = 0; // versions the snapshot wrote
    std::string reason;       // why it was aborted
};

// One version of a node.
struct Version {
    std::int64_t node = 0;
    std::int64_t first = 0;
    std::int64_t last = -1; // -1: open (valid in the volume's latest snapshot)
    Kind kind = Kind::File;
    std::int64_t size = 0;
    std::int64_t mtime = 0;    // ns since 1970
    std::int64_t fileTime = 0; // the export's FILETIME, kept apart only beyond the ns range
    std::int64_t ctime = 0;
    std::int64_t inode = 0;
    std::int64_t mode = 0;
    int error = 0;                  // errno: an entry not examined, a folder not read
    std::optional<std::string> mp3; // "duration\tbitrate" when read
    // With --media, a media file's details that are not empty (PackMedia); none otherwise.
    std::optional<std::string> media;
    std::optional<std::string> hash; // 32 bytes of SHA-256 when hashed
    // Folders, when entered: the digest of their entries and the node ids in enumeration order.
    std::optional<std::int64_t> digest;
    std::string children;
    int flags = 0;

    bool isFolder() const { return kind == Kind::Folder; }
};

// A child of a folder as a snapshot saw it: its node, name and version.
struct Child {
    std::int64_t node = 0;
    std::int64_t nameId = 0;
    std::string raw;  // the name's bytes
    std::string text; // the name as shown (UTF-8)
    Version version;
};

// A media file's texts as kept: playing time, bit rate, then the fields in MediaField's order.
constexpr std::size_t kMediaTexts = 13;
using MediaTexts = std::array<std::string, kMediaTexts>;
// Packed as a flag byte (1: playing time and bit rate follow, because `mp3` does not hold them)
// and varint-prefixed texts, trailing empty ones left out; none when there is nothing to keep.
std::optional<std::string> PackMedia(const MediaTexts& texts,
                                     const std::optional<std::string>& mp3);
MediaTexts UnpackMedia(const std::optional<std::string>& media,
                       const std::optional<std::string>& mp3);

// Node ids in enumeration order, as zig-zag varint steps from one to the next.
std::string PackIds(const std::vector<std::int64_t>& ids);
std::vector<std::int64_t> UnpackIds(std::string_view packed);

class Catalog {
public:
    enum class Mode { Read, Write };
    using Warning = std::function<void(const std::string& message)>;

    // $XDG_DATA_HOME/treelan/catalog.db, or ~/.local/share/treelan/catalog.db.
    static std::string DefaultPath();

    // Opens (for writing: creates) the catalogue. Throws CatalogError: not a catalogue, a newer
    // schema than this program writes, busy, damaged. Reading falls back to an unlocked,
    // unchanging view when the file and its folder cannot be written (read-only media).
    Catalog(const std::string& path, Mode mode, const Warning& warning = {});

    Database& db() { return m_db; }
    // Another connection to the same file, for reading only: it sees the catalogue as it was
    // before the transaction that the main connection is writing.
    std::unique_ptr<Database> readConnection();
    const std::string& path() const { return m_path; }
    bool writable() const { return m_mode == Mode::Write; }

    std::vector<VolumeRow> volumes();
    std::optional<VolumeRow> volume(std::int64_t id);
    std::optional<VolumeRow> volumeByLabel(const std::string& label);
    std::vector<SnapshotRow> snapshots(); // every one, by number
    std::optional<SnapshotRow> snapshot(std::int64_t id);
    // The volume's latest complete snapshot.
    std::optional<SnapshotRow> latest(std::int64_t volume);
    // Complete snapshots of the volume, in order.
    std::vector<std::int64_t> completeSnapshots(std::int64_t volume);

    // A snapshot named on the command line: "N", "LABEL" (its latest) or "LABEL@N". Throws
    // CatalogError saying what is wrong with the name. Only complete snapshots are named.
    SnapshotRow resolve(const std::string& name);

    // The version of `node` valid in snapshot `snapshot`.
    std::optional<Version> versionAt(std::int64_t node, std::int64_t snapshot);
    // The entries of a folder, given its version valid in `snapshot`, in their enumeration
    // order; none for a folder that was not read.
    std::vector<Child> childrenOf(const Version& folder, std::int64_t snapshot);
    // Nodes' paths below their volumes' roots, raw bytes ("a/b.txt"; "" for a root), with the
    // root node each lies below; all in one statement.
    struct NodePath {
        std::int64_t root = 0;
        std::string path;
    };
    std::unordered_map<std::int64_t, NodePath> paths(const std::vector<std::int64_t>& nodes);
    // A name's bytes and text.
    void name(std::int64_t nameId, std::string& raw, std::string& text);

    static Version readVersion(const Statement& s, int at);
    static const char* versionColumns(); // the columns readVersion reads, in its order

    // Drops snapshot `id` and what only it kept; the versions it shares with its neighbours
    // stay with them. Must run inside a write transaction.
    void dropSnapshot(const SnapshotRow& s);

private:
    void openRead();
    void openWrite(const Warning& warning);
    void checkIdentity(bool forWriting);
    void create();
    void upgrade(std::int64_t from);
    void rollBackRunning();
    SnapshotRow readSnapshot(const Statement& s);

    std::string m_path;
    Mode m_mode;
    Database m_db;
    Statement m_versionAt;
    Statement m_child;
    Statement m_name;
};

} // namespace treelan::catalog
