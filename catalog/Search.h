#pragma once

// The catalogue's search, in plain C++: names found through the trigram index, then the
// snapshots that hold them.

#include "catalog/Catalog.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace treelan::catalog {

struct SearchOptions {
    std::string pattern;       // as NamePattern reads it
    std::string volume;        // a label: only its snapshots
    std::string snapshot;      // a snapshot name: only that snapshot
    bool allSnapshots = false; // every complete snapshot, not only each volume's latest
    // --size: '+' larger than, '-' smaller than, '=' exactly `size` bytes; 0: any size.
    char sizeOp = 0;
    std::int64_t size = 0;
    std::int64_t newerNs = INT64_MIN; // modified after
    std::int64_t olderNs = INT64_MAX; // modified before
    std::vector<std::string> types;   // folded extensions, without the dot: files only
    enum class Format { Text, Json, Tsv, Nul } format = Format::Text;
};

// One of --size's values: "+1G", "-10k", "5000"; K, M, G, T are powers of 1024. False when it
// is none.
bool ParseSizeFilter(const std::string& text, char& op, std::int64_t& bytes);

// Writes the results to `out`; returns how many. Throws CatalogError.
std::int64_t Search(Catalog& catalog, const SearchOptions& options, std::FILE* out);

} // namespace treelan::catalog
