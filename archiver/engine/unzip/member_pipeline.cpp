#include "archiver/engine/unzip/member_pipeline.h"

#include <unistd.h>

#include <algorithm>
#include <new>

namespace engine {

namespace {

thread_local const std::atomic<bool>* t_abandon = nullptr;

// Thrown on a worker when the run is being abandoned; never leaves the worker.
struct Abandoned {};

// Steps held before the walk waits for the oldest to be reported.
constexpr size_t kMaxSteps = 256;
// Compressed bytes queued per worker beyond which the run's own thread decodes members itself:
// enough that a worker never runs dry while the walk creates files, little enough that the
// walk seldom waits for the workers at the end.
constexpr uint64_t kBacklogPerWorker = 512 * 1024;

}  // namespace

unsigned DefaultUnzipThreads() {
    unsigned n = std::thread::hardware_concurrency();
    return std::clamp(n, 1u, kMaxUnzipThreads);
}

void ThrowIfAbandoned() {
    if (t_abandon && t_abandon->load(std::memory_order_relaxed)) throw Abandoned{};
}

// A step that was never reported must leave nothing behind: the run on one thread would have
// ended before it. A reported step keeps what a single-threaded run keeps. A complete file that
// took an existing one's place stays: the old content is gone, and removing the new would
// lose both (every step before it was reported before it began).
MemberPipeline::Slot::~Slot() {
    if (opened && !(played_out && out.keep) && !out.replaced) {
        out.fd.reset();
        ::unlink(out.path.c_str());
        out.keep = true;  // already gone
    }
    if (!reached)
        for (auto it = folders.rbegin(); it != folders.rend(); ++it) ::rmdir(it->c_str());
}

MemberPipeline::MemberPipeline(unsigned threads, MemberSteps& steps)
    : threads_(std::clamp(threads, 2u, kMaxUnzipThreads + 1) - 1), steps_(steps) {
    // Each step handed over may hold an open output file: a few per worker keep every worker
    // busy without coming near the descriptor limit.
    max_in_flight_ = std::min<size_t>(8 * threads_ + 8, 64);
}

MemberPipeline::~MemberPipeline() {
    Abandon();
}

void MemberPipeline::Abandon() {
    SetMessageLog(nullptr);
    SetBeforeQuestion(nullptr, nullptr);
    steps_.TrackFolders(nullptr);
    {
        std::lock_guard<std::mutex> held(lock_);
        abandon_ = true;
        for (auto& s : slots_) s->log.ReleaseLocked();
    }
    changed_.notify_all();
    work_ready_.notify_all();
    for (std::thread& t : workers_) t.join();
    workers_.clear();
    // Later steps go first, so that a folder made for one is empty when it is taken away.
    while (!slots_.empty()) slots_.pop_back();
    handed_over_ = 0;
    backlog_ = 0;
}

MemberPipeline::Slot& MemberPipeline::Begin() {
    bool alone = slots_.empty();
    slots_.push_back(std::make_unique<Slot>());
    Slot& s = *slots_.back();
    s.log.Share(&lock_, &changed_);
    steps_.TrackFolders(&s.folders);
    if (alone) {
        // Nothing before this step waits to be reported: the walk reports it as it goes, as
        // one thread does (what a worker later decodes for it is still recorded).
        s.reached = true;
        SetMessageLog(nullptr);
        SetBeforeQuestion(nullptr, nullptr);
    } else {
        SetMessageLog(&s.log);
        SetBeforeQuestion(&MemberPipeline::DrainHook, this);
    }
    return s;
}

void MemberPipeline::NoteOutput(Slot& s) {
    s.opened = static_cast<bool>(s.out.fd);
}

void MemberPipeline::RunHere(const Work& work) {
    Slot& s = Current();
    NoteOutput(s);
    {
        // The reader is this very thread: the log must never wait for it.
        std::lock_guard<std::mutex> held(lock_);
        s.log.ReleaseLocked();
    }
    if (!here_) here_ = MakeInflateWorkspace();
    work(*here_);
}

bool MemberPipeline::WorkersBusy() const {
    return handed_over_ >= max_in_flight_ ||
           backlog_.load(std::memory_order_relaxed) >= kBacklogPerWorker * threads_;
}

void MemberPipeline::Submit(Work work, uint64_t bytes) {
    Slot& s = Current();
    s.work = std::move(work);
    s.bytes = bytes;
    backlog_.fetch_add(bytes, std::memory_order_relaxed);
    s.handed_over = true;
    ++handed_over_;
    NoteOutput(s);
    if (workers_.empty()) {
        workers_.reserve(threads_);
        for (unsigned i = 0; i < threads_; ++i) workers_.emplace_back([this] { Worker(); });
    }
    {
        std::lock_guard<std::mutex> held(lock_);
        queue_.push_back(&s);
    }
    work_ready_.notify_one();
}

void MemberPipeline::EndStep() {
    Slot& s = Current();
    SetMessageLog(nullptr);
    SetBeforeQuestion(nullptr, nullptr);
    steps_.TrackFolders(nullptr);
    if (!s.work) s.log.Close();
    // Steps decoded here hold no open file: only a long queue of them makes the walk wait.
    while (!slots_.empty() &&
           RetireFront(handed_over_ > max_in_flight_ || slots_.size() > kMaxSteps)) {
    }
}

void MemberPipeline::EndWalkWith(int result) {
    Slot& s = Current();
    SetMessageLog(nullptr);
    SetBeforeQuestion(nullptr, nullptr);
    steps_.TrackFolders(nullptr);
    s.log.End(result);
    s.log.Close();
    Finish();
    // The step's own end is among the steps: Finish cannot return.
    EndRun(result);
}

void MemberPipeline::Finish() {
    while (!slots_.empty()) RetireFront(true);
}

void MemberPipeline::DrainHook(void* self) {
    static_cast<MemberPipeline*>(self)->Drain();
}

void MemberPipeline::Drain() {
    MessageLog* recording = CurrentMessageLog();
    while (slots_.size() > 1) RetireFront(true);
    std::deque<MessageLog::Entry> entries;
    std::deque<std::string> texts;
    {
        std::lock_guard<std::mutex> held(lock_);
        Current().log.TakeLocked(entries, texts);
    }
    Current().reached = true;
    int end = Replay(entries, texts);
    SetMessageLog(recording);
    if (end >= 0) EndRunAt(end);
}

bool MemberPipeline::RetireFront(bool wait) {
    Slot& s = *slots_.front();
    s.reached = true;
    for (;;) {
        std::deque<MessageLog::Entry> entries;
        std::deque<std::string> texts;
        bool closed;
        {
            std::unique_lock<std::mutex> held(lock_);
            s.log.ReleaseLocked();
            if (wait)
                changed_.wait(held,
                              [&] { return s.log.HasEntriesLocked() || s.log.ClosedLocked(); });
            closed = s.log.ClosedLocked();
            s.log.TakeLocked(entries, texts);
        }
        int end;
        try {
            end = Replay(entries, texts);
        } catch (const EarlyEnd& e) {
            // Stopped in the middle of the step: as on one thread, its output goes.
            ended_ = true;
            Abandon();
            throw;
        }
        if (end >= 0) {
            s.played_out = true;
            EndRunAt(end);
        }
        if (closed) break;
        if (!wait) return false;
    }
    s.played_out = true;
    if (s.handed_over) --handed_over_;
    slots_.pop_front();
    return true;
}

void MemberPipeline::EndRunAt(int result) {
    ended_ = true;
    Abandon();
    EndRun(result);
}

void MemberPipeline::Worker() {
    t_abandon = &abandon_;
    InflateWorkspacePtr workspace;
    for (;;) {
        Slot* s;
        {
            std::unique_lock<std::mutex> held(lock_);
            work_ready_.wait(held, [&] { return abandon_ || !queue_.empty(); });
            if (abandon_) return;
            s = queue_.front();
            queue_.pop_front();
        }
        SetMessageLog(&s->log);
        try {
            if (!workspace) workspace = MakeInflateWorkspace();
            s->work(*workspace);
        } catch (const EarlyEnd& e) {
            s->log.End(e.result);
        } catch (const Abandoned&) {
        } catch (const std::bad_alloc&) {
            try {
                SendError(kClassMemory, "Insufficient memory");
                s->log.End(kUnzipError);
            } catch (...) {
            }
        } catch (...) {
            try {
                s->log.End(kUnzipError);
            } catch (...) {
            }
        }
        SetMessageLog(nullptr);
        backlog_.fetch_sub(s->bytes, std::memory_order_relaxed);
        try {
            s->log.Close();
        } catch (...) {
        }
    }
}

}  // namespace engine
