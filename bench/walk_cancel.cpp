// How long a cancelled walk takes to return: the walk of FOLDER (a slow mount, where workers sit in
// system calls) is cancelled after MS milliseconds, each time a little later, and the time from
// the cancel to the walk's return is printed, with the median.
//
// Usage: bench_walkcancel FOLDER [MS] [ROUNDS]
#include "platform/DirWalker.h"
#include "platform/FileError.h"

#include <QCoreApplication>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>

using namespace treelan;
using Clock = std::chrono::steady_clock;

namespace {

class Enter final : public WalkVisitor {
public:
    void folderOpened(WalkFolder& folder, std::vector<std::size_t>& children) override {
        for (std::size_t i = 0; i < folder.entries.size(); ++i)
            if (folder.entries[i].isFolder()) children.push_back(i);
    }
    bool childBegin(WalkFolder&, const DirEntry&) override { return true; }
    void childEnd(WalkFolder&, const DirEntry&, const WalkFolder*) override {}
    void folderDone(WalkFolder&) override {}
};

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench_walkcancel FOLDER [MS] [ROUNDS]\n");
        return 2;
    }
    const int after = argc > 2 ? std::atoi(argv[2]) : 500;
    const int rounds = argc > 3 ? std::atoi(argv[3]) : 5;
    std::vector<double> waits;
    for (int r = 0; r < rounds; ++r) {
        std::atomic<bool> cancelled{false};
        Clock::time_point at;
        WalkOptions options;
        options.progress = [&](const WalkProgress&) { return !cancelled.load(); };
        options.stillWanted = [&] { return !cancelled.load(); };
        std::thread canceller([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(after + 37 * r));
            at = Clock::now();
            cancelled = true;
        });
        Enter visitor;
        bool ended = false;
        try {
            WalkTree(QString::fromLocal8Bit(argv[1]), visitor, options);
            ended = true;
        } catch (const Cancelled&) {
        }
        const auto back = Clock::now();
        canceller.join();
        if (ended) {
            std::printf("round %d: the walk ended before the cancel\n", r + 1);
            continue;
        }
        waits.push_back(std::chrono::duration<double, std::milli>(back - at).count());
        std::printf("round %d: returned %.1f ms after the cancel\n", r + 1, waits.back());
    }
    if (waits.empty()) return 1;
    std::sort(waits.begin(), waits.end());
    std::printf("median %.1f ms, most %.1f ms\n", waits[waits.size() / 2], waits.back());
    return 0;
}
