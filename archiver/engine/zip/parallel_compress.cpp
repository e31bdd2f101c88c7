#include "archiver/engine/zip/parallel_compress.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>

#include "archiver/engine/unzip/engine_frame.h"
#include "archiver/engine/zip/zip_run.h"

namespace zip {

namespace {

// Bytes of free memory each worker thread is allowed to count on.
constexpr uint64_t kMemoryPerThread = uint64_t{8} << 20;

// A piece of one member's compressed stream: in memory, or a range of its spill file.
// `events` tells in order what the worker did: a positive count is a read of that many bytes,
// a negative one a write of that many bytes of `data`; the writer replays them in that order,
// so that its progress reports and the moment a failing write stops the member are the same
// as when it compresses the member itself.
struct Piece {
    std::vector<uint8_t> data;
    std::vector<int32_t> events;
    uint64_t spill_at = 0;
    size_t spill_length = 0;
    bool spilled = false;
};

// One member on its way through a worker to the writer. Fields marked (worker) belong to the
// worker until `done`; the others are guarded by the compressor's mutex.
struct Job {
    Member member;    // (worker) the member, its fields final once done
    MemberPlan plan;  // random bytes set at dispatch; (worker) the rest until opened
    Member prepared;  // the header fields as the file was opened
    bool opened = false;
    bool done = false;
    int open_code = 0;
    bool out_of_memory = false;
    bool head = false;  // the writer is taking this member now
    std::deque<Piece> pieces;
    size_t in_memory = 0;
    DataResult data;
    uint64_t stream_bytes = 0;
    engine::UniqueFd spill;     // (worker) created on the first spilled piece
    uint64_t spill_size = 0;    // (worker)
    bool spill_failed = false;  // (worker)
    bool ever_spilled = false;
};

// Writes all of `bytes` at `at`; false on an error.
bool PwriteFull(int fd, std::span<const uint8_t> bytes, uint64_t at) {
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t r =
            ::pwrite(fd, bytes.data() + done, bytes.size() - done, static_cast<off_t>(at + done));
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) return false;
        done += static_cast<size_t>(r);
    }
    return true;
}

// A private file in `folder` that no other process can open and that vanishes when closed.
int OpenSpill(const std::string& folder) {
    std::string dir = folder.empty() ? "." : folder;
    int fd = ::open(dir.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd >= 0) return fd;
    std::string name = TempTemplate(folder);
    fd = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd >= 0) ::unlink(name.c_str());
    return fd;
}

}  // namespace

struct ParallelCompressor::Impl {
    MemberSettings settings;
    std::string spill_folder;
    size_t memory = 0;
    std::vector<std::unique_ptr<Job>> jobs;
    std::vector<std::thread> workers;

    std::mutex mu;
    std::condition_variable work_cv;   // workers: a member was dispatched, or stop
    std::condition_variable main_cv;   // writer: a member moved on
    std::condition_variable space_cv;  // workers: memory was freed or the head moved
    size_t dispatched = 0;             // members given to the workers
    size_t taken = 0;                  // members a worker started
    size_t next = 0;                   // the member the writer takes next
    size_t in_memory = 0;
    size_t peak = 0;
    size_t spilled_members = 0;
    bool stopping = false;
    std::atomic<bool> cancelled{false};

    void Work();
    void Run(Job& job, DeflateState& state);
    void Publish(Job& job, std::vector<uint8_t>& bytes, std::vector<int32_t>& events);
    void Dispatch(size_t up_to);
    // The writer's side: the next piece of `job`, false when the member has no more.
    bool NextPiece(Job& job, Piece& piece, std::vector<uint8_t>& spill_buffer, bool& spill_error);
};

namespace {

// The worker's end of a member's stream: gathers bytes into pieces for the writer.
struct PieceSink final : DataSink {
    ParallelCompressor::Impl* impl = nullptr;
    Job* job = nullptr;
    std::vector<uint8_t> bytes;
    std::vector<int32_t> events;
    bool Put(std::span<const uint8_t> b) override {
        // The writer's writes are at most a few blocks; a larger one is split.
        while (!b.empty()) {
            size_t n = std::min<size_t>(b.size(), kPieceSize);
            bytes.insert(bytes.end(), b.begin(), b.begin() + static_cast<long>(n));
            events.push_back(-static_cast<int32_t>(n));
            b = b.subspan(n);
            if (bytes.size() >= kPieceSize) impl->Publish(*job, bytes, events);
        }
        return true;
    }
};

}  // namespace

