// Inputs and an inflating check shared by the compressor's tests.
#pragma once

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "archiver/engine/unzip/inflate.h"
#include "archiver/engine/zip/deflate_bits.h"

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
