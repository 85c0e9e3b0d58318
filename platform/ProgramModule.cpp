#include "platform/ProgramModule.h"

#include <dlfcn.h>
#include <unistd.h>

#include <climits>

namespace treelan {

std::string ProgramFolder() {
    char path[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path);
    if (n <= 0 || std::size_t(n) >= sizeof path) return {};
    std::string folder(path, std::size_t(n));
    const std::size_t slash = folder.rfind('/');
    return slash == std::string::npos ? std::string() : folder.substr(0, slash == 0 ? 1 : slash);
}

bool RunProgramModule(const std::string& path, const char* entry, int argc, char** argv,
                      int& status, std::string& error) {
    // Its symbols stay its own: the module carries copies of code this program holds too.
    void* module = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!module) {
        const char* why = ::dlerror();
        error = why ? why : path + ": cannot be loaded";
        return false;
    }
    using Entry = int (*)(int, char**);
    const auto run = reinterpret_cast<Entry>(::dlsym(module, entry));
    if (!run) {
        error = path + ": has no " + entry;
        return false;
    }
    status = run(argc, argv);
    return true;
}

} // namespace treelan
