// Helpers for this folder's tests: temporary folders, files, running python3 or 7zz to make
// archives with independent tools, and a report window that records what a run reports.
#pragma once

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "archiver/engine/unzip/engine_frame.h"
#include "archiver/engine/unzip/unzip.h"
#include "platform/event_loop.h"

namespace engine::testing_util {

/// A fresh temporary folder, removed with everything in it at the end of the scope.
struct TempDir {
    std::filesystem::path path;
    TempDir() {
        std::string tmpl = (std::filesystem::temp_directory_path() / "unzip_test_XXXXXX").string();
        path = mkdtemp(tmpl.data());
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(path, ec);
    }
    std::string operator/(const std::string& name) const { return (path / name).string(); }
};

/// True when a program is on PATH.
inline bool HaveProgram(const std::string& name) {
    return std::system(("command -v " + name + " >/dev/null 2>&1").c_str()) == 0;
}

/// Skips the current test when a program it needs is missing, but fails it when the
/// environment variable CI is set: a build machine that lacks a test tool must not pass
/// quietly. For test bodies and SetUp.
#define UNZIP_TEST_NEEDS(program)                                                   \
    do {                                                                            \
        if (!::engine::testing_util::HaveProgram(program)) {                        \
            if (std::getenv("CI") != nullptr) FAIL() << program << " missing (CI)"; \
            GTEST_SKIP() << program << " missing";                                  \
        }                                                                           \
    } while (0)

/// Runs a python3 script (written to a file in dir); true on exit status 0.
inline bool RunPython(const TempDir& dir, const std::string& script) {
    std::string file = dir / "make.py";
    std::ofstream(file) << script;
    return std::system(("cd '" + dir.path.string() + "' && python3 make.py").c_str()) == 0;
}

/// Whole file as bytes.
inline std::vector<uint8_t> ReadFile(const std::string& path) {
    // One read of the whole size: byte-wise stream iterators are slow in an unoptimised build.
    std::ifstream f(path, std::ios::binary | std::ios::ate);
    if (!f) return {};
    std::vector<uint8_t> data(static_cast<size_t>(std::max<std::streamoff>(f.tellg(), 0)));
    f.seekg(0);
    f.read(reinterpret_cast<char*>(data.data()), static_cast<std::streamsize>(data.size()));
    data.resize(static_cast<size_t>(f.gcount()));
    return data;
}

/// Writes bytes to a file.
inline void WriteFile(const std::string& path, const std::vector<uint8_t>& data) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(data.data()),
               static_cast<std::streamsize>(data.size()));
}

/// Reproducible pseudo-random bytes.
inline std::vector<uint8_t> RandomBytes(size_t n, uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<uint8_t> v(n);
    for (auto& b : v) b = static_cast<uint8_t>(rng());
    return v;
}

/// A report window that records every message and answers questions as told.
struct Recorder {
    std::vector<std::pair<UINT, std::string>> log;
    std::vector<std::string> asked;  // output paths of overwrite questions
    std::function<LRESULT(const OverwriteQuery&)> overwrite = [](const OverwriteQuery&) {
        return kSkip;
    };
    std::function<void(const std::string&)> on_status_line;
    LRESULT stop_reply = 0;
    HWND hwnd = 0;

    Recorder() {
        hwnd = platform::CreateWindow([this](HWND, UINT msg, WPARAM, LPARAM lp) -> LRESULT {
            if (msg == kMsgOverwrite) {
                const auto* q = reinterpret_cast<const OverwriteQuery*>(lp);
                asked.push_back(q->output_path);
                return overwrite(*q);
            }
            if (msg == kMsgStopQuestion) return stop_reply;
            if (msg == kMsgStatusLine || msg == kMsgStatusText || msg == kMsgWarning ||
                msg == kMsgError) {
                std::string text = reinterpret_cast<const char*>(lp);
                log.emplace_back(msg, text);
                if (msg == kMsgStatusLine && on_status_line) on_status_line(text);
            }
            return 0;
        });
    }
    ~Recorder() { platform::DestroyWindow(hwnd); }
    std::string Joined(UINT msg) const {
        std::string all;
        for (const auto& [m, t] : log)
            if (m == msg) all += t + "\n";
        return all;
    }
};

/// Runs UNZIP on an archive in dir, reporting to r; an empty target means test mode. The
/// outcome's result code.
inline int RunUnzip(const TempDir& dir, const std::string& archive, const std::string& target,
                    Recorder& r, const std::function<void(UnzipCommand&)>& adjust = nullptr) {
    UnzipCommand cmd;
    cmd.archive = dir / archive;
    cmd.has_target = !target.empty();
    cmd.target = target.empty() ? "" : dir / target;
    cmd.report_window = r.hwnd;
    if (adjust) adjust(cmd);
    if (UNZIP(cmd) != 1) return -1;
    return cmd.result;
}

}  // namespace engine::testing_util
