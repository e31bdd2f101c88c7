// A small single-threaded zip archiver used only as a speed peer in the benchmarks, built twice:
// once on zlib and once on libdeflate (PEER_LIBDEFLATE). It does the ordinary work of such a tool
// (read each file, CRC, local headers, central directory; on extraction create folders and files
// and set their times) so that whole-process timings compare like with like. Never linked into
// the programs.
//
//   zip_peer create -L LEVEL archive.zip PATH...   (LEVEL 0 stores; folders are walked)
//   zip_peer extract archive.zip DIR
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#ifdef PEER_LIBDEFLATE
#include <libdeflate.h>
#else
#include <zlib.h>
#endif

namespace {

// ---- codec --------------------------------------------------------------------------------

#ifdef PEER_LIBDEFLATE
struct Codec {
    libdeflate_compressor* c = nullptr;
    libdeflate_decompressor* d = nullptr;
    explicit Codec(int level) {
        if (level > 0) c = libdeflate_alloc_compressor(level);
        d = libdeflate_alloc_decompressor();
    }
    ~Codec() {
        if (c) libdeflate_free_compressor(c);
        libdeflate_free_decompressor(d);
    }
    static uint32_t Crc(const uint8_t* p, size_t n) { return libdeflate_crc32(0, p, n); }
    // Deflates in into out; returns the size, or 0 when it does not fit in out.
    size_t Deflate(const uint8_t* in, size_t n, std::vector<uint8_t>& out) {
        out.resize(libdeflate_deflate_compress_bound(c, n));
        return libdeflate_deflate_compress(c, in, n, out.data(), out.size());
    }
    bool Inflate(const uint8_t* in, size_t n, uint8_t* out, size_t size) {
        size_t got = 0;
        return libdeflate_deflate_decompress(d, in, n, out, size, &got) == LIBDEFLATE_SUCCESS &&
               got == size;
    }
};
#else
struct Codec {
    int level;
    explicit Codec(int l) : level(l) {}
    static uint32_t Crc(const uint8_t* p, size_t n) {
        uLong crc = crc32(0L, Z_NULL, 0);
        while (n > 0) {
            uInt part = static_cast<uInt>(std::min<size_t>(n, 1u << 30));
            crc = crc32(crc, p, part);
            p += part;
            n -= part;
        }
        return static_cast<uint32_t>(crc);
    }
    size_t Deflate(const uint8_t* in, size_t n, std::vector<uint8_t>& out) {
        z_stream z{};
        if (deflateInit2(&z, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK) return 0;
        out.resize(deflateBound(&z, n));
        z.next_in = const_cast<Bytef*>(in);
        z.avail_in = static_cast<uInt>(n);
        z.next_out = out.data();
        z.avail_out = static_cast<uInt>(out.size());
        int r = deflate(&z, Z_FINISH);
        size_t size = z.total_out;
        deflateEnd(&z);
        return r == Z_STREAM_END ? size : 0;
    }
    bool Inflate(const uint8_t* in, size_t n, uint8_t* out, size_t size) {
        z_stream z{};
        if (inflateInit2(&z, -15) != Z_OK) return false;
        z.next_in = const_cast<Bytef*>(in);
        z.avail_in = static_cast<uInt>(n);
        z.next_out = out;
        z.avail_out = static_cast<uInt>(size);
        int r = inflate(&z, Z_FINISH);
        bool ok = r == Z_STREAM_END && z.total_out == size;
        inflateEnd(&z);
        return ok;
    }
};
#endif

// ---- little helpers -------------------------------------------------------------------------

[[noreturn]] void Die(const std::string& what) {
    std::fprintf(stderr, "zip_peer: %s: %s\n", what.c_str(), std::strerror(errno));
    std::exit(1);
}

void Put16(std::string& o, uint32_t v) {
    o += static_cast<char>(v & 0xff);
    o += static_cast<char>((v >> 8) & 0xff);
}
void Put32(std::string& o, uint32_t v) {
    Put16(o, v & 0xffff);
    Put16(o, v >> 16);
}
uint32_t Get16(const uint8_t* p) {
    return p[0] | (p[1] << 8);
}
uint32_t Get32(const uint8_t* p) {
    return Get16(p) | (Get16(p + 2) << 16);
}

bool ReadAll(int fd, uint8_t* p, size_t n, off_t at) {
    while (n > 0) {
        ssize_t r = ::pread(fd, p, n, at);
        if (r <= 0) return false;
        p += r;
        n -= static_cast<size_t>(r);
        at += r;
    }
    return true;
}

bool WriteAll(int fd, const void* data, size_t n) {
    auto p = static_cast<const uint8_t*>(data);
    while (n > 0) {
        ssize_t w = ::write(fd, p, n);
        if (w <= 0) return false;
        p += w;
        n -= static_cast<size_t>(w);
    }
    return true;
}

// Output through a 1 MiB buffer, as a careful tool writes.
struct Out {
    int fd;
    std::string buf;
    uint64_t offset = 0;
    void Add(const void* p, size_t n) {
        if (buf.size() + n > (1u << 20)) Flush();
        if (n >= (1u << 20)) {
            if (!WriteAll(fd, p, n)) Die("write");
        } else {
            buf.append(static_cast<const char*>(p), n);
        }
        offset += n;
    }
    void Flush() {
        if (!WriteAll(fd, buf.data(), buf.size())) Die("write");
        buf.clear();
    }
};

void DosTime(time_t t, uint32_t& time, uint32_t& date) {
    tm lt{};
    localtime_r(&t, &lt);
    if (lt.tm_year < 80) lt = tm{0, 0, 0, 1, 0, 80, 0, 0, 0, 0, nullptr};
    time = (lt.tm_hour << 11) | (lt.tm_min << 5) | (lt.tm_sec / 2);
    date = ((lt.tm_year - 80) << 9) | ((lt.tm_mon + 1) << 5) | lt.tm_mday;
}

time_t UnixTime(uint32_t time, uint32_t date) {
    tm lt{};
    lt.tm_sec = (time & 31) * 2;
    lt.tm_min = (time >> 5) & 63;
    lt.tm_hour = time >> 11;
    lt.tm_mday = date & 31;
    lt.tm_mon = ((date >> 5) & 15) - 1;
    lt.tm_year = (date >> 9) + 80;
    lt.tm_isdst = -1;
    return mktime(&lt);
}

// ---- create ---------------------------------------------------------------------------------

void Walk(const std::string& path, std::vector<std::string>& files) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) Die(path);
    if (S_ISREG(st.st_mode)) {
        files.push_back(path);
        return;
    }
    if (!S_ISDIR(st.st_mode)) return;
    DIR* d = ::opendir(path.c_str());
    if (!d) Die(path);
    std::vector<std::string> names;
    while (dirent* e = ::readdir(d)) {
        if (std::strcmp(e->d_name, ".") && std::strcmp(e->d_name, "..")) names.push_back(e->d_name);
    }
    ::closedir(d);
    std::sort(names.begin(), names.end());
    for (const std::string& n : names) Walk(path == "." ? n : path + "/" + n, files);
}

