// Hand-over between instances: a later start of the archive manager passes its archive or
// names to one already running instead of opening a second window, and "/inichange" tells
// every running instance to re-read its settings. Each instance listens on its own socket,
// "<pid>.sock" in a private folder under $XDG_RUNTIME_DIR; only the same user gets in.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "archiver/shell/local_socket.h"

namespace shell {

/// What one instance asks of another.
struct HandoverMessage {
    enum class Kind : char {
        kOpen = 'O',      ///< take these names as dropped files (none: just come forward)
        kSettings = 'S',  ///< the settings file changed: read it again
    };
    Kind kind = Kind::kOpen;
    /// Full paths, for kOpen.
    std::vector<std::string> names;
};

/// Most names one message carries, and the longest name.
constexpr size_t kHandoverMaxNames = 4096;
constexpr size_t kHandoverMaxName = 4096;

/// The bytes of a message on the socket.
std::string EncodeHandover(const HandoverMessage& message);

/// Reads a message from the bytes `read(n)` yields; nullopt for anything malformed or past
/// the limits. `read` fills exactly n bytes or returns false.
template <typename Read>
std::optional<HandoverMessage> DecodeHandover(Read&& read);

/// $XDG_RUNTIME_DIR/borvan32/ ("/tmp/borvan32-<uid>/" when that is unset); ends in "/".
std::string HandoverFolder();

/// The question asked when every running instance is busy or has a dialog open.
extern const char* const kHandoverBusyQuestion;

/// The result of offering a request to the running instances.
enum class HandoverResult {
    kTaken,       ///< an instance took it: this one ends
    kBusy,        ///< instances run, but none could take it now
    kNoInstance,  ///< nothing runs (stale sockets met on the way are removed)
};

/// Offers `message` to the instances listening in `folder`, oldest first; the first that
/// takes it ends the search. An instance that neither takes nor refuses within `timeout_ms`
/// counts as busy. `taker` gets the id of the taking process when known.
HandoverResult OfferHandover(const std::string& folder, const HandoverMessage& message,
                             int timeout_ms = 1500, pid_t* taker = nullptr);

/// Tells every instance listening in `folder` to re-read its settings; the number told.
int BroadcastSettingsChanged(const std::string& folder, int timeout_ms = 1500);

/// The names of the command line as they are handed over: surrounding double quotes removed
/// and each made a full path against `cwd`.
std::vector<std::string> FullPaths(const std::vector<std::string>& names, const std::string& cwd);

/// A running instance's end of the hand-over.
class HandoverListener {
public:
    /// Listens at `folder` + "<pid>.sock" (the folder is made private first). nullptr, with
    /// `error` set, when that cannot be done: the program then runs without hand-over.
    static std::unique_ptr<HandoverListener> Start(const std::string& folder, std::string* error);
    ~HandoverListener();

    /// The descriptor to poll for reading.
    int fd() const { return socket_.get(); }
    /// Where it listens.
    const std::string& path() const { return path_; }

    /// Takes one waiting request, if any: only from this user, read within a short time and
    /// within the limits. When `free` the request is accepted and returned; otherwise the
    /// sender is told this instance is busy and nullopt is returned. A settings notice is
    /// always accepted.
    std::optional<HandoverMessage> Accept(bool free);

private:
    HandoverListener(UniqueFd socket, std::string path);
    UniqueFd socket_;
    std::string path_;
};

/// Whether this instance can take a hand-over now. The window marks itself busy while an
/// engine run or a dialog is under way, so that the later start is told and asks its
/// question instead of ending with its request dropped. Free by default. (The program's
/// accept function hands the window a settings notice as the one argument "/inichange",
/// which parses to CommandRequest::inichange: the window then reads its settings again.)
void SetHandoverBusy(bool busy);
/// See SetHandoverBusy.
bool HandoverBusy();

// ---- implementation of the template ----

template <typename Read>
std::optional<HandoverMessage> DecodeHandover(Read&& read) {
    auto u32 = [&](uint32_t& v) {
        unsigned char b[4];
        if (!read(reinterpret_cast<char*>(b), 4)) return false;
        v = b[0] | b[1] << 8 | b[2] << 16 | static_cast<uint32_t>(b[3]) << 24;
        return true;
    };
    char head[9];
    if (!read(head, sizeof head) || std::string_view(head, 8) != "BORVAN1\n") return std::nullopt;
    HandoverMessage m;
    if (head[8] != 'O' && head[8] != 'S') return std::nullopt;
    m.kind = static_cast<HandoverMessage::Kind>(head[8]);
    uint32_t count = 0;
    if (!u32(count) || count > kHandoverMaxNames) return std::nullopt;
    for (uint32_t i = 0; i < count; ++i) {
        uint32_t len = 0;
        if (!u32(len) || len > kHandoverMaxName) return std::nullopt;
        std::string name(len, '\0');
        if (len > 0 && !read(name.data(), len)) return std::nullopt;
        if (name.find('\0') != std::string::npos) return std::nullopt;
        m.names.push_back(std::move(name));
    }
    return m;
}

}  // namespace shell
