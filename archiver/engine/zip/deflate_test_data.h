// Inputs and an inflating check shared by the compressor's tests.
#pragma once

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "archiver/engine/unzip/inflate.h"
#include "archiver/engine/zip/deflate.h"
#include "archiver/engine/zip/deflate_bits.h"
#include "archiver/engine/zip/deflate_match.h"
#include "archiver/engine/zip/deflate_trees.h"

namespace zip {

/// `n` bytes of noise from `seed`.
inline std::vector<uint8_t> RandomBytes(size_t n, uint32_t seed) {
    std::mt19937 gen(seed);
    std::vector<uint8_t> v(n);
    for (auto& b : v) b = static_cast<uint8_t>(gen());
    return v;
}

/// `n` bytes of text: words from a small vocabulary, chosen by `seed`.
inline std::vector<uint8_t> Text(size_t n, uint32_t seed) {
    static const char* words[] = {"the ",    "archive ", "member ", "of ",    "window ",
                                  "deflate", "\n",       "data ",   "block ", "tree, "};
    std::mt19937 gen(seed);
    std::vector<uint8_t> v;
    while (v.size() < n) {
        const char* w = words[gen() % 10];
        v.insert(v.end(), w, w + std::char_traits<char>::length(w));
    }
    v.resize(n);
    return v;
}

/// Inflates `deflated` with our own decoder; false unless the stream ends exactly at its end.
inline bool OwnInflate(const std::vector<uint8_t>& deflated, std::vector<uint8_t>& plain) {
    static engine::InflateWorkspacePtr ws = engine::MakeInflateWorkspace();
    size_t pos = 0;
    plain.clear();
    engine::InflateIo io;
    io.read = [&](uint8_t* buf, size_t cap) {
        size_t n = std::min(cap, deflated.size() - pos);
        std::copy_n(deflated.begin() + pos, n, buf);
        pos += n;
        return n;
    };
    io.write = [&](const uint8_t* data, size_t size) {
        plain.insert(plain.end(), data, data + size);
    };
    engine::InflateResult r = engine::Inflate(io, *ws);
    return r.status == engine::InflateStatus::kOk && r.in_used == deflated.size();
}

/// A parser's choices as the trace records them: (distance, length), or (0, byte).
using Trace = std::vector<std::pair<uint32_t, uint32_t>>;

/// Replays the parser's choices (distance 0: a literal byte) as a decoder would; false at a
/// step no decoder could take.
inline bool Replay(const Trace& trace, std::vector<uint8_t>& out) {
    out.clear();
    for (auto [dist, len] : trace) {
        if (dist == 0) {
            out.push_back(static_cast<uint8_t>(len));
            continue;
        }
        if (dist > kMaxDist || dist > out.size() || len < kMinMatch || len > kMaxMatch) {
            return false;
        }
        for (uint32_t i = 0; i < len; ++i) out.push_back(out[out.size() - dist]);
    }
    return true;
}

/// Compresses `data` at `level`, its choices recorded into `trace`: true when the result is
/// 0, the size reported is the stream's, and both the stream (by our decoder) and the choices
/// rebuild the input.
inline bool RoundTrips(DeflateState& s, const std::vector<uint8_t>& data, int level, Trace& trace) {
    std::vector<uint8_t> out, back;
    trace.clear();
    s.trace = &trace;
    DeflateResult r = deflate_buffer(s, data, level, false, out);
    s.trace = nullptr;
    return r.result == 0 && r.compressed_size == out.size() && OwnInflate(out, back) &&
           back == data && Replay(trace, back) && back == data;
}

/// Collects a member's output; cannot seek.
struct VectorSink final : DeflateOutput {
    std::vector<uint8_t> bytes;
    bool Write(std::span<const uint8_t> b) override {
        bytes.insert(bytes.end(), b.begin(), b.end());
        return true;
    }
    bool CanSeek() override { return false; }
};

}  // namespace zip
