// What the harnesses share: the fuzzer's bytes as a file on disk for the readers that take a
// path or a descriptor, and an engine report window that swallows every message.
#pragma once

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>

namespace fuzz {

/// A private folder for this process's input files (on tmpfs when there is one), made once
/// and removed at exit.
inline const std::string& ScratchFolder() {
    static const std::string folder = [] {
        std::string base = std::filesystem::is_directory("/dev/shm") ? "/dev/shm" : "/tmp";
        std::string tmpl = base + "/fuzz_XXXXXX";
        if (!::mkdtemp(tmpl.data())) std::abort();
        static std::string to_remove = tmpl;
        std::atexit([] {
            std::error_code ec;
            std::filesystem::remove_all(to_remove, ec);
        });
        return tmpl;
    }();
    return folder;
}

/// Writes `data` to `name` in the scratch folder (replacing what was there); the full path.
inline std::string WriteInput(std::string_view name, std::span<const uint8_t> data) {
    std::string path = ScratchFolder() + "/" + std::string(name);
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) std::abort();
    size_t done = 0;
    while (done < data.size()) {
        ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n <= 0) std::abort();
        done += static_cast<size_t>(n);
    }
    ::close(fd);
    return path;
}

/// The input as text.
inline std::string_view AsText(const uint8_t* data, size_t size) {
    return {reinterpret_cast<const char*>(data), size};
}

/// Takes leading bytes off the input as parameters for a decoder (sizes, flags); what remains
/// is the stream itself. Missing bytes read as 0.
class Params {
public:
    Params(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    uint8_t Byte() {
        if (at_ >= size_) return 0;
        return data_[at_++];
    }
    uint32_t U16() { return Byte() | (uint32_t{Byte()} << 8); }
    uint32_t U24() { return U16() | (uint32_t{Byte()} << 16); }
    std::span<const uint8_t> Rest() const {
        return {data_ + std::min(at_, size_), size_ - std::min(at_, size_)};
    }

private:
    const uint8_t* data_;
    size_t size_;
    size_t at_ = 0;
};

}  // namespace fuzz
