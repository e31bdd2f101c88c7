// gzip and Unix-compress decoding through whole UNZIP runs in test mode, against `gzip -d` and
// `compress -d` decoding the same files to /dev/null (process start included in theirs).
//
// Usage: single_file_bench [MEGABYTES] [ROUNDS]
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "archiver/engine/unzip/unzip.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point since) {
    return std::chrono::duration<double>(Clock::now() - since).count();
}

// Text lines with a few words of variety, a stretch of noise every so often: roughly what
// compressed documents and logs hold.
void WriteSample(const std::string& path, size_t bytes) {
    std::mt19937 rng(42);
    const char* words[] = {"archive", "member", "header", "the", "of", "size",  "time",
                           "name",    "folder", "data",   "a",   "to", "block", "table"};
    std::string out;
    out.reserve(bytes + 256);
    while (out.size() < bytes) {
        if (rng() % 50 == 0) {
            for (int i = 0; i < 2000; ++i) out += static_cast<char>(rng());
            continue;
        }
        int n = 4 + static_cast<int>(rng() % 10);
        for (int i = 0; i < n; ++i) {
            out += words[rng() % (sizeof words / sizeof *words)];
            out += ' ';
        }
        out += std::to_string(rng() % 100000) + "\n";
    }
    out.resize(bytes);
    std::ofstream(path, std::ios::binary)
        .write(out.data(), static_cast<std::streamsize>(out.size()));
}

double OursOnce(const std::string& file) {
    engine::UnzipCommand cmd;
    cmd.kind = engine::kKindGzip;
    cmd.archive = file;
    cmd.selection = {"sample"};
    auto start = Clock::now();
    if (engine::UNZIP(cmd) != 1 || cmd.result != engine::kUnzipOk) {
        std::fprintf(stderr, "ours: %s failed (%d)\n", file.c_str(), cmd.result);
        std::exit(1);
    }
    return Seconds(start);
}

double ToolOnce(const std::string& command) {
    auto start = Clock::now();
    if (std::system(command.c_str()) != 0) {
        std::fprintf(stderr, "failed: %s\n", command.c_str());
        std::exit(1);
    }
    return Seconds(start);
}

}  // namespace

int main(int argc, char** argv) {
    size_t megabytes = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 8;
    int rounds = argc > 2 ? std::atoi(argv[2]) : 5;
    std::string dir = (std::filesystem::temp_directory_path() /
                       ("single_file_bench_" + std::to_string(::getpid())))
                          .string();
    std::filesystem::create_directories(dir);
    std::string sample = dir + "/sample";
    WriteSample(sample, megabytes << 20);
    if (std::system(("gzip -6 -c '" + sample + "' > '" + sample + ".gz' && compress -b16 -c '" +
                     sample + "' > '" + sample + ".Z'")
                        .c_str()) != 0) {
        std::fprintf(stderr, "needs gzip and compress (ncompress)\n");
        return 1;
    }
    struct Row {
        const char* name;
        std::string file, tool;
    } rows[] = {{"gzip -6", sample + ".gz", "gzip -d -c '" + sample + ".gz' > /dev/null"},
                {"compress -b16", sample + ".Z", "compress -d -c '" + sample + ".Z' > /dev/null"}};
    std::printf("%zu MB of mixed text and noise, best of %d rounds\n", megabytes, rounds);
    for (const Row& r : rows) {
        double ours = 1e9, tool = 1e9;
        for (int i = 0; i < rounds; ++i) {
            ours = std::min(ours, OursOnce(r.file));
            tool = std::min(tool, ToolOnce(r.tool));
        }
        double mb = static_cast<double>(megabytes);
        std::printf("%-14s ours %7.1f MB/s   tool %7.1f MB/s   (ours/tool time %.2f)\n", r.name,
                    mb / ours, mb / tool, ours / tool);
    }
    std::filesystem::remove_all(dir);
    return 0;
}
