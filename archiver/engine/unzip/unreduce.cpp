#include "archiver/engine/unzip/unreduce.h"

#include <algorithm>
#include <array>

namespace engine {
namespace {

constexpr uint8_t kMarker = 0x90;  // introduces a match; 0x90 0x00 is a literal 0x90
constexpr size_t kWindow = 16 * 1024;

// Bits of an index into a follower set of n entries.
unsigned FollowerBits(unsigned n) {
    if (n <= 2) return 1;
    if (n <= 4) return 2;
    if (n <= 8) return 3;
    if (n <= 16) return 4;
    if (n <= 32) return 5;
    return 6;
}

}  // namespace

OldMethodResult Unreduce(const OldMethodIo& io, uint16_t method, uint64_t size) {
    OldMethodResult r;
    if (method < 2 || method > 5) {
        r.status = OldMethodStatus::kBadData;
        return r;
    }
    const unsigned factor = method - 1u;
    const unsigned length_mask = 0xFFu >> factor;  // 127, 63, 31, 15
    const unsigned distance_shift = 8 - factor;

    OldMethodBits in(io);
    struct Followers {
        uint8_t count = 0;
        std::array<uint8_t, 64> bytes{};
    };
    std::array<Followers, 256> sets;
    for (int j = 255; j >= 0; --j) {
        Followers& f = sets[static_cast<size_t>(j)];
        uint32_t n = 0;
        if (!in.Get(6, &n)) {
            r.status = OldMethodStatus::kTruncated;
            return r;
        }
        f.count = static_cast<uint8_t>(n);
        for (uint32_t i = 0; i < n; ++i) {
            uint32_t b = 0;
            if (!in.Get(8, &b)) {
                r.status = OldMethodStatus::kTruncated;
                return r;
            }
            f.bytes[i] = static_cast<uint8_t>(b);
        }
    }

    OldMethodWindow window(io, kWindow);
    auto finish = [&](OldMethodStatus s) {
        window.Flush();
        r.status = s;
        r.out_size = window.Produced();
        return r;
    };
    unsigned state = 0;
    unsigned length = 0;
    unsigned v = 0;
    uint32_t last = 0;
    while (window.Produced() < size) {
        const Followers& f = sets[last];
        uint32_t value = 0;
        if (f.count == 0) {
            if (!in.Get(8, &value)) return finish(OldMethodStatus::kTruncated);
        } else {
            uint32_t raw = 0;
            if (!in.Get(1, &raw)) return finish(OldMethodStatus::kTruncated);
            if (raw != 0) {
                if (!in.Get(8, &value)) return finish(OldMethodStatus::kTruncated);
            } else {
                uint32_t index = 0;
                if (!in.Get(FollowerBits(f.count), &index))
                    return finish(OldMethodStatus::kTruncated);
                if (index >= f.count) return finish(OldMethodStatus::kBadData);
                value = f.bytes[index];
            }
        }
        last = value;

        switch (state) {
            case 0:
                if (value == kMarker)
                    state = 1;
                else
                    window.Put(static_cast<uint8_t>(value));
                break;
            case 1:
                if (value == 0) {
                    window.Put(kMarker);
                    state = 0;
                } else {
                    v = value;
                    length = v & length_mask;
                    state = length == length_mask ? 2 : 3;
                }
                break;
            case 2:
                length += value;
                state = 3;
                break;
            default: {
                size_t distance = ((v >> distance_shift) << 8) + value + 1;
                uint64_t n = std::min<uint64_t>(length + 3u, size - window.Produced());
                window.Copy(distance, static_cast<size_t>(n));
                state = 0;
                break;
            }
        }
    }
    return finish(OldMethodStatus::kOk);
}

}  // namespace engine
