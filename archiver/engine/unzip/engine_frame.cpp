#include "archiver/engine/unzip/engine_frame.h"

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
volatile std::sig_atomic_t g_stop_signal = 0;
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
LRESULT SendText(UINT msg, WPARAM wparam, std::string_view text) {
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

void ResetProgress() {
    Frame().progress_total = 0;
    Frame().progress_reported = 0;
}

void ProgressNow() {
    EngineFrame& f = Frame();
    f.progress_reported = f.progress_total;
    platform::SendMessage(f.report_window, kMsgProgress,
                          static_cast<uint16_t>(f.progress_total / kProgressUnit), 0);
    CheckStop();
}

void AddProgress(uint64_t bytes) {
    EngineFrame& f = Frame();
    f.progress_total += bytes;
    if (f.progress_total - f.progress_reported >= kProgressUnit) ProgressNow();
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
