#include "chat/dde/dde_channel.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/event_loop.h"

namespace chat {
namespace {

// Line ends would split a field into a second transaction; they travel as blanks.
std::string Flat(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        if (c == '\n' || c == '\r' || c == '\0') c = ' ';
    return out;
}

// Tabs separate fields; inside a topic or item they would shift the rest.
std::string Field(std::string_view text) {
    std::string out = Flat(text);
    for (char& c : out)
        if (c == '\t') c = ' ';
    return out;
}

bool WriteAll(int fd, std::string_view data, uint64_t deadline) {
    while (!data.empty()) {
        ssize_t n = ::send(fd, data.data(), data.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            data.remove_prefix(static_cast<size_t>(n));
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) return false;
        uint64_t now = platform::MonotonicMs();
        if (now >= deadline) return false;
        pollfd p{fd, POLLOUT, 0};
        ::poll(&p, 1, static_cast<int>(deadline - now));
    }
    return true;
}

std::optional<std::string> ReadLine(int fd, uint64_t deadline) {
    std::string got;
    char buf[4096];
    for (;;) {
        size_t lf = got.find('\n');
        if (lf != std::string::npos) return got.substr(0, lf);
        if (got.size() > kDdeAnswerLimit) return std::nullopt;
        uint64_t now = platform::MonotonicMs();
        if (now >= deadline) return std::nullopt;
        pollfd p{fd, POLLIN, 0};
        int r = ::poll(&p, 1, static_cast<int>(deadline - now));
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) return std::nullopt;
        ssize_t n = ::recv(fd, buf, sizeof buf, MSG_DONTWAIT);
        if (n < 0 && (errno == EAGAIN || errno == EINTR)) continue;
        if (n <= 0) return std::nullopt;
        got.append(buf, static_cast<size_t>(n));
    }
}

}  // namespace

std::string DdeFolder() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime && *runtime == '/') {
        std::string folder = runtime;
        if (folder.back() != '/') folder += '/';
        return folder + "vesk32/";
    }
    return "/tmp/vesk32-" + std::to_string(::getuid()) + "/";
}

bool PrepareDdeFolder(const std::string& folder) {
    std::string path = folder;
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) return false;
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) return false;
    // A folder someone else made (or a link to one) could hand our sockets to them.
    if (!S_ISDIR(st.st_mode) || st.st_uid != ::getuid()) return false;
    if ((st.st_mode & 077) != 0 && ::chmod(path.c_str(), 0700) != 0) return false;
    return true;
}

bool ValidServiceName(std::string_view service) {
    if (service.empty() || service.size() > kDdeServiceLimit) return false;
    if (service == "." || service == "..") return false;
    for (char c : service)
        if (c == '/' || c == '\0' || static_cast<unsigned char>(c) < ' ') return false;
    return true;
}

std::string DdeSocketPath(std::string_view service) {
    if (!ValidServiceName(service)) return {};
    std::string path = DdeFolder() + std::string(service) + ".sock";
    if (path.size() >= sizeof(sockaddr_un{}.sun_path)) return {};
    return path;
}

std::optional<DdeTransaction> ParseDdeTransaction(std::string_view line) {
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    auto next = [&line](std::string& out) {
        size_t tab = line.find('\t');
        if (tab == std::string_view::npos) return false;
        line.remove_prefix(tab + 1);
        size_t end = line.find('\t');
        out = std::string(line.substr(0, end));
        return true;
    };
    DdeTransaction t;
    std::string verb(line.substr(0, line.find('\t')));
    if (verb == "POKE") {
        t.poke = true;
    } else if (verb != "REQUEST") {
        return std::nullopt;
    }
    if (!next(t.topic) || !next(t.item)) return std::nullopt;
    if (t.poke) {
        // The data is the rest of the line, tabs and all.
        size_t tab = line.find('\t');
        if (tab == std::string_view::npos) return std::nullopt;
        t.data = std::string(line.substr(tab + 1));
    }
    return t;
}

std::string FormatDdeTransaction(const DdeTransaction& t) {
    std::string line = t.poke ? "POKE\t" : "REQUEST\t";
    line += Field(t.topic) + "\t" + Field(t.item);
    if (t.poke) line += "\t" + Flat(t.data);
    return line + "\n";
}

std::optional<std::string> DdeTransact(std::string_view service, const DdeTransaction& t,
                                       int timeout_ms, bool wait) {
    std::string path = DdeSocketPath(service);
    if (path.empty()) return std::nullopt;
    platform::UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (fd.get() < 0) return std::nullopt;
    sockaddr_un to{};
    to.sun_family = AF_UNIX;
    std::memcpy(to.sun_path, path.data(), path.size());
    // A local socket either takes the connection at once or is not there.
    if (::connect(fd.get(), reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) return std::nullopt;
    uint64_t deadline = platform::MonotonicMs() + static_cast<uint64_t>(std::max(timeout_ms, 1));
    if (!WriteAll(fd.get(), FormatDdeTransaction(t), deadline)) return std::nullopt;
    if (t.poke && !wait) return std::string();
    auto answer = ReadLine(fd.get(), deadline);
    if (!answer) return std::nullopt;
    if (!answer->empty() && answer->back() == '\r') answer->pop_back();
    if (t.poke) {
        if (*answer == "ACK") return std::string();
        return std::nullopt;
    }
    if (answer->rfind("DATA\t", 0) == 0) return answer->substr(5);
    return std::nullopt;
}

}  // namespace chat
