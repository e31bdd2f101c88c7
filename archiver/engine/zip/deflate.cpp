#include "archiver/engine/zip/deflate.h"

#include <algorithm>
#include <cstring>

#include "archiver/engine/zip/deflate_bucket.h"

namespace zip {
namespace {

struct SpanInput final : DeflateInput {
    std::span<const uint8_t> data;
    int64_t Read(std::span<uint8_t> out) override {
        size_t n = std::min(out.size(), data.size());
        if (n != 0) std::memcpy(out.data(), data.data(), n);
        data = data.subspan(n);
        return static_cast<int64_t>(n);
    }
};

struct VectorOutput final : DeflateOutput {
    std::vector<uint8_t>* out = nullptr;
    bool seekable = false;
    bool Write(std::span<const uint8_t> bytes) override {
        out->insert(out->end(), bytes.begin(), bytes.end());
        return true;
    }
    bool CanSeek() override { return seekable; }
};

}  // namespace

DeflateState& deflate_state() {
    static std::unique_ptr<DeflateState> state = make_deflate_state();
    return *state;
}

std::unique_ptr<DeflateState> make_deflate_state() {
    return std::make_unique<DeflateState>();
}

void init_bit_writer(DeflateState& s, DeflateOutput* out, DeflateInput* in) {
    s.bits.reset(out);
    s.input = in;
    s.read_error = false;
}

void init_trees(DeflateState& s, uint16_t* internal_attr, uint16_t* method) {
    s.trees.internal_attr = internal_attr;
    s.trees.method = method;
    s.trees.compressed_len = 0;
    s.trees.input_len = 0;
    deflate_tables();
    init_block(s.trees);
}

int init_matcher(DeflateState& s, int level, uint16_t* flags) {
    if (level < 1 || level > 9) {
        s.level = 0;
        return 5;
    }
    MatchState& m = s.match;
    s.level = level;
    m.use_bucket = level == kBucketLevel;
    if (m.use_bucket) {
        m.bucket.fill(0);
    } else {
        m.head.fill(0);
    }
    m.config = kLevelTable[level];
    // Only the lazy parser looks at the 3-byte heads, and only long chains at the link
    // after next; the other levels neither read nor slide them.
    m.use_head3 = level > kLastGreedyLevel;
    m.use_prev2 = m.use_head3 && m.config.max_chain >= kSkipFromChain;
    if (m.use_head3) m.head3.fill(0);
    if (level == 1) *flags |= kFlagSuperFast;
    if (level == 9) *flags |= kFlagMaximum;
    m.strstart = 0;
    m.block_start = 0;
    m.match_start = 0;
    m.prev_length = 0;
    m.lookahead = 0;
    m.eofile = false;
    while (m.lookahead < kMinLookahead && !m.eofile) fill_window(s);
    return 0;
}

DeflateResult deflate_member(DeflateState& s) {
    DeflateResult r;
    if (s.level < 1 || s.level > 9) {
        r.result = 5;
        r.detail = "bad pack level";
        return r;
    }
    if (s.level == kBucketLevel) {
        r.compressed_size = deflate_bucket(s);
    } else if (s.level <= kLastGreedyLevel) {
        r.compressed_size = deflate_fast(s);
    } else if (s.level == kLookaheadLevel) {
        r.compressed_size = deflate_lookahead(s);
    } else {
        r.compressed_size = deflate_lazy(s);
    }
    // A member cut short by a read error must not pass for the whole file.
    if (s.read_error) {
        r.result = 11;
    } else if (s.bits.failed) {
        r.result = 14;
    }
    return r;
}

DeflateResult deflate_buffer(DeflateState& s, std::span<const uint8_t> data, int level,
                             bool seekable, std::vector<uint8_t>& out, DeflateBufferInfo* info) {
    SpanInput in;
    in.data = data;
    VectorOutput sink;
    sink.out = &out;
    sink.seekable = seekable;
    DeflateBufferInfo local;
    DeflateBufferInfo& i = info ? *info : local;
    i = DeflateBufferInfo{};
    init_bit_writer(s, &sink, &in);
    init_trees(s, &i.internal_attr, &i.method);
    if (init_matcher(s, level, &i.flags) != 0) {
        DeflateResult r;
        r.result = 5;
        r.detail = "bad pack level";
        return r;
    }
    return deflate_member(s);
}

}  // namespace zip
