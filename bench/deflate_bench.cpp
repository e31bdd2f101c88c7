// Compresses a mixed corpus (source, text, binaries, already-compressed files) member by member
// with our Deflate and with zlib's raw deflate at levels 1, 3, 5 and 9, and prints sizes, speeds
// and the ratios ours/zlib (and ours/libdeflate where it is installed). Every stream of ours is
// inflated by zlib (and libdeflate) and compared.
//
//   deflate_bench [corpus-megabytes (50) | folder] [repeats (1)] [levels (1359)]
//   [side (both): ours | zlib, to time one side alone, e.g. under perf stat]
// A folder (bench/make_corpus.py --dir) is taken whole instead, so that the figures match the
// whole-process comparison's corpus.
#include <zlib.h>
#ifdef HAVE_LIBDEFLATE
#include <libdeflate.h>
#endif

#include <time.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "archiver/engine/zip/deflate.h"

namespace fs = std::filesystem;

namespace {

struct Category {
    const char* name;
    std::vector<const char*> roots;
    bool (*wanted)(const fs::path&);
    double share;  // of the corpus
};

bool is_compressed_name(const fs::path& p) {
    static const char* exts[] = {".gz",  ".xz",   ".bz2", ".zst",  ".zip",   ".png",
                                 ".jpg", ".jpeg", ".gif", ".woff", ".woff2", ".jar"};
    std::string e = p.extension().string();
    return std::any_of(std::begin(exts), std::end(exts), [&](const char* x) { return e == x; });
}
bool is_source(const fs::path& p) {
    std::string e = p.extension().string();
    return e == ".h" || e == ".hpp" || e == ".c" || e == ".cc" || e == ".py" || e == ".pm";
}
bool is_text(const fs::path& p) {
    return !is_compressed_name(p) && !is_source(p);
}
bool is_binary(const fs::path& p) {
    std::string s = p.filename().string();
    return s.find(".so") != std::string::npos || p.extension() == ".a";
}

std::vector<uint8_t> read_file(const fs::path& p) {
    std::ifstream f(p, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(f), {});
}

/// Files of one category in a fixed order until `budget` bytes are taken.
void collect(const Category& c, uint64_t budget, std::vector<std::vector<uint8_t>>& out,
             uint64_t& taken) {
    std::vector<fs::path> paths;
    for (const char* root : c.roots) {
        std::error_code ec;
        for (fs::recursive_directory_iterator
                 it(root, fs::directory_options::skip_permission_denied, ec),
             end;
             it != end; it.increment(ec)) {
            if (ec) break;
            if (it->is_symlink() || !it->is_regular_file()) continue;
            uint64_t size = it->file_size(ec);
            if (ec || size == 0 || size > 4 * 1024 * 1024) continue;
            if (c.wanted(it->path())) paths.push_back(it->path());
        }
    }
    std::sort(paths.begin(), paths.end());
    // Spread the picks over the whole list rather than taking one folder.
    uint64_t got = 0;
    for (size_t stride = 7, start = 0; start < stride && got < budget; ++start) {
        for (size_t i = start; i < paths.size() && got < budget; i += stride) {
            std::vector<uint8_t> data = read_file(paths[i]);
            if (data.empty()) continue;
            got += data.size();
            out.push_back(std::move(data));
        }
    }
    taken += got;
    std::printf("  %-11s %6.1f MB in %zu files\n", c.name, got / 1e6, out.size());
}

struct BufferOutput final : zip::DeflateOutput {
    std::vector<uint8_t> buf;
    size_t used = 0;
    bool Write(std::span<const uint8_t> b) override {
        if (used + b.size() > buf.size()) buf.resize((used + b.size()) * 2);
        std::memcpy(buf.data() + used, b.data(), b.size());
        used += b.size();
        return true;
    }
    bool CanSeek() override { return false; }
};

struct SpanInput final : zip::DeflateInput {
    std::span<const uint8_t> data;
    int64_t Read(std::span<uint8_t> out) override {
        size_t n = std::min(out.size(), data.size());
        std::memcpy(out.data(), data.data(), n);
        data = data.subspan(n);
        return static_cast<int64_t>(n);
    }
};

double cpu_now() {
    timespec ts;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return ts.tv_sec + ts.tv_nsec * 1e-9;
}

}  // namespace