void ParallelCompressor::Impl::Publish(Job& job, std::vector<uint8_t>& bytes,
                                       std::vector<int32_t>& events) {
    if (bytes.empty() && events.empty()) return;
    Piece piece;
    piece.events = std::move(events);
    events.clear();
    size_t size = bytes.size();
    std::unique_lock lock(mu);
    for (;;) {
        if (stopping) {
            bytes.clear();
            return;
        }
        // The member being written may always hand over a piece once the writer took the last
        // one, so it never waits for members behind it.
        if (in_memory + size <= memory || (job.head && job.in_memory == 0)) {
            piece.data = std::move(bytes);
            bytes = {};
            bytes.reserve(kPieceSize);
            job.in_memory += size;
            in_memory += size;
            peak = std::max(peak, in_memory);
            break;
        }
        if (!job.head && !job.spill_failed) {
            lock.unlock();
            if (!job.spill) job.spill.reset(OpenSpill(spill_folder));
            bool ok = job.spill && PwriteFull(job.spill.get(), bytes, job.spill_size);
            lock.lock();
            if (ok) {
                piece.spilled = true;
                piece.spill_at = job.spill_size;
                piece.spill_length = size;
                job.spill_size += size;
                if (!job.ever_spilled) ++spilled_members;
                job.ever_spilled = true;
                bytes.clear();
                break;
            }
            // No room on disk either: wait for the writer to reach this member.
            job.spill_failed = true;
            continue;
        }
        space_cv.wait(lock);
    }
    job.pieces.push_back(std::move(piece));
    main_cv.notify_all();
}

void ParallelCompressor::Impl::Run(Job& job, DeflateState& state) {
    int r = OpenMember(job.member, settings, job.plan);
    {
        std::lock_guard lock(mu);
        job.prepared = job.member;
        job.open_code = r;
        job.opened = true;
        job.done = r != 0;
    }
    main_cv.notify_all();
    if (r != 0) return;
    PieceSink sink;
    sink.impl = this;
    sink.job = &job;
    sink.bytes.reserve(kPieceSize);
    if (job.plan.encrypt) {
        // The encryption header is a piece of its own: the writer reports its failure apart.
        StartCipher(job.member, job.plan, settings.password, sink);
        Publish(job, sink.bytes, sink.events);
    }
    // Input that compresses to little still reaches the writer often enough for its progress
    // reports and stop checks.
    uint64_t read_since = 0;
    std::function<void(uint64_t)> progress = [&](uint64_t n) {
        sink.events.push_back(static_cast<int32_t>(n));
        read_since += n;
        if (read_since >= kPieceSize) {
            read_since = 0;
            Publish(job, sink.bytes, sink.events);
        }
    };
    std::function<bool()> cancel = [this] { return cancelled.load(std::memory_order_relaxed); };
    DataResult data = WriteData(job.member, job.plan, settings, sink, state, progress, cancel);
    Publish(job, sink.bytes, sink.events);
    std::lock_guard lock(mu);
    job.data = std::move(data);
    job.stream_bytes = sink.count + CipherOverhead(job.plan);
    job.done = true;
    main_cv.notify_all();
}

void ParallelCompressor::Impl::Work() {
    std::unique_ptr<DeflateState> state;
    for (;;) {
        Job* job = nullptr;
        {
            std::unique_lock lock(mu);
            work_cv.wait(lock, [&] { return stopping || taken < dispatched; });
            if (stopping) return;
            job = jobs[taken++].get();
        }
        try {
            if (!state) state = make_deflate_state();
            Run(*job, *state);
        } catch (...) {
            // Only memory can run out here; the writer reports it when it reaches the member.
            std::lock_guard lock(mu);
            job->out_of_memory = true;
            job->opened = true;
            job->done = true;
            main_cv.notify_all();
        }
    }
}

void ParallelCompressor::Impl::Dispatch(size_t up_to) {
    up_to = std::min(up_to, jobs.size());
    if (up_to <= dispatched) return;
    // The random bytes are drawn here, on the writer's thread and in the archive's order.
    if (settings.password_given)
        for (size_t i = dispatched; i < up_to; ++i) jobs[i]->plan.random = DrawHeaderRandom();
    {
        std::lock_guard lock(mu);
        dispatched = up_to;
    }
    work_cv.notify_all();
}

bool ParallelCompressor::Impl::NextPiece(Job& job, Piece& piece, std::vector<uint8_t>& spill_buffer,
                                         bool& spill_error) {
    {
        std::unique_lock lock(mu);
        main_cv.wait(lock, [&] { return !job.pieces.empty() || job.done; });
        if (job.pieces.empty()) return false;
        piece = std::move(job.pieces.front());
        job.pieces.pop_front();
        job.in_memory -= piece.data.size();
        in_memory -= piece.data.size();
    }
    space_cv.notify_all();
    if (piece.spilled) {
        spill_buffer.resize(piece.spill_length);
        ssize_t n = engine::PreadFull(job.spill.get(), spill_buffer.data(), piece.spill_length,
                                      piece.spill_at);
        if (n != static_cast<ssize_t>(piece.spill_length)) spill_error = true;
        piece.data.swap(spill_buffer);
    }
    return true;
}