int Create(int level, const char* archive, const std::vector<std::string>& roots) {
    std::vector<std::string> files;
    for (const std::string& r : roots) Walk(r, files);
    int fd = ::open(archive, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0) Die(archive);
    Out out{fd, {}};
    std::string central;
    Codec codec(level);
    std::vector<uint8_t> data, packed;
    for (const std::string& name : files) {
        int in = ::open(name.c_str(), O_RDONLY);
        if (in < 0) Die(name);
        struct stat st {};
        if (::fstat(in, &st) != 0) Die(name);
        // Plain zip (no zip64 records) in this small tool.
        if (static_cast<uint64_t>(st.st_size) >= 0xffffffffu) {
            std::fprintf(stderr, "zip_peer: %s: too large\n", name.c_str());
            return 1;
        }
        data.resize(static_cast<size_t>(st.st_size));
        if (!ReadAll(in, data.data(), data.size(), 0)) Die(name);
        ::close(in);
        uint32_t crc = Codec::Crc(data.data(), data.size());
        uint32_t method = 0;
        const uint8_t* body = data.data();
        size_t body_size = data.size();
        if (level > 0 && !data.empty()) {
            size_t n = codec.Deflate(data.data(), data.size(), packed);
            // Stored instead when deflate does not make it smaller.
            if (n > 0 && n < data.size()) {
                method = 8;
                body = packed.data();
                body_size = n;
            }
        }
        uint32_t t = 0, d = 0;
        DosTime(st.st_mtime, t, d);
        uint32_t offset = static_cast<uint32_t>(out.offset);
        std::string h;
        Put32(h, 0x04034b50);
        Put16(h, method ? 20 : 10);
        Put16(h, 0);
        Put16(h, method);
        Put16(h, t);
        Put16(h, d);
        Put32(h, crc);
        Put32(h, static_cast<uint32_t>(body_size));
        Put32(h, static_cast<uint32_t>(data.size()));
        Put16(h, static_cast<uint32_t>(name.size()));
        Put16(h, 0);
        h += name;
        out.Add(h.data(), h.size());
        out.Add(body, body_size);

        Put32(central, 0x02014b50);
        Put16(central, (3 << 8) | 20);
        Put16(central, method ? 20 : 10);
        Put16(central, 0);
        Put16(central, method);
        Put16(central, t);
        Put16(central, d);
        Put32(central, crc);
        Put32(central, static_cast<uint32_t>(body_size));
        Put32(central, static_cast<uint32_t>(data.size()));
        Put16(central, static_cast<uint32_t>(name.size()));
        Put16(central, 0);
        Put16(central, 0);
        Put16(central, 0);
        Put16(central, 0);
        Put32(central, (st.st_mode & 0xffff) << 16);
        Put32(central, offset);
        central += name;
    }
    uint32_t cd_offset = static_cast<uint32_t>(out.offset);
    out.Add(central.data(), central.size());
    std::string end;
    Put32(end, 0x06054b50);
    Put16(end, 0);
    Put16(end, 0);
    Put16(end, static_cast<uint32_t>(files.size()));
    Put16(end, static_cast<uint32_t>(files.size()));
    Put32(end, static_cast<uint32_t>(central.size()));
    Put32(end, cd_offset);
    Put16(end, 0);
    out.Add(end.data(), end.size());
    out.Flush();
    if (::close(fd) != 0) Die(archive);
    return 0;
}

