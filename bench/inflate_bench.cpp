// Inflate speed against zlib (and libdeflate where it is installed) on the members of one zip
// archive (bench/make_corpus.py makes a mixed 50 MB one), then whole UNZIP runs in test mode
// and extracting to disk.
//
// Usage: inflate_bench ARCHIVE.zip [ROUNDS]
#include <fcntl.h>
#include <zlib.h>
#ifdef HAVE_LIBDEFLATE
#include <libdeflate.h>
#endif

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "archiver/engine/unzip/crc32.h"
#include "archiver/engine/unzip/file_io.h"
#include "archiver/engine/unzip/inflate.h"
#include "archiver/engine/unzip/unzip.h"
#include "archiver/engine/unzip/zip_directory.h"
#include "platform/event_loop.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Member {
    std::vector<uint8_t> data;
    uint64_t size = 0;
    uint32_t crc = 0;
};

double Seconds(Clock::time_point since) {
    return std::chrono::duration<double>(Clock::now() - since).count();
}

double OursOnce(const std::vector<Member>& members, bool with_crc) {
    static engine::InflateWorkspacePtr ws = engine::MakeInflateWorkspace();
    auto start = Clock::now();
    for (const Member& m : members) {
        size_t pos = 0;
        uint32_t crc = 0;
        engine::InflateIo io;
        io.read = [&](uint8_t* buf, size_t cap) {
            size_t n = std::min(cap, m.data.size() - pos);
            std::copy_n(m.data.data() + pos, n, buf);
            pos += n;
            return n;
        };
        io.write = [&](const uint8_t* p, size_t n) {
            if (with_crc) crc = engine::Crc32(crc, {p, n});
        };
        engine::InflateResult r = engine::Inflate(io, *ws);
        if (r.status != engine::InflateStatus::kOk || r.out_size != m.size ||
            (with_crc && crc != m.crc)) {
            std::fprintf(stderr, "ours: member failed\n");
            std::exit(1);
        }
    }
    return Seconds(start);
}

double ZlibOnce(const std::vector<Member>& members, bool with_crc) {
    std::vector<uint8_t> out(256 * 1024);
    z_stream z{};
    inflateInit2(&z, -15);
    auto start = Clock::now();
    for (const Member& m : members) {
        inflateReset(&z);
        z.next_in = const_cast<Bytef*>(m.data.data());
        z.avail_in = static_cast<uInt>(m.data.size());
        uint64_t total = 0;
        uLong crc = crc32(0, nullptr, 0);
        int rc;
        do {
            z.next_out = out.data();
            z.avail_out = static_cast<uInt>(out.size());
            rc = inflate(&z, Z_NO_FLUSH);
            size_t n = out.size() - z.avail_out;
            if (with_crc) crc = crc32(crc, out.data(), static_cast<uInt>(n));
            total += n;
        } while (rc == Z_OK);
        if (rc != Z_STREAM_END || total != m.size || (with_crc && crc != m.crc)) {
            std::fprintf(stderr, "zlib: member failed\n");
            std::exit(1);
        }
    }
    double s = Seconds(start);
    inflateEnd(&z);
    return s;
}

#ifdef HAVE_LIBDEFLATE
// libdeflate decodes whole buffers, so each member goes to a buffer of its known size.
double LibdeflateOnce(const std::vector<Member>& members, bool with_crc) {
    libdeflate_decompressor* d = libdeflate_alloc_decompressor();
    std::vector<uint8_t> out;
    auto start = Clock::now();
    for (const Member& m : members) {
        out.resize(m.size);
        size_t got = 0;
        libdeflate_result rc = libdeflate_deflate_decompress(d, m.data.data(), m.data.size(),
                                                             out.data(), out.size(), &got);
        if (rc != LIBDEFLATE_SUCCESS || got != m.size ||
            (with_crc && libdeflate_crc32(0, out.data(), got) != m.crc)) {
            std::fprintf(stderr, "libdeflate: member failed\n");
            std::exit(1);
        }
    }
    double s = Seconds(start);
    libdeflate_free_decompressor(d);
    return s;
}
#endif

