#include "archiver/sfx/sfx_writer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <vector>

#include "archiver/engine/unzip/file_io.h"
#include "archiver/engine/unzip/zip64_records.h"
#include "archiver/sfx/appended_archive.h"
#include "archiver/sfx/directory_shift.h"

namespace sfx {

namespace {

constexpr uint16_t kFlagStrongEncryption = 0x0040;
constexpr uint16_t kMethodAes = 99;

SfxResult Refused(std::string message) {
    SfxResult r;
    r.message = std::move(message);
    return r;
}

bool EndsWithZip(const std::string& name) {
    if (name.size() < 5) return false;
    std::string ext = name.substr(name.size() - 4);
    for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return ext == ".zip" && name[name.size() - 5] != '/';
}

// The first member the self-extractor could not decode, described; empty when there is none.
std::string UndecodableMember(const AppendedArchive& a) {
    for (const Member& m : a.members) {
        std::string name;
        for (char c : m.name) name += static_cast<unsigned char>(c) < 0x20 ? '?' : c;
        if (m.header.method == kMethodAes)
            return name + " is encrypted with AES, which the self-extractor cannot decrypt";
        if (m.header.flags & kFlagStrongEncryption)
            return name + " uses strong encryption, which the self-extractor cannot decrypt";
        if (m.header.method != engine::kMethodStored && m.header.method != engine::kMethodDeflated)
            return name + " is compressed with " + MethodDescription(m.header.method) +
                   ", which the self-extractor cannot decode (only stored and deflated members)";
    }
    return {};
}

// Copies `size` bytes from `in` at `at` to `out`.
bool CopyRange(int in, uint64_t at, uint64_t size, int out) {
    std::vector<uint8_t> buf(1 << 20);
    while (size > 0) {
        size_t n = static_cast<size_t>(std::min<uint64_t>(size, buf.size()));
        if (engine::PreadFull(in, buf.data(), n, at) != static_cast<ssize_t>(n) ||
            !engine::WriteFull(out, buf.data(), n))
            return false;
        at += n;
        size -= n;
    }
    return true;
}

// The end of the archive from its central directory on, with every offset moved by `delta`.
bool ShiftedTail(int fd, const AppendedArchive& a, uint64_t file_size, uint64_t delta,
                 std::vector<uint8_t>& tail, std::string& why) {
    tail.resize(static_cast<size_t>(file_size - a.data_end));
    if (engine::PreadFull(fd, tail.data(), tail.size(), a.data_end) !=
        static_cast<ssize_t>(tail.size())) {
        why = std::strerror(errno ? errno : EIO);
        return false;
    }
    std::span<uint8_t> all(tail);
    auto at = [&](uint64_t pos) { return static_cast<size_t>(pos - a.data_end); };
    if (!ShiftCentralDirectory(all.first(static_cast<size_t>(a.directory_size)), a.members.size(),
                               delta, why))
        return false;
    // The 64-bit records and the end record all lie after the directory.
    if (a.end64_at && *a.end64_at >= a.data_end + a.directory_size)
        ShiftEnd64Record(all.subspan(at(*a.end64_at)), delta);
    if (a.locator_at && *a.locator_at >= a.data_end + a.directory_size)
        ShiftLocator64(all.subspan(at(*a.locator_at)), delta);
    if (!ShiftEndRecord(all.subspan(at(a.end_at)), delta)) {
        why = "its directory offset would no longer fit the end record's 32-bit field";
        return false;
    }
    return true;
}

}  // namespace

std::string MethodDescription(uint16_t method) {
    const char* name = nullptr;
    switch (method) {
        case 1:
            name = "shrinking";
            break;
        case 2:
        case 3:
        case 4:
        case 5:
            name = "reducing";
            break;
        case 6:
            name = "imploding";
            break;
        case 9:
            name = "Deflate64";
            break;
        case 12:
            name = "bzip2";
            break;
        case 14:
            name = "LZMA";
            break;
        case 93:
            name = "zstd";
            break;
        case kMethodAes:
            name = "AES encryption";
            break;
    }
    std::string number = "method " + std::to_string(method);
    return name ? std::string(name) + " (" + number + ")" : number;
}

std::string DefaultSfxName(const std::string& archive) {
    if (EndsWithZip(archive)) return archive.substr(0, archive.size() - 4);
    return archive + ".run";
}

SfxResult MakeSelfExtractor(const SfxRequest& req) {
    engine::UniqueFd in(::open(req.archive.c_str(), O_RDONLY | O_CLOEXEC));
    if (!in) return Refused("Cannot open " + req.archive + ": " + std::strerror(errno));
    struct stat in_st;
    if (::fstat(in.get(), &in_st) != 0 || !S_ISREG(in_st.st_mode))
        return Refused(req.archive + " is not a zip archive");
    AppendedArchive a;
    std::string why;
    if (!ReadAppendedArchive(in.get(), a, why))
        return Refused(req.archive +
                       " is not a zip archive that can be made self-extracting: " + why);
    std::string bad = UndecodableMember(a);
    if (!bad.empty()) return Refused("Cannot make a self-extracting archive: " + bad);

    struct stat out_st;
    if (::stat(req.output.c_str(), &out_st) == 0) {
        if (out_st.st_dev == in_st.st_dev && out_st.st_ino == in_st.st_ino)
            return Refused(req.output + " is the archive itself; name another output");
        if (S_ISDIR(out_st.st_mode)) return Refused(req.output + " is a folder");
        if (!req.replace) return Refused(req.output + " already exists");
    }
    uint64_t delta = req.stub.size() + static_cast<uint64_t>(a.preamble);
    std::vector<uint8_t> tail;
    if (!ShiftedTail(in.get(), a, static_cast<uint64_t>(in_st.st_size), delta, tail, why))
        return Refused("Cannot make a self-extracting archive of " + req.archive + ": " + why);

    size_t slash = req.output.rfind('/');
    std::string folder = slash == std::string::npos ? "." : req.output.substr(0, slash + 1);
    std::string temp = (slash == std::string::npos ? std::string() : folder) + ".sfx-XXXXXX";
    engine::UniqueFd out(::mkstemp(temp.data()));
    if (!out) return Refused("Cannot write in " + folder + ": " + std::strerror(errno));
    mode_t mask = ::umask(0);
    ::umask(mask);
    bool ok = engine::WriteFull(out.get(), req.stub.data(), req.stub.size()) &&
              CopyRange(in.get(), 0, a.data_end, out.get()) &&
              engine::WriteFull(out.get(), tail.data(), tail.size()) &&
              ::fchmod(out.get(), 0755 & ~mask) == 0;
    int error = errno;
    if (ok && !out.reset()) {
        ok = false;
        error = errno;
    }
    if (ok && ::rename(temp.c_str(), req.output.c_str()) != 0) {
        ok = false;
        error = errno;
    }
    if (!ok) {
        out.reset();
        ::unlink(temp.c_str());
        return Refused("Cannot write " + req.output + ": " + std::strerror(error ? error : EIO));
    }
    SfxResult r;
    r.ok = true;
    r.message = "Made the self-extracting archive " + req.output;
    return r;
}

}  // namespace sfx