// ---- extract --------------------------------------------------------------------------------

// A member name that stays inside the target: relative, no "..", no empty parts.
bool SafeName(std::string_view n) {
    if (n.empty() || n.front() == '/') return false;
    size_t pos = 0;
    while (pos <= n.size()) {
        size_t slash = n.find('/', pos);
        if (slash == std::string_view::npos) slash = n.size();
        std::string_view part = n.substr(pos, slash - pos);
        if (part == ".." || (part.empty() && slash != n.size())) return false;
        pos = slash + 1;
    }
    return true;
}

void MakeParents(const std::string& path, std::set<std::string>& made) {
    for (size_t slash = path.find('/', 1); slash != std::string::npos;
         slash = path.find('/', slash + 1)) {
        std::string dir = path.substr(0, slash);
        if (!made.insert(dir).second) continue;
        if (::mkdir(dir.c_str(), 0755) != 0 && errno != EEXIST) Die(dir);
    }
}

int Extract(const char* archive, const std::string& target) {
    int fd = ::open(archive, O_RDONLY);
    if (fd < 0) Die(archive);
    struct stat st {};
    if (::fstat(fd, &st) != 0) Die(archive);
    size_t size = static_cast<size_t>(st.st_size);
    // The end record sits in the last 22 + 65535 bytes.
    size_t tail_size = std::min<size_t>(size, 22 + 65535);
    std::vector<uint8_t> tail(tail_size);
    if (!ReadAll(fd, tail.data(), tail_size, static_cast<off_t>(size - tail_size))) Die(archive);
    long eocd = -1;
    for (long i = static_cast<long>(tail_size) - 22; i >= 0; --i) {
        if (Get32(&tail[i]) == 0x06054b50) {
            eocd = i;
            break;
        }
    }
    if (eocd < 0) {
        std::fprintf(stderr, "zip_peer: %s: no end record\n", archive);
        return 1;
    }
    uint32_t count = Get16(&tail[eocd + 10]);
    uint32_t cd_size = Get32(&tail[eocd + 12]);
    uint32_t cd_offset = Get32(&tail[eocd + 16]);
    if (static_cast<uint64_t>(cd_offset) + cd_size > size) {
        std::fprintf(stderr, "zip_peer: %s: bad central directory\n", archive);
        return 1;
    }
    std::vector<uint8_t> cd(cd_size);
    if (!ReadAll(fd, cd.data(), cd_size, cd_offset)) Die(archive);
    if (::mkdir(target.c_str(), 0755) != 0 && errno != EEXIST) Die(target);
    std::set<std::string> made;
    Codec codec(0);
    std::vector<uint8_t> packed, data;
    int failures = 0;
    size_t p = 0;
    for (uint32_t i = 0; i < count; ++i) {
        if (p + 46 > cd.size() || Get32(&cd[p]) != 0x02014b50) {
            std::fprintf(stderr, "zip_peer: %s: bad central directory\n", archive);
            return 1;
        }
        uint32_t flags = Get16(&cd[p + 8]), method = Get16(&cd[p + 10]);
        uint32_t t = Get16(&cd[p + 12]), d = Get16(&cd[p + 14]);
        uint32_t crc = Get32(&cd[p + 16]), csize = Get32(&cd[p + 20]), usize = Get32(&cd[p + 24]);
        uint32_t nlen = Get16(&cd[p + 28]), xlen = Get16(&cd[p + 30]), clen = Get16(&cd[p + 32]);
        uint32_t attr = Get32(&cd[p + 38]), local = Get32(&cd[p + 42]);
        if (p + 46 + nlen > cd.size()) {
            std::fprintf(stderr, "zip_peer: %s: bad central directory\n", archive);
            return 1;
        }
        std::string name(reinterpret_cast<const char*>(&cd[p + 46]), nlen);
        p += 46 + nlen + xlen + clen;
        if (!SafeName(name) || (flags & 1) || (method != 0 && method != 8)) {
            std::fprintf(stderr, "zip_peer: %s: skipped\n", name.c_str());
            ++failures;
            continue;
        }
        std::string path = target + "/" + name;
        MakeParents(path, made);
        if (name.back() == '/') {
            if (::mkdir(path.c_str(), 0755) != 0 && errno != EEXIST) Die(path);
            continue;
        }
        uint8_t lh[30];
        if (!ReadAll(fd, lh, 30, local) || Get32(lh) != 0x04034b50) {
            std::fprintf(stderr, "zip_peer: %s: bad local header\n", name.c_str());
            ++failures;
            continue;
        }
        uint64_t body = uint64_t{local} + 30 + Get16(lh + 26) + Get16(lh + 28);
        if (body + csize > size || (method == 0 && csize != usize)) {
            std::fprintf(stderr, "zip_peer: %s: bad sizes\n", name.c_str());
            ++failures;
            continue;
        }
        data.resize(usize);
        bool ok;
        if (method == 0) {
            ok = ReadAll(fd, data.data(), usize, static_cast<off_t>(body));
        } else {
            packed.resize(csize);
            ok = ReadAll(fd, packed.data(), csize, static_cast<off_t>(body)) &&
                 codec.Inflate(packed.data(), csize, data.data(), usize);
        }
        if (!ok || Codec::Crc(data.data(), usize) != crc) {
            std::fprintf(stderr, "zip_peer: %s: bad data\n", name.c_str());
            ++failures;
            continue;
        }
        mode_t mode = (attr >> 16) & 0777;
        int out = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, mode ? mode : 0644);
        if (out < 0) Die(path);
        if (!WriteAll(out, data.data(), usize)) Die(path);
        timespec times[2];
        times[0].tv_sec = times[1].tv_sec = UnixTime(t, d);
        times[0].tv_nsec = times[1].tv_nsec = 0;
        ::futimens(out, times);
        if (::close(out) != 0) Die(path);
    }
    ::close(fd);
    return failures ? 1 : 0;
}

int Usage() {
    std::fprintf(stderr,
                 "usage: zip_peer create -L LEVEL archive.zip PATH...\n"
                 "       zip_peer extract archive.zip DIR\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() >= 4 && args[0] == "create" && args[1] == "-L") {
        int level = std::atoi(args[2].c_str());
        if (level < 0 || level > 12) return Usage();
        if (args.size() < 5) return Usage();
        return Create(level, args[3].c_str(), {args.begin() + 4, args.end()});
    }
    if (args.size() == 3 && args[0] == "extract") return Extract(args[1].c_str(), args[2]);
    return Usage();
}
