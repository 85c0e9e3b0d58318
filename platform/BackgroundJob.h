#pragma once

#include "platform/ThreadPriority.h"

#include <QMetaObject>
#include <QObject>

#include <atomic>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

namespace treelan {

// One piece of work on a thread of its own, at a lower priority than the interface's (and the
// threads it starts with it): the thread, the stop flag the work looks at, and the
// hand-over of its result to the thread that owns the job, which the work wakes when it ends. The
// owner's destructor ends the job: it asks the work to stop and joins the thread.
//
// What a thread checker sees: the work's result is written before `m_ended` is stored with
// release order, and the owner touches it only after loading `m_ended` with acquire order (or
// after the join), so the hand-over is ordered. The wake-up asks for a slot of the receiver by
// name: the event is made and freed inside Qt alone, so nothing of ours crosses the event queue,
// whose lock a thread checker cannot see. Whatever else the work shares with its owner while it
// runs (counts, rows found so far) goes under a lock of the owner's.
template <typename Result> class BackgroundJob {
public:
    using Work = std::function<Result(const std::atomic<bool>& stop)>;

    // Starts `work` at once. Once it has returned, `slot` of `receiver` (when given) is invoked,
    // queued, on the receiver's thread; the receiver outlives the job.
    explicit BackgroundJob(Work work, QObject* receiver = nullptr, const char* slot = nullptr)
        : m_thread([this, work = std::move(work), receiver, slot] {
              // Work in the background yields to the thread that owns the window.
              LowerThreadPriority();
              m_result = work(m_stop);
              m_ended.store(true, std::memory_order_release);
              if (receiver) QMetaObject::invokeMethod(receiver, slot, Qt::QueuedConnection);
          }) {}
    ~BackgroundJob() {
        stop();
        if (m_thread.joinable()) m_thread.join();
    }

    void stop() { m_stop = true; }
    bool stopRequested() const { return m_stop; }
    // The work has returned: its result is the owner's to take.
    bool ended() const { return m_ended.load(std::memory_order_acquire); }
    // Joins the thread (once ended() it has only to return) and hands the result over; once.
    Result take() {
        m_thread.join();
        return std::move(m_result);
    }

private:
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_ended{false};
    Result m_result{};
    std::thread m_thread; // last: it starts once the rest is in place
};

// Frees what it is given on threads of its own: freeing a million rows holds up the thread that
// does it for tens of milliseconds. Ended threads are joined at the next dispose() or reap(),
// the rest by the destructor.
class Disposer {
public:
    template <typename Store> void dispose(Store store) {
        reap();
        auto held = std::make_shared<Store>(std::move(store));
        m_jobs.push_back(std::make_unique<BackgroundJob<bool>>(
            [held = std::move(held)](const std::atomic<bool>&) mutable {
                held.reset();
                return true;
            }));
    }
    void reap() {
        std::erase_if(m_jobs, [](const auto& job) { return job->ended(); });
    }

private:
    std::vector<std::unique_ptr<BackgroundJob<bool>>> m_jobs;
};

} // namespace treelan