int main(int argc, char** argv) {
    std::string first = argc > 1 ? argv[1] : "50";
    double megabytes = std::atof(first.c_str());
    int repeats = argc > 2 ? std::max(1, std::atoi(argv[2])) : 1;
    std::string levels = argc > 3 ? argv[3] : "1359";
    std::string side = argc > 4 ? argv[4] : "both";
    const bool run_ours = side != "zlib";
    const bool run_zlib = side != "ours";
    uint64_t total_budget = static_cast<uint64_t>(megabytes * 1e6);

    const Category categories[] = {
        {"source", {"/usr/include", "/usr/lib/python3", "/usr/share/perl"}, is_source, 0.30},
        {"text",
         {"/usr/share/doc", "/usr/share/common-licenses", "/usr/share/i18n", "/usr/share"},
         is_text,
         0.25},
        {"binaries", {"/usr/lib", "/usr/libexec"}, is_binary, 0.30},
        {"compressed", {"/usr/share", "/usr/lib"}, is_compressed_name, 0.15},
    };
    std::vector<std::vector<uint8_t>> files;
    uint64_t input = 0;
    std::printf("corpus:\n");
    std::error_code ec;
    const bool folder = fs::is_directory(first, ec);
    if (folder) {
        std::vector<fs::path> paths;
        for (fs::recursive_directory_iterator it(first, ec), end; !ec && it != end;
             it.increment(ec)) {
            if (it->is_regular_file() && !it->is_symlink()) paths.push_back(it->path());
        }
        std::sort(paths.begin(), paths.end());
        for (const fs::path& p : paths) {
            files.push_back(read_file(p));
            input += files.back().size();
        }
    }
    for (const Category& c : categories) {
        if (folder) break;
        std::vector<std::vector<uint8_t>> part;
        uint64_t got = 0;
        collect(c, static_cast<uint64_t>(c.share * total_budget), part, got);
        input += got;
        for (auto& f : part) files.push_back(std::move(f));
    }
    std::printf("  total       %6.1f MB in %zu files\n\n", input / 1e6, files.size());

    auto state = zip::make_deflate_state();
    BufferOutput out;
    z_stream z{};
    std::vector<uint8_t> zbuf;
    std::vector<uint8_t> check;

    std::printf("level  ours MB   zlib MB   size ratio   ours MB/s  zlib MB/s  speed ratio\n");
    for (char level_char : levels) {
        int level = level_char - '0';
        if (level < 1 || level > 9) continue;
        uint64_t ours_size = 0;
        uint64_t zlib_size = 0;
        double ours_time = 1e30;
        double zlib_time = 1e30;
        uint64_t ld_size = 0;
        double ld_time = 1e30;
        // FNV-1a over every stream of ours, so that a change can be shown to leave a level's
        // output as it was.
        uint64_t digest = 0xcbf29ce484222325u;
        // Ours and zlib take turns file by file and are timed in thread CPU time, so that the
        // load of a shared machine weighs on both alike.
        for (int rep = 0; rep < repeats; ++rep) {
            double ours = 0;
            double theirs = 0;
            double ld = 0;
            ours_size = 0;
            zlib_size = 0;
            ld_size = 0;
#ifdef HAVE_LIBDEFLATE
            libdeflate_compressor* ldc = libdeflate_alloc_compressor(level);
#endif
            deflateInit2(&z, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
            for (const auto& f : files) {
                double t0 = cpu_now();
                if (run_ours) {
                    SpanInput in;
                    in.data = f;
                    out.used = 0;
                    uint16_t attr = zip::kAttrUnknown, method = zip::kMethodDeflated, flags = 0;
                    zip::init_bit_writer(*state, &out, &in);
                    zip::init_trees(*state, &attr, &method);
                    zip::init_matcher(*state, level, &flags);
                    ours_size += zip::deflate_member(*state).compressed_size;
                    if (rep == 0) {
                        for (size_t i = 0; i < out.used; ++i) {
                            digest = (digest ^ out.buf[i]) * 0x100000001b3u;
                        }
                    }
                }
                double t1 = cpu_now();
                if (run_zlib) {
                    deflateReset(&z);
                    size_t bound = deflateBound(&z, f.size());
                    if (zbuf.size() < bound) zbuf.resize(bound);
                    z.next_in = const_cast<Bytef*>(f.data());
                    z.avail_in = static_cast<uInt>(f.size());
                    z.next_out = zbuf.data();
                    z.avail_out = static_cast<uInt>(zbuf.size());
                    deflate(&z, Z_FINISH);
                    zlib_size += z.total_out;
                }
                double t2 = cpu_now();
#ifdef HAVE_LIBDEFLATE
                if (run_zlib) {
                    size_t bound = libdeflate_deflate_compress_bound(ldc, f.size());
                    if (zbuf.size() < bound) zbuf.resize(bound);
                    ld_size += libdeflate_deflate_compress(ldc, f.data(), f.size(), zbuf.data(),
                                                           zbuf.size());
                }
#endif
                double t3 = cpu_now();
                ours += t1 - t0;
                theirs += t2 - t1;
                ld += t3 - t2;
            }
            deflateEnd(&z);
#ifdef HAVE_LIBDEFLATE
            libdeflate_free_compressor(ldc);
#endif
            ours_time = std::min(ours_time, ours);
            zlib_time = std::min(zlib_time, theirs);
            ld_time = std::min(ld_time, ld);
        }

        // Every stream of ours must inflate back to its file.
        size_t bad = 0;
        for (const auto& f : files) {
            if (!run_ours || !run_zlib) break;
            std::vector<uint8_t> deflated;
            zip::deflate_buffer(*state, f, level, false, deflated);
            z_stream d{};
            inflateInit2(&d, -15);
            check.resize(f.size() + 1);
            d.next_in = deflated.data();
            d.avail_in = static_cast<uInt>(deflated.size());
            d.next_out = check.data();
            d.avail_out = static_cast<uInt>(check.size());
            int rc = inflate(&d, Z_FINISH);
            if (rc != Z_STREAM_END || d.total_out != f.size() ||
                std::memcmp(check.data(), f.data(), f.size()) != 0) {
                ++bad;
            }
            inflateEnd(&d);
#ifdef HAVE_LIBDEFLATE
            // libdeflate's decoder must take every stream too.
            libdeflate_decompressor* ldd = libdeflate_alloc_decompressor();
            size_t got = 0;
            if (libdeflate_deflate_decompress(ldd, deflated.data(), deflated.size(), check.data(),
                                              check.size(), &got) != LIBDEFLATE_SUCCESS ||
                got != f.size() || std::memcmp(check.data(), f.data(), f.size()) != 0) {
                ++bad;
            }
            libdeflate_free_decompressor(ldd);
#endif
        }

        std::printf("%5d  %7.2f   %7.2f   %10.4f   %9.1f  %9.1f  %11.2f%s\n", level,
                    ours_size / 1e6, zlib_size / 1e6, double(ours_size) / double(zlib_size),
                    input / 1e6 / ours_time, input / 1e6 / zlib_time, zlib_time / ours_time,
                    bad ? "  INFLATE MISMATCH" : "");
        if (ld_size != 0) {
            std::printf(
                "       libdeflate %7.2f MB, size ratio %.4f, %.1f MB/s, speed ratio %.2f\n",
                ld_size / 1e6, double(ours_size) / double(ld_size), input / 1e6 / ld_time,
                ld_time / ours_time);
        }
        if (bad) std::printf("       %zu streams did not inflate to their file\n", bad);
        if (run_ours) std::printf("       output digest %016llx\n", (unsigned long long)digest);
    }
    return 0;
}
