// Members decoded on a small pool of worker threads while the run's own thread walks the
// archive: each step of the walk records what it reports, and the run's thread plays the steps
// back in archive order, so the window sees what a run on one thread would show.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "archiver/engine/unzip/engine_frame.h"
#include "archiver/engine/unzip/inflate.h"
#include "archiver/engine/unzip/member_steps.h"

namespace engine {

/// Threads a run uses when the setting asks for none in particular: one per core.
unsigned DefaultUnzipThreads();
/// The most worker threads a run starts (each holds about 0.4 MiB of decoder buffers).
constexpr unsigned kMaxUnzipThreads = 16;

/// Ends a member's work on a worker when the run is being abandoned (no-op elsewhere).
void ThrowIfAbandoned();

/// The ordered pool of one run.
class MemberPipeline {
public:
    /// Decodes one member on a worker, with that worker's own decoder buffers.
    using Work = std::function<void(InflateWorkspace&)>;

    /// One step of the walk: a member, or what the walk reads between members.
    struct Slot {
        MessageLog log;
        OutputFile out;                    ///< the member's output while it is decoded
        bool opened = false;               ///< out was created by this run
        std::vector<std::string> folders;  ///< folders made for this member
        Work work;
        uint64_t bytes = 0;        ///< compressed bytes handed over with the work
        bool reached = false;      ///< its reports began: a run on one thread got this far
        bool played_out = false;   ///< every step was reported, up to its own end if any
        bool handed_over = false;  ///< decoded by a worker
        ~Slot();
    };

    /// A pool of `threads` threads: the run's own, which also decodes small members, and
    /// `threads` - 1 workers (at least one, started at the first member handed over); `steps`
    /// lists the folders each step makes.
    MemberPipeline(unsigned threads, MemberSteps& steps);
    /// Abandons what is still in flight: workers stop, outputs and folders of steps never
    /// reported are taken away.
    ~MemberPipeline();
    MemberPipeline(const MemberPipeline&) = delete;
    MemberPipeline& operator=(const MemberPipeline&) = delete;

    /// Opens the next step; this thread records into it until EndStep, or reports directly when
    /// no earlier step waits to be reported.
    Slot& Begin();
    /// The step being walked.
    Slot& Current() { return *slots_.back(); }
    /// True when the workers have enough to do: a member decoded here now keeps this thread
    /// busy instead of waiting for them, and keeps them from running dry later.
    bool WorkersBusy() const;
    /// Hands the current step's decoding, `bytes` of compressed data, to the workers.
    void Submit(Work work, uint64_t bytes);
    /// Decodes the current step here and now, with this thread's decoder buffers; what it
    /// reports is recorded and played back in order like a worker's. Errors are thrown.
    void RunHere(const Work& work);
    /// Ends the walk's part of the current step, reports what is ready and waits while too
    /// many steps are in flight.
    void EndStep();
    /// Ends the walk with the current step, which ended the run with `result`, then reports
    /// everything before it: throws EarlyEnd with whichever step ended the run first.
    [[noreturn]] void EndWalkWith(int result);
    /// Reports every step before the current one, waiting for them, then what the current one
    /// recorded so far: afterwards this thread may talk to the window directly.
    void Drain();
    /// Reports all steps; throws EarlyEnd where one ended the run.
    void Finish();
    /// True once the run was ended while reporting (the walk must not record any more).
    bool ended() const { return ended_; }

private:
    static void DrainHook(void* self);
    void Worker();
    // Reports the front step; false when it is not finished and `wait` is false.
    bool RetireFront(bool wait);
    [[noreturn]] void EndRunAt(int result);
    void Abandon();
    // Notes the current step's output so that it is taken away if never reported.
    void NoteOutput(Slot& s);

    unsigned threads_;
    MemberSteps& steps_;
    size_t max_in_flight_;  // steps handed to workers and not yet reported
    size_t handed_over_ = 0;
    std::atomic<uint64_t> backlog_{0};  // compressed bytes handed over and not yet decoded
    InflateWorkspacePtr here_;          // the run thread's decoder buffers
    std::deque<std::unique_ptr<Slot>> slots_;
    std::mutex lock_;
    std::condition_variable changed_;  // logs grew, closed or were released
    std::condition_variable work_ready_;
    std::deque<Slot*> queue_;
    std::vector<std::thread> workers_;
    std::atomic<bool> abandon_{false};
    bool ended_ = false;
};

}  // namespace engine
