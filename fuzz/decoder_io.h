// The byte source and sink the decoders pull from and push to, over the fuzzer's bytes: the
// source hands out uneven pieces so refills land anywhere in a code.
#pragma once

#include <algorithm>
#include <cstring>
#include <span>

#include "archiver/engine/unzip/inflate.h"

namespace fuzz {

/// An InflateIo reading `in` in pieces of 1 to 4096 bytes and counting what is written.
struct DecoderIo {
    explicit DecoderIo(std::span<const uint8_t> in) : in_(in) {
        io.read = [this](uint8_t* buf, size_t cap) {
            size_t piece = 1 + (in_.size() * 7 + at_) % 4096;
            size_t n = std::min({cap, piece, in_.size() - at_});
            if (n) std::memcpy(buf, in_.data() + at_, n);
            at_ += n;
            return n;
        };
        io.write = [this](const uint8_t* data, size_t n) {
            if (n) sink_ ^= data[n - 1];
            written += n;
        };
    }
    engine::InflateIo io;
    uint64_t written = 0;

private:
    std::span<const uint8_t> in_;
    size_t at_ = 0;
    uint8_t sink_ = 0;
};

}  // namespace fuzz
