// The compressor at every level, checked by our own inflate: whatever the input, the stream must
// decode to exactly that input. The first byte picks the level and how many times the rest is
// repeated (each copy with one byte changed), so that long matches, window slides and blocks
// that end inside a match all come up from small inputs.
#include <cstring>
#include <vector>

#include "archiver/engine/unzip/inflate.h"
#include "archiver/engine/zip/deflate.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    // One state for every member, as the engine keeps it.
    static std::unique_ptr<zip::DeflateState> state = zip::make_deflate_state();
    static engine::InflateWorkspacePtr ws = engine::MakeInflateWorkspace();
    const int level = 1 + data[0] % 9;
    const size_t copies = 1 + (data[0] / 9) % 24;
    std::span<const uint8_t> body(data + 1, size - 1);
    std::vector<uint8_t> input;
    input.reserve(body.size() * copies);
    for (size_t k = 0; k < copies; ++k) {
        size_t at = input.size();
        input.insert(input.end(), body.begin(), body.end());
        if (k != 0 && !body.empty()) input[at + k % body.size()] ^= static_cast<uint8_t>(k);
    }

    std::vector<uint8_t> packed;
    zip::DeflateResult r = zip::deflate_buffer(*state, input, level, false, packed);
    if (r.result != 0 || r.compressed_size != packed.size()) __builtin_trap();

    size_t at = 0;
    std::vector<uint8_t> out;
    engine::InflateIo io;
    io.read = [&](uint8_t* buf, size_t cap) {
        size_t n = std::min(cap, packed.size() - at);
        if (n) std::memcpy(buf, packed.data() + at, n);
        at += n;
        return n;
    };
    io.write = [&](const uint8_t* bytes, size_t n) { out.insert(out.end(), bytes, bytes + n); };
    engine::InflateResult back = engine::Inflate(io, *ws);
    if (back.status != engine::InflateStatus::kOk || back.in_used != packed.size() || out != input)
        __builtin_trap();
    return 0;
}
