#include "archiver/shell/headless_progress.h"

#include <pthread.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>

namespace shell {

namespace {

// Redraws at most this often: often enough to look alive, rarely enough to cost nothing.
constexpr double kRedrawSeconds = 0.25;
// The rate means little before this much time has passed.
constexpr double kRateAfter = 0.5;

double SteadySeconds() {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

std::string Bytes(double n) {
    static const char* const kUnits[] = {"B", "KiB", "MiB", "GiB", "TiB"};
    size_t unit = 0;
    while (n >= 1024 && unit + 1 < std::size(kUnits)) {
        n /= 1024;
        ++unit;
    }
    char buf[32];
    if (unit == 0)
        std::snprintf(buf, sizeof buf, "%.0f %s", n, kUnits[unit]);
    else
        std::snprintf(buf, sizeof buf, n < 100 ? "%.1f %s" : "%.0f %s", n, kUnits[unit]);
    return buf;
}

std::string Duration(double seconds) {
    auto s = static_cast<unsigned long long>(std::llround(seconds));
    char buf[32];
    if (s >= 3600)
        std::snprintf(buf, sizeof buf, "%llu:%02llu:%02llu", s / 3600, s / 60 % 60, s % 60);
    else
        std::snprintf(buf, sizeof buf, "%llu:%02llu", s / 60, s % 60);
    return buf;
}

}  // namespace

bool ProgressWanted(ProgressMode mode, uint64_t total, bool stderr_is_terminal) {
    if (mode != ProgressMode::kAuto) return mode == ProgressMode::kOn;
    return stderr_is_terminal && total >= kProgressWorthShowing;
}

std::string ProgressLine(uint64_t done, uint64_t total, double seconds) {
    std::string line;
    bool known = total > 0;
    if (known) {
        // Work can outgrow its estimate (line ends converted, say): never past 100.
        uint64_t percent = std::min<uint64_t>(done, total) * 100 / total;
        char buf[8];
        std::snprintf(buf, sizeof buf, "%3u%%", static_cast<unsigned>(percent));
        line = std::string(buf) + "  " + Bytes(static_cast<double>(done)) + " of " +
               Bytes(static_cast<double>(total));
    } else {
        line = Bytes(static_cast<double>(done));
    }
    if (seconds < kRateAfter || done == 0) {
        line += "  --/s";
        if (known) line += "  --:-- left";
        return line;
    }
    double rate = static_cast<double>(done) / seconds;
    line += "  " + Bytes(rate) + "/s";
    if (known) {
        double left = static_cast<double>(total - std::min(done, total)) / rate;
        line += "  " + Duration(left) + " left";
    }
    return line;
}

ProgressMeter::ProgressMeter(int fd, bool forced, unsigned width, Source source, Clock clock)
    : fd_(fd),
      forced_(forced),
      width_(width),
      source_(std::move(source)),
      clock_(clock ? std::move(clock) : Clock(SteadySeconds)) {
    started_ = clock_();
}

ProgressMeter::~ProgressMeter() {
    StopThread();
    std::lock_guard<std::mutex> held(lock_);
    ClearLocked();
}

void ProgressMeter::Start(uint64_t total, bool enabled) {
    std::lock_guard<std::mutex> held(lock_);
    total_ = total;
    enabled_ = enabled;
    started_ = clock_();
    if (enabled_ && forced_) DrawLocked(started_);
}

void ProgressMeter::RunInBackground() {
    if (ticker_.joinable()) return;
    {
        std::lock_guard<std::mutex> held(lock_);
        if (!enabled_) return;
    }
    // Stop signals are for the run's thread, where they end the run.
    sigset_t stops, saved;
    sigemptyset(&stops);
    for (int s : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&stops, s);
    pthread_sigmask(SIG_BLOCK, &stops, &saved);
    ticker_ = std::thread([this] {
        std::unique_lock<std::mutex> held(lock_);
        while (!stopping_) {
            wake_.wait_for(held, std::chrono::duration<double>(kRedrawSeconds));
            if (stopping_) break;
            held.unlock();
            Tick();
            held.lock();
        }
    });
    pthread_sigmask(SIG_SETMASK, &saved, nullptr);
}

void ProgressMeter::StopThread() {
    {
        std::lock_guard<std::mutex> held(lock_);
        stopping_ = true;
    }
    wake_.notify_all();
    if (ticker_.joinable()) ticker_.join();
}

void ProgressMeter::Tick() {
    std::lock_guard<std::mutex> held(lock_);
    if (!enabled_) return;
    double now = clock_();
    // A run that is over quickly shows nothing; a forced meter drew at the start.
    double since = last_draw_ < 0 ? started_ : last_draw_;
    // A little slack: a timer that wakes a hair early must not skip a whole period.
    if (now - since < kRedrawSeconds * 0.9) return;
    DrawLocked(now);
}

void ProgressMeter::Finish(bool complete) {
    StopThread();
    std::lock_guard<std::mutex> held(lock_);
    // A complete run did all its work, whatever the estimate left out (a gzip header, say).
    if (enabled_ && complete && last_draw_ >= 0) DrawLocked(clock_(), total_);
    ClearLocked();
    enabled_ = false;
}

void ProgressMeter::Print(const std::function<void()>& print) {
    std::lock_guard<std::mutex> held(lock_);
    ClearLocked();
    print();
}

bool ProgressMeter::shown() const {
    std::lock_guard<std::mutex> held(lock_);
    return shown_length_ > 0;
}

void ProgressMeter::ClearLocked() {
    if (shown_length_ == 0) return;
    Put("\r" + std::string(shown_length_, ' ') + "\r");
    shown_length_ = 0;
}

void ProgressMeter::DrawLocked(double now, uint64_t at_least) {
    last_draw_ = now;
    uint64_t done = std::max<uint64_t>(source_ ? source_() : 0, at_least);
    std::string line = ProgressLine(done, total_, now - started_);
    // A line wider than the terminal would wrap, and "\r" could no longer take it back.
    if (width_ > 1 && line.size() >= width_) line.resize(width_ - 1);
    std::string out = "\r" + line;
    if (line.size() < shown_length_) out += std::string(shown_length_ - line.size(), ' ');
    shown_length_ = std::max(shown_length_, line.size());
    // What waits in the streams' buffers belongs before the meter.
    std::fflush(stdout);
    std::fflush(stderr);
    Put(out);
}

void ProgressMeter::Put(const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::write(fd_, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;  // a stop signal: the line still gets out
        if (n <= 0) return;
        done += static_cast<size_t>(n);
    }
}

}  // namespace shell
