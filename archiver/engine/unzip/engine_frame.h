// What the unzip and zip engines share: the one-run-at-a-time busy flag, the single early-exit
// path, the report messages sent to the shell's window, error classes and result codes, and
// the progress report with its stop check.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <string_view>

#include "platform/event_loop.h"

namespace engine {

using platform::HWND;
using platform::LPARAM;
using platform::LRESULT;
using platform::UINT;
using platform::WPARAM;

/// Messages from an engine to its report window. Texts travel as `const char*` (UTF-8) in
/// lParam unless noted.
constexpr UINT kMsgOverwrite = platform::WM_USER + 0x115;     ///< lParam: OverwriteQuery*
constexpr UINT kMsgStatusLine = platform::WM_USER + 0x116;    ///< "Extracting name"
constexpr UINT kMsgStopQuestion = platform::WM_USER + 0x117;  ///< non-zero reply stops
constexpr UINT kMsgProgress = platform::WM_USER + 0x118;      ///< wParam: bytes / 10,240
constexpr UINT kMsgStatusText = platform::WM_USER + 0x137;    ///< wParam: where (below)
constexpr UINT kMsgWarning = platform::WM_USER + 0x138;
constexpr UINT kMsgError = platform::WM_USER + 0x139;  ///< wParam: error class
constexpr UINT kMsgFileInUse = platform::WM_USER + 0x13B;
constexpr UINT kMsgDirLookup = platform::WM_USER + 0x13C;  ///< wParam: 0 size, 1 CRC

/// wParam of kMsgStatusText.
constexpr WPARAM kStatusOutputOnly = 0x18;
constexpr WPARAM kStatusLineOnly = 0x17;
constexpr WPARAM kStatusBoth = 0;

/// Error classes (wParam of kMsgError); each selects a help topic.
constexpr int kClassPassword = 0;
constexpr int kClassMethod = 7000;
constexpr int kClassMemory = 7001;
constexpr int kClassNothingToDo = 7002;
constexpr int kClassInvalidRequest = 7003;
constexpr int kClassIo = 7004;
constexpr int kClassExpandedSize = 7005;
constexpr int kClassReplaceFailed = 7006;

/// Result codes of UNZIP.
constexpr int kUnzipOk = 0;
constexpr int kUnzipFolderFailed = 1;
constexpr int kUnzipError = 2;
constexpr int kUnzipFileInUse = 3;
constexpr int kUnzipStopped = 99;

/// Result codes of ZIP that the readers also return.
constexpr int kZipOk = 0;
constexpr int kZipEof = 2;
constexpr int kZipFormat = 3;
constexpr int kZipMemory = 4;
constexpr int kZipRead = 11;
constexpr int kZipUnsupported = 22;

/// Text of a ZIP result code; "" for codes without one (1, 6 to 9, 17, 22 and unknown).
const char* ZipResultText(int code);
/// Error class of a ZIP result code (kClassIo for codes without one).
int ZipResultClass(int code);

/// The overwrite question's record (kMsgOverwrite); reply 1 replace, 2 replace all, 3 skip,
/// anything else ends the run.
struct OverwriteQuery {
    std::string output_path;
    uint32_t existing_dos_time = 0;
    uint64_t existing_size = 0;
    std::string stored_name;
    uint32_t member_dos_time = 0;
    uint64_t member_size = 0;
    int one = 1;
};
constexpr LRESULT kReplace = 1;
constexpr LRESULT kReplaceAll = 2;
constexpr LRESULT kSkip = 3;

/// Progress is reported each time this many more bytes have been processed.
constexpr uint64_t kProgressUnit = 10240;
/// Bytes as the progress value sent to the shell: units of kProgressUnit, up to 32 bits (a
/// 16-bit value would wrap past 640 MiB and send the meter backwards).
platform::WPARAM ProgressUnits(uint64_t bytes);

/// State shared by both engines; one run at a time.
struct EngineFrame {
    bool busy = false;            ///< set while UNZIP or ZIP runs
    bool stop_requested = false;  ///< set by the shell's Stop button: the next check stops
    HWND report_window = 0;       ///< where the current run reports
    HWND main_window = 0;         ///< key and mouse presses aimed here ask to stop (0: report)
    uint64_t progress_total = 0;
    uint64_t progress_reported = 0;
    /// Bytes the run expects to count as progress, where the engine works it out itself (the
    /// zip writer, before it writes); 0 when unknown. A front end's meter reads it exactly,
    /// without the 16-bit units of the meter messages.
    uint64_t progress_expected = 0;
};
/// The process-wide frame.
EngineFrame& Frame();
/// A fresh frame (tests).
void ResetFrame();

/// Takes the busy flag for one run and gives it back at the end of its scope; `acquired` is
/// false when another run already holds it.
struct BusyGuard {
    bool acquired;
    BusyGuard();
    ~BusyGuard();
    BusyGuard(const BusyGuard&) = delete;
    BusyGuard& operator=(const BusyGuard&) = delete;
};

/// Thrown by EndRun; caught only at the engine's entry, which cleans up once.
struct EarlyEnd {
    int result;
};
/// Ends the current run at once with a result code.
[[noreturn]] void EndRun(int result);

/// printf-style formatting into a string.
std::string Format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

/// Report messages to the current report window.
void SendStatus(std::string_view text, WPARAM where = kStatusBoth);
void SendStatusLine(std::string_view text);
void SendWarning(std::string_view text);
void SendError(int error_class, std::string_view text);
/// Sends an error and ends the run with a result code.
[[noreturn]] void Fail(int error_class, std::string_view text, int result);

/// Starts the progress count of a run.
void ResetProgress();
/// Reports progress now (a member starts) and checks for a stop.
void ProgressNow();
/// Adds processed bytes; every kProgressUnit reports progress and checks for a stop.
void AddProgress(uint64_t bytes);
/// Bytes processed so far in this run by any thread, including what helper threads decoded
/// ahead of the reports; safe to read from any thread (a meter that draws on its own).
uint64_t ProgressProcessed();
/// Asks the current run (or the next one) to stop from a signal handler: only stores the
/// signal's number, so it is safe to call there.
void RequestStopBySignal(int signal_number) noexcept;
/// The signal that asked to stop, 0 when none did.
int StopSignal() noexcept;
/// Forgets a signal's stop request (tests).
void ClearStopSignal() noexcept;

/// What a run would have reported, kept in order until it may be reported: a member decoded
/// ahead of the one on screen records its messages and progress here, and the run's own thread
/// plays them back in archive order. Progress is kept as the additions that cross a report
/// step (plus the rest), so a log costs a few bytes per 10 KiB of output.
class MessageLog {
public:
    enum class Kind : uint8_t { kSend, kProgressNow, kAdd, kEnd };
    /// One recorded step; a kSend takes the next text.
    struct Entry {
        Kind kind;
        UINT msg;
        uint64_t value;  ///< wParam, bytes or result code
    };
    /// Entries held before a writer that is not yet reported waits for the reader.
    static constexpr size_t kBacklog = 64 * 1024;

