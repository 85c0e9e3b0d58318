-- The catalogue's schema version 1, as the first catalogues were written: the upgrade test
-- makes such a file with sqlite3 and fills it from a catalogue of today's schema.
CREATE TABLE volumes(
    id INTEGER PRIMARY KEY,
    label TEXT NOT NULL UNIQUE,
    identity TEXT NOT NULL,        -- uuid:..., fsid:..., mount:SOURCE TYPE
    root_in_fs BLOB NOT NULL,      -- the catalogued folder's path inside its file system
    fs_type TEXT NOT NULL DEFAULT '',
    fs_label TEXT NOT NULL DEFAULT '',
    root_node INTEGER NOT NULL,
    UNIQUE(identity, root_in_fs));
CREATE TABLE snapshots(
    id INTEGER PRIMARY KEY AUTOINCREMENT, -- a number once given is never given again
    volume INTEGER NOT NULL REFERENCES volumes(id),
    state TEXT NOT NULL CHECK(state IN ('running', 'complete', 'aborted')),
    started INTEGER NOT NULL,      -- ns since 1970 UTC
    finished INTEGER,
    root_path BLOB NOT NULL,       -- the folder as it was added, ending in "/"
    options TEXT NOT NULL DEFAULT '{}',
    time_resolution INTEGER NOT NULL DEFAULT 1, -- ns: 2 s on FAT, 10 ms on exFAT
    hashed INTEGER NOT NULL DEFAULT 0,
    mp3 INTEGER NOT NULL DEFAULT 0,
    files INTEGER NOT NULL DEFAULT 0,
    folders INTEGER NOT NULL DEFAULT 0,
    bytes INTEGER NOT NULL DEFAULT 0,
    written INTEGER NOT NULL DEFAULT 0,
    reason TEXT);
CREATE INDEX snapshots_volume ON snapshots(volume, id);
-- Each name once; an add finds a name's id in a table of its own in memory (an index here, filled
-- in random order, cost more than all the rest of an add).
CREATE TABLE names(
    id INTEGER PRIMARY KEY,
    text TEXT NOT NULL,            -- as shown
    raw BLOB);                     -- the bytes, where they are not the text's UTF-8
CREATE VIRTUAL TABLE names_fts USING fts5(folded, content='', detail=none, columnsize=0,
                                          tokenize='trigram case_sensitive 1');
-- A folder's entries are listed by its version (children), so no index on parent is needed.
CREATE TABLE nodes(
    id INTEGER PRIMARY KEY,
    parent INTEGER,                -- NULL for a volume's root
    name INTEGER NOT NULL);
CREATE INDEX nodes_name ON nodes(name, parent); -- with the parent: a search needs no more
CREATE TABLE versions(
    node INTEGER NOT NULL,
    first INTEGER NOT NULL,        -- the first snapshot it holds in
    last INTEGER,                  -- the last one; NULL: the volume's latest
    kind INTEGER NOT NULL,         -- 0 file, 1 folder, 2 link, 3 special, 4 not examined
    size INTEGER NOT NULL DEFAULT 0,
    mtime,                         -- ns since 1970; beyond that range TEXT of the FILETIME
    ctime INTEGER,
    inode INTEGER,
    mode INTEGER,
    error INTEGER,                 -- errno
    mp3 TEXT,                      -- duration TAB bit rate
    hash BLOB,                     -- SHA-256
    digest INTEGER,                -- folders: of their entries
    children BLOB,                 -- folders: node ids in enumeration order
    flags INTEGER,                 -- folders: unreadable 1, loop 2, other file system 4, not entered 8
    born INTEGER,                  -- 1: written by the volume's first snapshot
    PRIMARY KEY(node, first)) WITHOUT ROWID;
-- What a snapshot changed, for diffs: the versions that begin and end there, with what a diff
-- compares, so it reads nothing else. The first snapshot of a volume is never what changed.
CREATE INDEX versions_first ON versions(first, last, kind, size, mtime, hash, flags, error, born)
    WHERE born IS NULL;
CREATE INDEX versions_last ON versions(last, first, kind, size, mtime, hash, flags, error)
    WHERE last IS NOT NULL;
PRAGMA application_id = 1416784963;
PRAGMA user_version = 1;
