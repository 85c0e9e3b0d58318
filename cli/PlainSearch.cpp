#include "cli/PlainSearch.h"

#include "catalog/Search.h"
#include "catalog/Text.h"

#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace treelan {

using namespace treelan::catalog;

namespace {

struct Arguments {
    std::string db = Catalog::DefaultPath();
    std::vector<std::string> positional;
    std::optional<std::string> size, newer, older;
    std::vector<std::string> types;
    int formats = 0;
};

// The value of option `name` at argv[i] ("--name=V" or "--name V"), advancing i past it.
std::optional<std::string> valueOf(std::string_view arg, std::string_view name, int& i, int argc,
                                   char** argv) {
    if (arg.size() > name.size() + 2 && arg.substr(2, name.size()) == name &&
        arg[name.size() + 2] == '=')
        return std::string(arg.substr(name.size() + 3));
    if (arg.substr(2) != name) return std::nullopt;
    if (i + 1 >= argc) return std::nullopt;
    return std::string(argv[++i]);
}

bool read(int argc, char** argv, SearchOptions& o, Arguments& a) {
    for (int i = 3; i < argc; ++i) {
        const std::string_view arg(argv[i]);
        if (arg.size() < 2 || arg[0] != '-') {
            a.positional.emplace_back(arg);
            continue;
        }
        if (arg == "-0") {
            o.format = SearchOptions::Format::Nul, ++a.formats;
        } else if (arg == "--json") {
            o.format = SearchOptions::Format::Json, ++a.formats;
        } else if (arg == "--tsv") {
            o.format = SearchOptions::Format::Tsv, ++a.formats;
        } else if (arg == "-q" || arg == "--quiet") {
        } else if (arg == "--all-snapshots") {
            o.allSnapshots = true;
        } else if (arg.substr(0, 2) != "--") {
            return false;
        } else {
            bool known = false;
            for (const char* name :
                 {"db", "volume", "snapshot", "size", "newer", "older", "type"}) {
                const int at = i;
                std::optional<std::string> v = valueOf(arg, name, i, argc, argv);
                if (!v) {
                    i = at;
                    continue;
                }
                known = true;
                const std::string_view n(name);
                // The full command decodes every value but the pattern and the file's name.
                if (n != "db" && !IsUtf8(*v)) return false;
                if (n == "db") a.db = *v;
                if (n == "volume") o.volume = *v;
                if (n == "snapshot") o.snapshot = *v;
                if (n == "size") a.size = *v;
                if (n == "newer") a.newer = *v;
                if (n == "older") a.older = *v;
                if (n == "type") a.types.push_back(*v);
                break;
            }
            if (!known) return false;
        }
    }
    if (a.positional.size() != 1 || a.formats > 1) return false;
    o.pattern = a.positional[0];
    if (a.size && !ParseSizeFilter(*a.size, o.sizeOp, o.size)) return false;
    if (a.newer && !ParseIsoTime(*a.newer, o.newerNs)) return false;
    if (a.older && !ParseIsoTime(*a.older, o.olderNs)) return false;
    for (const std::string& t : a.types)
        for (std::size_t from = 0; from <= t.size();) {
            std::size_t comma = t.find(',', from);
            if (comma == std::string::npos) comma = t.size();
            std::string ext = t.substr(from, comma - from);
            from = comma + 1;
            if (ext.empty()) continue;
            if (ext[0] == '.') ext.erase(0, 1);
            o.types.push_back(FoldText(ext));
        }
    return true;
}

} // namespace

bool RunPlainSearch(int argc, char** argv, int& status) {
    if (argc < 4 || std::strcmp(argv[1], "catalog") != 0 || std::strcmp(argv[2], "search") != 0)
        return false;
    SearchOptions o;
    Arguments a;
    if (!read(argc, argv, o, a)) return false;
    try {
        Catalog catalog(a.db, Catalog::Mode::Read);
        Search(catalog, o, stdout);
        if (std::fflush(stdout) != 0) {
            std::fputs("treelan-cli: standard output: cannot write\n", stderr);
            status = 2;
            return true;
        }
    } catch (const CatalogError& e) {
        std::fprintf(stderr, "treelan-cli: %s\n", e.what());
        status = 2;
        return true;
    }
    status = 0;
    return true;
}

} // namespace treelan