unsigned CompressThreads(int setting, size_t members) {
    unsigned n = setting > 0 ? static_cast<unsigned>(setting) : std::thread::hardware_concurrency();
    n = std::clamp(n, 1u, kMaxThreads);
    long pages = ::sysconf(_SC_AVPHYS_PAGES);
    long page = ::sysconf(_SC_PAGESIZE);
    if (pages > 0 && page > 0) {
        uint64_t avail = static_cast<uint64_t>(pages) * static_cast<uint64_t>(page);
        n = static_cast<unsigned>(
            std::min<uint64_t>(n, std::max<uint64_t>(1, avail / kMemoryPerThread)));
    }
    return static_cast<unsigned>(std::min<size_t>(n, std::max<size_t>(members, 1)));
}

ParallelCompressor::ParallelCompressor(MemberSettings settings, std::vector<Member> members,
                                       unsigned threads, std::string spill_folder, size_t memory)
    : impl_(std::make_unique<Impl>()) {
    Impl& d = *impl_;
    d.settings = std::move(settings);
    d.spill_folder = std::move(spill_folder);
    d.memory = memory;
    d.jobs.reserve(members.size());
    for (Member& m : members) {
        d.jobs.push_back(std::make_unique<Job>());
        d.jobs.back()->member = std::move(m);
    }
    d.Dispatch(kMembersAhead);
    for (unsigned i = 0; i < threads; ++i) {
        try {
            d.workers.emplace_back([&d] { d.Work(); });
        } catch (const std::system_error&) {
            // Fewer threads than asked for still work; none at all leaves it to the caller.
            if (!d.workers.empty()) break;
            throw;
        }
    }
}

ParallelCompressor::~ParallelCompressor() {
    Impl& d = *impl_;
    d.cancelled = true;
    {
        std::lock_guard lock(d.mu);
        d.stopping = true;
    }
    d.work_cv.notify_all();
    d.space_cv.notify_all();
    for (std::thread& t : d.workers) t.join();
    std::fill(d.settings.password.begin(), d.settings.password.end(), '\0');
}

size_t ParallelCompressor::PeakMemory() const {
    std::lock_guard lock(impl_->mu);
    return impl_->peak;
}

size_t ParallelCompressor::SpilledMembers() const {
    std::lock_guard lock(impl_->mu);
    return impl_->spilled_members;
}

int ParallelCompressor::WriteNext(Member& m, OutArchive& out, std::string& detail) {
    Impl& d = *impl_;
    if (d.next >= d.jobs.size()) return kResultInternal;
    Job& job = *d.jobs[d.next];
    d.Dispatch(d.next + 1 + kMembersAhead);
    Member work;
    bool final_header = false;
    {
        std::unique_lock lock(d.mu);
        job.head = true;
        d.space_cv.notify_all();
        d.main_cv.wait(lock, [&] { return job.opened; });
        if (job.out_of_memory) throw std::bad_alloc();
        if (job.prepared.file_path != m.file_path) return kResultInternal;
        if (job.open_code != 0) {
            ++d.next;
            return job.open_code;
        }
        // A member compressed already gets its final header at once, which spares going back
        // to rewrite it.
        final_header = job.done && job.data.code == 0;
        work = final_header ? job.member : job.prepared;
    }
    ++d.next;
    const MemberPlan& plan = job.plan;
    if (final_header) {
        ApplyData(work, plan.encrypt, job.data.crc, job.data.count, job.stream_bytes);
    }
    if (int r = WriteHeader(work, out)) return r;
    bool stored = job.prepared.method == kMethodStored;
    Piece piece;
    std::vector<uint8_t> spill_buffer;
    bool spill_error = false;
    bool more = true;
    if (plan.encrypt) {
        more = d.NextPiece(job, piece, spill_buffer, spill_error);
        if (more && !out.Write(piece.data)) return kResultWrite;
    }
    if (out.failed) return kResultWrite;
    while (more && (more = d.NextPiece(job, piece, spill_buffer, spill_error))) {
        if (spill_error) return kResultTempFile;
        size_t at = 0;
        for (int32_t e : piece.events) {
            if (e > 0) {
                engine::AddProgress(static_cast<uint64_t>(e));
                continue;
            }
            size_t n = static_cast<size_t>(-static_cast<int64_t>(e));
            if (at + n > piece.data.size()) return kResultInternal;
            // The member ends where writing it on this thread would have ended it.
            if (!out.Write(std::span(piece.data.data() + at, n)))
                return stored ? kResultTempFile : kResultWrite;
            at += n;
            if (stored && out.pos >= out.max_size) return kResultTooBig;
        }
        if (spill_buffer.capacity() < piece.data.capacity()) spill_buffer.swap(piece.data);
    }
    {
        std::lock_guard lock(d.mu);
        if (job.out_of_memory) throw std::bad_alloc();
    }
    const DataResult& data = job.data;
    if (data.code != 0) {
        if (!data.status.empty()) engine::SendStatus(data.status);
        detail = data.detail;
        return data.code;
    }
    Member done = job.member;
    done.local_offset = work.local_offset;
    job.member = Member{};
    int r = FinishMember(done, out, plan, data, job.stream_bytes, !final_header);
    job.spill.reset();
    m = std::move(done);
    return r;
}

}  // namespace zip
