// Reading private-profile files. Parsed files are cached by content: a read still reads the
// file (so changes made by others are always seen) but skips parsing when the bytes are the
// ones parsed last time, which keeps a start-up that reads hundreds of keys cheap.
#include "platform/profile_cache.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <mutex>
#include <utility>
#include <vector>

namespace platform::profile_detail {

namespace {

// Settings and script files are small; anything larger is not one of ours and is refused
// rather than read without bound.
constexpr size_t kMaxProfileBytes = size_t{64} << 20;
constexpr size_t kCachedFiles = 4;

struct ProfileState {
    std::mutex mutex;
    std::vector<std::pair<std::string, std::shared_ptr<const LoadedFile>>> cache;  // newest last
};

ProfileState& GetProfileState() {
    static ProfileState state;
    return state;
}

enum class ReadStatus { kOk, kMissing, kFailed };

// Reads a whole regular file, at most kMaxProfileBytes; errno is set on failure.
ReadStatus ReadWholeFile(const std::string& path, std::string& out) {
    // O_NONBLOCK so that a FIFO put in the file's place cannot hang the open.
    Fd file(open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (file.fd < 0) return errno == ENOENT ? ReadStatus::kMissing : ReadStatus::kFailed;
    struct stat st {};
    if (fstat(file.fd, &st) != 0) return ReadStatus::kFailed;
    if (!S_ISREG(st.st_mode)) {
        errno = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
        return ReadStatus::kFailed;
    }
    if (static_cast<uint64_t>(st.st_size) > kMaxProfileBytes) {
        errno = EFBIG;
        return ReadStatus::kFailed;
    }
    out.clear();
    out.reserve(static_cast<size_t>(st.st_size));
    char buf[65536];
    for (;;) {
        const ssize_t n = read(file.fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return ReadStatus::kFailed;
        if (n == 0) break;
        if (out.size() + static_cast<size_t>(n) > kMaxProfileBytes) {  // grew while read
            errno = EFBIG;
            return ReadStatus::kFailed;
        }
        out.append(buf, static_cast<size_t>(n));
    }
    return ReadStatus::kOk;
}

}  // namespace

// The parsed file; a missing file is an empty document. Null (errno set) when the file
// exists but cannot be read: a write must then fail rather than replace what it never saw.
std::shared_ptr<const LoadedFile> Load(const std::string& path) {
    std::string bytes;
    const ReadStatus status = ReadWholeFile(path, bytes);
    if (status == ReadStatus::kFailed) return nullptr;
    const bool exists = status == ReadStatus::kOk;
    ProfileState& state = GetProfileState();
    {
        std::lock_guard<std::mutex> lock(state.mutex);
        for (const auto& [cached_path, file] : state.cache) {
            if (cached_path == path && file->exists == exists && file->bytes == bytes) {
                return file;
            }
        }
    }
    auto file = std::make_shared<LoadedFile>();
    file->exists = exists;
    file->doc = Parse(bytes);
    file->bytes = std::move(bytes);
    std::lock_guard<std::mutex> lock(state.mutex);
    std::erase_if(state.cache, [&](const auto& entry) { return entry.first == path; });
    if (state.cache.size() >= kCachedFiles) state.cache.erase(state.cache.begin());
    state.cache.emplace_back(path, file);
    return file;
}

}  // namespace platform::profile_detail