    /// The lock and signal shared with the reader; without them the log is single-threaded.
    void Share(std::mutex* lock, std::condition_variable* changed) {
        lock_ = lock;
        changed_ = changed;
    }
    void Send(UINT msg, WPARAM wparam, std::string_view text);
    void ProgressNow();
    void Add(uint64_t bytes);
    void End(int result);
    /// The writer is done: its last progress is recorded and the reader may retire the log.
    void Close();

    /// Reader side, called with the shared lock held: moves the recorded steps out.
    void TakeLocked(std::deque<Entry>& entries, std::deque<std::string>& texts);
    /// True when steps wait to be taken (lock held).
    bool HasEntriesLocked() const { return !entries_.empty(); }
    /// True once Close was called (lock held).
    bool ClosedLocked() const { return closed_; }
    /// The log is being reported now (or the run is ending): the writer need not wait (lock
    /// held).
    void ReleaseLocked() { released_ = true; }

private:
    void Push(Entry e, std::string* text);
    void FlushPending(std::unique_lock<std::mutex>& held);

    std::mutex* lock_ = nullptr;
    std::condition_variable* changed_ = nullptr;
    std::deque<Entry> entries_;
    std::deque<std::string> texts_;
    bool closed_ = false;
    bool released_ = false;
    bool counting_ = false;  // a ProgressNow was recorded: additions may be merged
    uint64_t pending_ = 0;   // merged additions not yet recorded
    uint64_t since_report_ = 0;
};

/// Records this thread's reports into log instead of sending them (nullptr: send again).
void SetMessageLog(MessageLog* log);
/// The log this thread records into, nullptr when it sends.
MessageLog* CurrentMessageLog();
/// Plays back recorded steps on the run's thread; a recorded end stops there and is returned
/// (-1: none). A stop asked for while progress is played back ends the run as usual.
int Replay(std::deque<MessageLog::Entry>& entries, std::deque<std::string>& texts);
/// Called before a question that needs the user's answer: while reports are being recorded,
/// everything recorded before must reach the window first. The driver installs what does that.
void BeforeQuestion();
/// The callback BeforeQuestion runs on this thread (nullptr: none).
void SetBeforeQuestion(void (*hook)(void* context), void* context);

/// Works off pending window messages; a key or mouse press aimed at the main window asks the
/// stop question, and yes ends the run with kUnzipStopped. A stop asked for by the shell's flag
/// or by a signal ends the run at once.
void CheckStop();

}  // namespace engine
