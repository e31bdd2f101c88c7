#include "archiver/engine/zip/deflate_bucket.h"

#include <algorithm>
#include <cstring>

#include "archiver/engine/zip/deflate.h"
#include "archiver/engine/zip/deflate_parse.h"

namespace zip {

uint64_t deflate_bucket(DeflateState& s) {
    MatchState& m = s.match;
    const DeflateTables& tab = deflate_tables();
    uint8_t* const win = m.window.data();
    // Entry h, four bytes, holds the newest position of hash h in its low half and the one
    // before in its high half; 0 means none. (The window's slide treats both halves alike.)
    uint8_t* const table = reinterpret_cast<uint8_t*>(m.bucket.data());
    auto insert = [&](uint32_t h, uint32_t pos) {
        uint32_t v = load32(table + 4 * h) << 16 | pos;
        std::memcpy(table + 4 * h, &v, sizeof v);
    };
    const LevelConfig config = m.config;
    Cursor c(m);
    uint32_t misses = 0;  // literals in a row

    while (c.lookahead != 0) {
        const uint32_t p = c.strstart;
        const uint8_t* scan = win + p;
        const uint32_t h = hash4(scan);
        __builtin_prefetch(table + 4 * hash4(scan + 1));
        const uint32_t e = load32(table + 4 * h);
        insert(h, p);
        const uint32_t first = load32(scan);
        uint32_t len = 0;
        uint32_t start = 0;
        // The older position is the farther: out of reach when the newer one is.
        const uint32_t near = e & 0xFFFF;
        if (near != 0 && p - near <= kMaxDist) {
            if (load32(win + near) == first) {
                len = common_length(scan, win + near);
                start = near;
            }
            const uint32_t far = e >> 16;
            if (len < config.nice_length && far != 0 && p - far <= kMaxDist &&
                load32(win + far) == first) {
                const uint32_t l = common_length(scan, win + far);
                if (l > len) {
                    len = l;
                    start = far;
                }
            }
        }
        len = std::min(len, c.lookahead);
        bool full;
        if (len >= kMinMatch) {
            // The entry the next search reads, fetched while the match is recorded.
            __builtin_prefetch(table + 4 * hash4(scan + len));
            full = tally(s, tab, c, p - start, len - kMinMatch);
            c.lookahead -= len;
            if (len <= config.max_lazy) {
                // Short matches: every position goes into the table.
                for (uint32_t q = p + 1; q < p + len; ++q) insert(hash4(win + q), q);
            }
            c.strstart = p + len;
            misses = 0;
        } else {
            full = tally(s, tab, c, 0, win[p]);
            --c.lookahead;
            ++c.strstart;
            // Where nothing has matched for long (data already compressed), the search is tried
            // at fewer and fewer positions: the bytes between go out as literals.
            if (++misses > kSkipAfter && !full) full = skip_ahead(s, tab, c, misses - kSkipAfter);
        }
        if ((full && !flush_ok(s, c)) || !refill(s, c)) return s.trees.compressed_len >> 3;
    }
    return flush(s, c, true);
}

}  // namespace zip
