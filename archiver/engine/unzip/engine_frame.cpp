#include "archiver/engine/unzip/engine_frame.h"

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdarg>
#include <cstdio>

namespace engine {

namespace {

EngineFrame& FrameStorage() {
    static EngineFrame frame;
    return frame;
}

// Virtual-key codes the pump treats specially.
constexpr WPARAM kVkTab = 0x09, kVkShift = 0x10, kVkControl = 0x11, kVkMenu = 0x12,
                 kVkCapital = 0x14, kVkEscape = 0x1B, kVkLWin = 0x5B, kVkRWin = 0x5C;

bool IsPress(UINT m) {
    return m == platform::WM_KEYDOWN || m == platform::WM_SYSKEYDOWN ||
           m == platform::WM_LBUTTONDOWN || m == platform::WM_LBUTTONDBLCLK;
}

}  // namespace

// Written by signal handlers, read by the stop check: the one kind of object a handler may
// store into.
namespace {
// Lock-free, so a signal handler may store it; decoding threads read it too.
std::atomic<int> g_stop_signal{0};
static_assert(std::atomic<int>::is_always_lock_free);
}  // namespace

EngineFrame& Frame() {
    return FrameStorage();
}
void ResetFrame() {
    FrameStorage() = EngineFrame{};
}

const char* ZipResultText(int code) {
    switch (code) {
        case 2:
            return "Unexpected end of zip file";
        case 3:
            return "Zip file structure invalid";
        case 4:
            return "Out of memory";
        case 5:
            return "Internal logic error";
        case 10:
            return "Temporary file failure - possible cause: disk full";
        case 11:
            return "Input file read failure";
        case 12:
            return "Nothing to do!";
        case 13:
            return "Missing or empty zip file";
        case 14:
            return "Output file write failure - possible cause: disk full";
        case 15:
            return "Could not create output file";
        case 16:
            return "Invalid ZIP request";
        case 18:
            return "File not found or no read permission";
        case 19:
            return "The new archive is larger than 2GB - which is currently the maximum size of "
                   "a zip file";
        default:
            return "";
    }
}

int ZipResultClass(int code) {
    switch (code) {
        case 4:
            return kClassMemory;
        case 5:
            return kClassMethod;
        case 12:
            return kClassNothingToDo;
        case 13:
        case 19:
            return kClassPassword;
        case 16:
            return kClassInvalidRequest;
        default:
            return kClassIo;
    }
}

BusyGuard::BusyGuard() : acquired(!Frame().busy) {
    if (acquired) Frame().busy = true;
}
BusyGuard::~BusyGuard() {
    if (acquired) Frame().busy = false;
}

void EndRun(int result) {
    throw EarlyEnd{result};
}

std::string Format(const char* fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    va_list ap2;
    va_copy(ap2, ap);
    int n = std::vsnprintf(nullptr, 0, fmt, ap);
    va_end(ap);
    std::string s(n > 0 ? static_cast<size_t>(n) : 0, '\0');
    if (n > 0) std::vsnprintf(s.data(), s.size() + 1, fmt, ap2);
    va_end(ap2);
    return s;
}

namespace {

thread_local MessageLog* t_log = nullptr;
thread_local bool t_replaying = false;  // progress played back was counted when recorded
std::atomic<uint64_t> g_processed{0};
thread_local void (*t_before_question)(void*) = nullptr;
thread_local void* t_before_question_context = nullptr;

LRESULT SendText(UINT msg, WPARAM wparam, std::string_view text) {
    if (t_log) {
        t_log->Send(msg, wparam, text);
        return 0;
    }
    std::string copy(text);  // NUL-terminated for the receiver
    return platform::SendMessage(Frame().report_window, msg, wparam,
                                 reinterpret_cast<LPARAM>(copy.c_str()));
}
}  // namespace

void SendStatus(std::string_view text, WPARAM where) {
    SendText(kMsgStatusText, where, text);
}
void SendStatusLine(std::string_view text) {
    SendText(kMsgStatusLine, 0, text);
}
void SendWarning(std::string_view text) {
    SendText(kMsgWarning, 0, text);
}
void SendError(int error_class, std::string_view text) {
    SendText(kMsgError, static_cast<WPARAM>(error_class), text);
}

void Fail(int error_class, std::string_view text, int result) {
    SendError(error_class, text);
    EndRun(result);
}

platform::WPARAM ProgressUnits(uint64_t bytes) {
    return static_cast<platform::WPARAM>(std::min<uint64_t>(bytes / kProgressUnit, UINT32_MAX));
}

void ResetProgress() {
    Frame().progress_total = 0;
    Frame().progress_reported = 0;
    Frame().progress_expected = 0;
    g_processed = 0;
}

uint64_t ProgressProcessed() {
    return g_processed.load(std::memory_order_relaxed);
}

void ProgressNow() {
    if (t_log) return t_log->ProgressNow();
    EngineFrame& f = Frame();
    f.progress_reported = f.progress_total;
    platform::SendMessage(f.report_window, kMsgProgress, ProgressUnits(f.progress_total), 0);
    CheckStop();
}

void AddProgress(uint64_t bytes) {
    if (!t_replaying) g_processed.fetch_add(bytes, std::memory_order_relaxed);
    if (t_log) return t_log->Add(bytes);
    EngineFrame& f = Frame();
    f.progress_total += bytes;
    if (f.progress_total - f.progress_reported >= kProgressUnit) ProgressNow();
}

void MessageLog::Push(Entry e, std::string* text) {
    std::unique_lock<std::mutex> held;
    if (lock_) held = std::unique_lock<std::mutex>(*lock_);
    FlushPending(held);
    entries_.push_back(e);
    if (text) texts_.push_back(std::move(*text));
    if (changed_) changed_->notify_all();
}

// Records the merged additions; a writer far ahead of the reader waits here, which bounds
// what a log holds.
void MessageLog::FlushPending(std::unique_lock<std::mutex>& held) {
    if (pending_ == 0) return;
    if (changed_ && held.owns_lock())
        changed_->wait(held, [&] { return released_ || entries_.size() < kBacklog; });
    entries_.push_back({Kind::kAdd, 0, pending_});
    pending_ = 0;
}

void MessageLog::Send(UINT msg, WPARAM wparam, std::string_view text) {
    std::string copy(text);
    Push({Kind::kSend, msg, static_cast<uint64_t>(wparam)}, &copy);
}

void MessageLog::ProgressNow() {
    Push({Kind::kProgressNow, 0, 0}, nullptr);
    counting_ = true;
    since_report_ = 0;
}

// Right after a recorded ProgressNow the count since the last report is known, so additions
// below the report step are merged until they reach it: played back, the merged addition
// reports exactly where the single ones would have.
void MessageLog::Add(uint64_t bytes) {
    if (!counting_) {
        Push({Kind::kAdd, 0, bytes}, nullptr);
        return;
    }
    pending_ += bytes;
    since_report_ += bytes;
    if (since_report_ < kProgressUnit) return;
    since_report_ = 0;
    std::unique_lock<std::mutex> held;
    if (lock_) held = std::unique_lock<std::mutex>(*lock_);
    FlushPending(held);
    if (changed_) changed_->notify_all();
}

void MessageLog::End(int result) {
    Push({Kind::kEnd, 0, static_cast<uint64_t>(static_cast<int64_t>(result))}, nullptr);
}

void MessageLog::Close() {
    std::unique_lock<std::mutex> held;
    if (lock_) held = std::unique_lock<std::mutex>(*lock_);
    FlushPending(held);
    closed_ = true;
    if (changed_) changed_->notify_all();
}

void MessageLog::TakeLocked(std::deque<Entry>& entries, std::deque<std::string>& texts) {
    for (Entry& e : entries_) entries.push_back(e);
    for (std::string& t : texts_) texts.push_back(std::move(t));
    entries_.clear();
    texts_.clear();
    if (changed_) changed_->notify_all();
}

void SetMessageLog(MessageLog* log) {
    t_log = log;
}
MessageLog* CurrentMessageLog() {
    return t_log;
}

int Replay(std::deque<MessageLog::Entry>& entries, std::deque<std::string>& texts) {
    MessageLog* saved = t_log;
    t_log = nullptr;
    t_replaying = true;
    struct Restore {
        MessageLog* log;
        ~Restore() {
            t_log = log;
            t_replaying = false;
        }
    } restore{saved};
    while (!entries.empty()) {
        MessageLog::Entry e = entries.front();
        entries.pop_front();
        switch (e.kind) {
            case MessageLog::Kind::kSend: {
                std::string text = std::move(texts.front());
                texts.pop_front();
                SendText(e.msg, static_cast<WPARAM>(e.value), text);
                break;
            }
            case MessageLog::Kind::kProgressNow:
                ProgressNow();
                break;
            case MessageLog::Kind::kAdd:
                AddProgress(e.value);
                break;
            case MessageLog::Kind::kEnd:
                return static_cast<int>(static_cast<int64_t>(e.value));
        }
    }
    return -1;
}

void BeforeQuestion() {
    if (t_log && t_before_question) t_before_question(t_before_question_context);
}
void SetBeforeQuestion(void (*hook)(void*), void* context) {
    t_before_question = hook;
    t_before_question_context = context;
}

void RequestStopBySignal(int signal_number) noexcept {
    g_stop_signal = signal_number;
}
int StopSignal() noexcept {
    return g_stop_signal;
}
void ClearStopSignal() noexcept {
    g_stop_signal = 0;
}

void CheckStop() {
    EngineFrame& f = Frame();
    if (f.stop_requested || g_stop_signal != 0) EndRun(kUnzipStopped);
    HWND main = f.main_window ? f.main_window : f.report_window;
    platform::MSG msg;
    while (platform::PeekMessage(msg, true)) {
        if (msg.message == platform::WM_QUIT) {
            // Leave the quit for the main loop and stop working off messages.
            platform::PostQuitMessage(static_cast<int>(msg.wParam));
            break;
        }
        bool key = msg.message == platform::WM_KEYDOWN || msg.message == platform::WM_SYSKEYDOWN;
        if (key) {
            WPARAM vk = msg.wParam;
            if (vk == kVkControl || vk == kVkShift || vk == kVkCapital || vk == kVkLWin ||
                vk == kVkRWin)
                continue;
            if (msg.message == platform::WM_SYSKEYDOWN &&
                (vk == kVkEscape || vk == kVkTab || vk == kVkMenu)) {
                platform::DispatchMessage(msg);
                continue;
            }
        }
        if (IsPress(msg.message) && msg.hwnd == main) {
            if (platform::SendMessage(f.report_window, kMsgStopQuestion, 0, 0) != 0)
                EndRun(kUnzipStopped);
            continue;
        }
        platform::DispatchMessage(msg);
    }
}

}  // namespace engine
