#include "archiver/shell/handover.h"

#include <dirent.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <filesystem>

namespace shell {

const char* const kHandoverBusyQuestion =
    "Existing Borvan window is busy or has an active dialog box.  Do you want to start another "
    "Borvan session?";

namespace {

constexpr char kTaken = 'T';
constexpr char kBusy = 'B';
// How long a running instance waits for the rest of a request before dropping it.
constexpr int kReadTimeoutMs = 500;

std::atomic<bool> g_busy{false};

void PutU32(std::string& out, uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>(v >> (8 * i)));
}

// The instances' sockets in `folder` as (pid, path), oldest process id first.
std::vector<std::pair<pid_t, std::string>> Sockets(const std::string& folder) {
    std::vector<std::pair<pid_t, std::string>> found;
    DIR* dir = opendir(folder.c_str());
    if (!dir) return found;
    while (dirent* e = readdir(dir)) {
        std::string_view name = e->d_name;
        if (name.size() < 6 || name.size() > 16 || !name.ends_with(".sock")) continue;
        std::string_view digits = name.substr(0, name.size() - 5);
        if (!std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
            continue;
        long pid = std::strtol(std::string(digits).c_str(), nullptr, 10);
        if (pid <= 0 || pid == getpid()) continue;
        found.emplace_back(static_cast<pid_t>(pid), folder + std::string(name));
        if (found.size() >= 256) break;  // bounded, whatever the folder holds
    }
    closedir(dir);
    std::sort(found.begin(), found.end());
    return found;
}

void RemoveStale(const std::string& path) {
    struct stat st {};
    if (lstat(path.c_str(), &st) == 0 && S_ISSOCK(st.st_mode) && st.st_uid == geteuid())
        unlink(path.c_str());
}

// Sends `message` to one instance and reads its answer: kTaken; kBusy, also when it said
// nothing in time (its window is held up by a run or a dialog); 0 when it could not be
// reached or is not this user's.
char Offer(const std::string& path, const std::string& message, int timeout_ms) {
    UniqueFd fd;
    ConnectResult c = ConnectLocal(path, fd);
    if (c == ConnectResult::kStale) RemoveStale(path);
    if (c != ConnectResult::kConnected) return 0;
    uid_t uid = 0;
    if (!PeerUid(fd.get(), uid) || uid != geteuid()) return 0;
    char answer = 0;
    if (!SendAllWithin(fd.get(), message, timeout_ms) ||
        !ReceiveExactWithin(fd.get(), &answer, 1, timeout_ms))
        return kBusy;
    return answer == kTaken ? kTaken : kBusy;
}

}  // namespace

std::string EncodeHandover(const HandoverMessage& message) {
    std::string out = "BORVAN1\n";
    out.push_back(static_cast<char>(message.kind));
    size_t count = std::min(message.names.size(), kHandoverMaxNames);
    PutU32(out, static_cast<uint32_t>(count));
    for (size_t i = 0; i < count; ++i) {
        const std::string& name = message.names[i];
        size_t len = std::min(name.size(), kHandoverMaxName);
        PutU32(out, static_cast<uint32_t>(len));
        out.append(name, 0, len);
    }
    return out;
}

std::string HandoverFolder() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    std::string base = runtime && runtime[0] == '/' ? std::string(runtime)
                                                    : "/tmp/borvan32-" + std::to_string(geteuid());
    if (base.back() != '/') base.push_back('/');
    return runtime && runtime[0] == '/' ? base + "borvan32/" : base;
}

HandoverResult OfferHandover(const std::string& folder, const HandoverMessage& message,
                             int timeout_ms, pid_t* taker) {
    std::string bytes = EncodeHandover(message);
    bool busy = false;
    for (const auto& [pid, path] : Sockets(folder)) {
        char answer = Offer(path, bytes, timeout_ms);
        if (answer == kTaken) {
            if (taker) *taker = pid;
            return HandoverResult::kTaken;
        }
        if (answer == kBusy) busy = true;
    }
    return busy ? HandoverResult::kBusy : HandoverResult::kNoInstance;
}

int BroadcastSettingsChanged(const std::string& folder, int timeout_ms) {
    HandoverMessage m;
    m.kind = HandoverMessage::Kind::kSettings;
    std::string bytes = EncodeHandover(m);
    int told = 0;
    for (const auto& entry : Sockets(folder))
        if (Offer(entry.second, bytes, timeout_ms) == kTaken) ++told;
    return told;
}

std::vector<std::string> FullPaths(const std::vector<std::string>& names, const std::string& cwd) {
    std::vector<std::string> out;
    for (std::string name : names) {
        if (name.size() >= 2 && name.front() == '"' && name.back() == '"')
            name = name.substr(1, name.size() - 2);
        if (name.empty()) continue;
        std::filesystem::path p(name);
        if (p.is_relative()) p = std::filesystem::path(cwd) / p;
        out.push_back(p.lexically_normal().string());
    }
    return out;
}

std::unique_ptr<HandoverListener> HandoverListener::Start(const std::string& folder,
                                                          std::string* error) {
    if (!EnsurePrivateFolder(folder.ends_with('/') ? folder.substr(0, folder.size() - 1) : folder,
                             error))
        return nullptr;
    std::string path = folder + std::to_string(getpid()) + ".sock";
    UniqueFd fd = ListenLocal(path, error);
    if (fd.get() < 0) return nullptr;
    return std::unique_ptr<HandoverListener>(new HandoverListener(std::move(fd), path));
}

HandoverListener::HandoverListener(UniqueFd socket, std::string path)
    : socket_(std::move(socket)), path_(std::move(path)) {}

HandoverListener::~HandoverListener() {
    // Its name holds this process's id, so nobody else can have put a socket there since.
    struct stat there {};
    if (lstat(path_.c_str(), &there) == 0 && S_ISSOCK(there.st_mode) && there.st_uid == geteuid())
        unlink(path_.c_str());
}

std::optional<HandoverMessage> HandoverListener::Accept(bool free) {
    UniqueFd conn(accept4(socket_.get(), nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK));
    if (conn.get() < 0) return std::nullopt;
    uid_t uid = 0;
    if (!PeerUid(conn.get(), uid) || uid != geteuid()) return std::nullopt;
    auto read = [&](char* out, size_t n) {
        return ReceiveExactWithin(conn.get(), out, n, kReadTimeoutMs);
    };
    std::optional<HandoverMessage> m = DecodeHandover(read);
    if (!m) return std::nullopt;
    bool take = free || m->kind == HandoverMessage::Kind::kSettings;
    char answer = take ? kTaken : kBusy;
    // A sender that gave up waiting has gone: then the request is not taken either, so it is
    // never carried out twice.
    if (!SendAllWithin(conn.get(), std::string_view(&answer, 1), kReadTimeoutMs) || !take)
        return std::nullopt;
    return m;
}

void SetHandoverBusy(bool busy) {
    g_busy = busy;
}

bool HandoverBusy() {
    return g_busy;
}

}  // namespace shell
