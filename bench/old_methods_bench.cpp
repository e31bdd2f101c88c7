// Speed of explode, unshrink and unreduce on the members of the public test archives (a few
// MB per method), against zlib's inflate of the same content as a yardstick.
//
// Usage: old_methods_bench [TESTDATA] [ROUNDS]   (TESTDATA defaults to $TESTDATA)
#include <zlib.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "archiver/engine/unzip/old_methods.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Member {
    uint16_t method = 0, flags = 0;
    uint64_t size = 0;
    std::vector<uint8_t> data;
};

std::vector<uint8_t> ReadFile(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

// The members of an archive without data descriptors, read by their local headers.
std::vector<Member> LocalMembers(const std::vector<uint8_t>& zip) {
    auto u16 = [&](size_t at) { return static_cast<uint32_t>(zip[at] | zip[at + 1] << 8); };
    auto u32 = [&](size_t at) { return u16(at) | u16(at + 2) << 16; };
    std::vector<Member> out;
    size_t at = 0;
    while (at + 30 <= zip.size() && u32(at) == 0x04034b50) {
        Member m;
        m.flags = static_cast<uint16_t>(u16(at + 6));
        m.method = static_cast<uint16_t>(u16(at + 8));
        size_t csize = u32(at + 18);
        m.size = u32(at + 22);
        size_t data = at + 30 + u16(at + 26) + u16(at + 28);
        if (data + csize > zip.size() || (m.flags & 8)) break;
        m.data.assign(zip.begin() + static_cast<long>(data),
                      zip.begin() + static_cast<long>(data + csize));
        out.push_back(std::move(m));
        at = data + csize;
    }
    return out;
}

// Decodes a member once; its output, or empty on failure.
std::vector<uint8_t> Decode(const Member& m) {
    size_t at = 0;
    std::vector<uint8_t> out;
    out.reserve(m.size);
    engine::OldMethodIo io{[&](uint8_t* buf, size_t cap) {
                               size_t n = std::min(cap, m.data.size() - at);
                               std::copy_n(m.data.data() + at, n, buf);
                               at += n;
                               return n;
                           },
                           [&](const uint8_t* p, size_t n) { out.insert(out.end(), p, p + n); }};
    engine::OldMethodResult r =
        engine::DecodeOldMethod(io, m.method, m.flags, m.data.size(), m.size);
    if (r.status != engine::OldMethodStatus::kOk) out.clear();
    return out;
}

double Seconds(Clock::time_point since) {
    return std::chrono::duration<double>(Clock::now() - since).count();
}

}  // namespace

int main(int argc, char** argv) {
    const char* env = std::getenv("TESTDATA");
    std::string root = argc > 1 ? argv[1] : env ? env : "../shared/testdata";
    int rounds = argc > 2 ? std::atoi(argv[2]) : 3;
    struct Group {
        const char* label;
        std::vector<std::string> files;
    } groups[] = {
        {"unshrink (1)", {"df_PKZ110ES.ZIP"}}, {"unreduce (2)", {"df_PKZ90B1.ZIP"}},
        {"unreduce (3)", {"df_PKZ90B2.ZIP"}},  {"unreduce (4)", {"df_PKZ90B3.ZIP"}},
        {"unreduce (5)", {"df_PKZ90B4.ZIP"}},  {"explode (6)", {"df_PKZ110EI.ZIP"}},
    };
    for (const Group& g : groups) {
        std::vector<Member> members;
        for (const std::string& f : g.files)
            for (Member& m : LocalMembers(ReadFile(root + "/zip-old-methods/" + f)))
                if (engine::IsOldMethod(m.method)) members.push_back(std::move(m));
        if (members.empty()) {
            std::fprintf(stderr, "%s: no members found under %s\n", g.label, root.c_str());
            return 1;
        }
        // The same content deflated, for zlib's inflate as the yardstick.
        std::vector<std::vector<uint8_t>> plain, deflated;
        uint64_t total = 0, packed = 0;
        for (const Member& m : members) {
            plain.push_back(Decode(m));
            if (plain.back().size() != m.size) {
                std::fprintf(stderr, "%s: a member failed to decode\n", g.label);
                return 1;
            }
            uLongf n = compressBound(static_cast<uLong>(m.size));
            std::vector<uint8_t> z(n);
            compress2(z.data(), &n, plain.back().data(), static_cast<uLong>(m.size), 6);
            z.resize(n);
            deflated.push_back(std::move(z));
            total += m.size;
            packed += m.data.size();
        }
        double ours = 1e9, zlib = 1e9;
        for (int r = 0; r < rounds; ++r) {
            auto start = Clock::now();
            for (const Member& m : members) Decode(m);
            ours = std::min(ours, Seconds(start));
            start = Clock::now();
            std::vector<uint8_t> out;
            for (size_t i = 0; i < members.size(); ++i) {
                out.resize(plain[i].size());
                uLongf n = static_cast<uLongf>(out.size());
                uncompress(out.data(), &n, deflated[i].data(),
                           static_cast<uLong>(deflated[i].size()));
            }
            zlib = std::min(zlib, Seconds(start));
        }
        std::printf("%-14s %5.2f MB -> %5.2f MB   ours %7.1f MB/s   zlib inflate %7.1f MB/s\n",
                    g.label, packed / 1e6, total / 1e6, total / ours / 1e6, total / zlib / 1e6);
    }
    return 0;
}