double UnzipOnce(const std::string& archive, const std::string& target) {
    platform::HWND w =
        platform::CreateWindow([](platform::HWND, platform::UINT msg, platform::WPARAM,
                                  platform::LPARAM) -> platform::LRESULT {
            return msg == engine::kMsgOverwrite ? engine::kReplaceAll : 0;
        });
    engine::UnzipCommand cmd;
    cmd.archive = archive;
    cmd.report_window = w;
    cmd.has_target = !target.empty();
    cmd.target = target;
    cmd.overwrite_all = true;
    auto start = Clock::now();
    engine::UNZIP(cmd);
    double s = Seconds(start);
    platform::DestroyWindow(w);
    if (cmd.result != 0) {
        std::fprintf(stderr, "UNZIP failed with %d\n", cmd.result);
        std::exit(1);
    }
    return s;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s ARCHIVE.zip [ROUNDS]\n", argv[0]);
        return 2;
    }
    std::string archive = argv[1];
    int rounds = argc > 2 ? std::atoi(argv[2]) : 5;
    engine::ZipDirectory dir = engine::ReadZipDirectory(archive);
    if (dir.status != engine::DirectoryStatus::kOk) {
        std::fprintf(stderr, "%s\n", dir.message.c_str());
        return 1;
    }
    engine::UniqueFd fd(::open(archive.c_str(), O_RDONLY));
    std::vector<Member> members;
    uint64_t in_total = 0, out_total = 0;
    for (const engine::DirectoryEntry& e : dir.entries) {
        if (e.header.method != engine::kMethodDeflated) continue;
        uint8_t local[engine::kLocalSize];
        engine::PreadFull(fd.get(), local, sizeof local, e.local_offset);
        uint64_t data = e.local_offset + engine::kLocalSize + engine::Get16(local + 26) +
                        engine::Get16(local + 28);
        Member m;
        m.data.resize(e.header.compressed_size);
        engine::PreadFull(fd.get(), m.data.data(), m.data.size(), data);
        m.size = e.header.uncompressed_size;
        m.crc = e.header.crc;
        in_total += m.data.size();
        out_total += m.size;
        members.push_back(std::move(m));
    }
    std::printf("%zu deflated members, %.1f MB compressed, %.1f MB uncompressed\n", members.size(),
                in_total / 1e6, out_total / 1e6);

    for (bool crc : {false, true}) {
        double ours = 1e9, zlib = 1e9, libdeflate = 0;
        for (int r = 0; r < rounds; ++r) {
            ours = std::min(ours, OursOnce(members, crc));
            zlib = std::min(zlib, ZlibOnce(members, crc));
#ifdef HAVE_LIBDEFLATE
            double t = LibdeflateOnce(members, crc);
            libdeflate = r == 0 ? t : std::min(libdeflate, t);
#endif
        }
        std::printf("%-22s ours %7.1f MB/s   zlib %7.1f MB/s   ratio %.2f",
                    crc ? "inflate + CRC-32:" : "inflate only:", out_total / ours / 1e6,
                    out_total / zlib / 1e6, zlib / ours);
        if (libdeflate > 0)
            std::printf("   libdeflate %7.1f MB/s   ratio %.2f", out_total / libdeflate / 1e6,
                        libdeflate / ours);
        std::printf("\n");
    }

    std::vector<uint8_t> blob(64 << 20, 0x5A);
    double crc_best = 1e9;
    for (int r = 0; r < rounds; ++r) {
        auto start = Clock::now();
        volatile uint32_t c = engine::Crc32(0, blob);
        (void)c;
        crc_best = std::min(crc_best, Seconds(start));
    }
    std::printf("%-22s %7.1f GB/s\n", "CRC-32:", blob.size() / crc_best / 1e9);

    double test = 1e9, extract = 1e9;
    std::string target = (std::filesystem::temp_directory_path() / "inflate_bench_out").string();
    for (int r = 0; r < std::max(1, rounds / 2); ++r) {
        test = std::min(test, UnzipOnce(archive, ""));
        extract = std::min(extract, UnzipOnce(archive, target));
    }
    std::filesystem::remove_all(target);
    std::printf("%-22s %7.1f MB/s (%.3f s)\n", "UNZIP test mode:", out_total / test / 1e6, test);
    std::printf("%-22s %7.1f MB/s (%.3f s)\n", "UNZIP to disk:", out_total / extract / 1e6,
                extract);
    return 0;
}
