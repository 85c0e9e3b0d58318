// treelan-cli: a catalogue search is answered here, in plain C++; every other command runs in the
// module that holds the full command line (treelan-cli-main.so beside this program, else the
// installed one), so that a search does not pay for loading Qt.
#include "TreelanConfig.h"
#include "cli/PlainSearch.h"
#include "platform/ProgramModule.h"

#include <cstdio>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    int status = 2;
    if (treelan::RunPlainSearch(argc, argv, status)) return status;
    // Beside the program (the build folder), where the package puts it relative to the program
    // (a package unpacked elsewhere), where it was installed.
    const std::string module = "treelan-cli-main.so";
    const std::string folder = treelan::ProgramFolder();
    std::vector<std::string> places;
    if (!folder.empty()) {
        places.push_back(folder + '/' + module);
        places.push_back(folder + "/" TREELAN_MODULE_FROM_PROGRAM "/" + module);
    }
    places.push_back(TREELAN_LIBEXEC_DIR "/" + module);
    std::string first; // why the first place failed: the build's or the package's module
    for (const std::string& path : places) {
        std::string error;
        if (treelan::RunProgramModule(path, "treelan_cli_main", argc, argv, status, error))
            return status;
        if (first.empty()) first = error;
    }
    std::fprintf(stderr, "treelan-cli: cannot load its command line: %s\n", first.c_str());
    return 2;
}
