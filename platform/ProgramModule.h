#pragma once

// treelan-cli is a small program that answers a catalogue search itself and loads the rest of the
// command line (Qt and all it brings) from a module only when another command needs it: loading
// those libraries costs more than the search.

#include <string>

namespace treelan {

// The folder of the running program ("/usr/bin"), or "" when the system does not say.
std::string ProgramFolder();

// Loads the module `path` and runs its entry `entry` (int (int argc, char** argv)). False, with
// `error` saying why, when it cannot be loaded; otherwise `status` is what the entry returned.
bool RunProgramModule(const std::string& path, const char* entry, int argc, char** argv,
                      int& status, std::string& error);

} // namespace treelan
