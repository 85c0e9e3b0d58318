#pragma once

// `treelan-cli catalog search` in plain C++, run before any Qt is loaded.

namespace treelan {

// Runs the search when the arguments are `catalog search` with options it reads exactly as the
// full command line does; false, without output, for anything else (help, a mistake, a name that
// is not UTF-8 where the full command decodes it), which the full command line then answers.
bool RunPlainSearch(int argc, char** argv, int& status);

} // namespace treelan
