// LZ expander: SZDD (LZSS over a 4 KiB window of blanks) and KWAJ (stored, XOR, the same
// LZSS, and deflate blocks), read through a small buffered reader that never reads past
// the end of the file.
#include "archiver/engine/unzip/lz_expand.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <vector>

#include "archiver/engine/unzip/inflate.h"

namespace engine {

namespace {

constexpr uint8_t kSzddMagic[8] = {'S', 'Z', 'D', 'D', 0x88, 0xF0, 0x27, 0x33};
constexpr uint8_t kKwajMagic[8] = {'K', 'W', 'A', 'J', 0x88, 0xF0, 0x27, 0xD1};
constexpr size_t kSzddHeaderSize = 14;
constexpr size_t kKwajFixedSize = 14;
// The largest KWAJ header: fixed part, length, unknown word, extra block (length word plus
// up to 65535 bytes), name (8+NUL), extension (3+NUL) and a text block like the extra one.
constexpr size_t kKwajHeaderMax = kKwajFixedSize + 4 + 2 + 2 + 65535 + 9 + 4 + 2 + 65535;
constexpr size_t kWindowSize = 4096;
constexpr size_t kMsZipBlockOut = 32768;

enum class Mode { kPlain, kSzdd, kStored, kXor, kLzss, kMsZip };

/// What a header says.
struct Header {
    Mode mode = Mode::kPlain;
    uint64_t data_offset = 0;
    std::optional<uint32_t> length;
    std::string name;       // KWAJ name field (empty when absent)
    std::string extension;  // KWAJ extension field
    bool has_name = false;
    bool has_extension = false;
    uint8_t szdd_last_char = 0;
    bool szdd = false;
    bool kwaj = false;
};

uint16_t Le16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
uint32_t Le32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

// Reads up to `cap` bytes from the start of the file (short only at its end). The buffer
// grows as reads fill it: the header is read from every file opened, most are far smaller
// than the largest header, and zeroing that much for each one costs more than the reads.
bool ReadHead(int fd, size_t cap, std::vector<uint8_t>& out) {
    constexpr size_t kFirstRead = 4096;
    out.clear();
    size_t got = 0;
    while (got < cap) {
        if (got == out.size()) out.resize(std::min(cap, std::max(kFirstRead, out.size() * 2)));
        ssize_t n = ::pread(fd, out.data() + got, out.size() - got, static_cast<off_t>(got));
        if (n < 0) return false;
        if (n == 0) break;
        got += static_cast<size_t>(n);
    }
    out.resize(got);
    return true;
}

// A NUL-terminated field of at most `width` bytes (terminator included); a field that fills
// its width without a NUL keeps `width - 1` characters, so names stay within 8.3.
bool ReadNameField(std::span<const uint8_t> h, size_t& pos, size_t width, std::string& out) {
    size_t n = 0;
    while (n < width && pos + n < h.size() && h[pos + n] != 0) ++n;
    if (n < width && pos + n >= h.size()) return false;  // ran off the data
    out.assign(reinterpret_cast<const char*>(h.data() + pos), std::min(n, width - 1));
    pos += (n < width) ? n + 1 : width;
    return true;
}

// Parses the header held in `h`; returns 0 or a kLzError value.
int ParseHeader(std::span<const uint8_t> h, Header& hdr) {
    if (h.size() >= kSzddHeaderSize && std::memcmp(h.data(), kSzddMagic, 8) == 0) {
        hdr.szdd = true;
        if (h[8] != 'A') return kLzErrorUnknownAlg;
        hdr.mode = Mode::kSzdd;
        hdr.szdd_last_char = h[9];
        hdr.length = Le32(h.data() + 10);
        hdr.data_offset = kSzddHeaderSize;
        return 0;
    }
    if (h.size() < 8 || std::memcmp(h.data(), kKwajMagic, 8) != 0) return 0;  // plain
    hdr.kwaj = true;
    if (h.size() < kKwajFixedSize) return kLzErrorRead;
    uint16_t method = Le16(h.data() + 8);
    hdr.data_offset = Le16(h.data() + 10);
    uint16_t flags = Le16(h.data() + 12);
    size_t pos = kKwajFixedSize;
    auto need = [&](size_t n) { return pos + n <= h.size(); };
    if (flags & 0x0001) {  // the expanded length is there only when this flag says so
        if (!need(4)) return kLzErrorRead;
        hdr.length = Le32(h.data() + pos);
        pos += 4;
    }
    if (flags & 0x0002) {
        if (!need(2)) return kLzErrorRead;
        pos += 2;
    }
    if (flags & 0x0004) {
        if (!need(2)) return kLzErrorRead;
        size_t len = Le16(h.data() + pos);
        pos += 2;
        if (!need(len)) return kLzErrorRead;
        pos += len;
    }
    if (flags & 0x0008) {
        if (!ReadNameField(h, pos, 9, hdr.name)) return kLzErrorRead;
        hdr.has_name = true;
    }
    if (flags & 0x0010) {
        if (!ReadNameField(h, pos, 4, hdr.extension)) return kLzErrorRead;
        hdr.has_extension = true;
    }
    if (flags & 0x0020) {
        if (!need(2)) return kLzErrorRead;
        size_t len = Le16(h.data() + pos);
        pos += 2;
        if (!need(len)) return kLzErrorRead;
        pos += len;
    }
    // Writers disagree on whether the offset word counts the name fields' terminators;
    // the data never starts inside the header, so take whichever lies further on.
    hdr.data_offset = std::max<uint64_t>(hdr.data_offset, pos);
    switch (method) {
        case 0:
            hdr.mode = Mode::kStored;
            break;
        case 1:
            hdr.mode = Mode::kXor;
            break;
        case 2:
            hdr.mode = Mode::kLzss;
            break;
        case 3:
            hdr.mode = Mode::kPlain;
            hdr.data_offset = 0;
            break;  // not ours: as is
        case 4:
            hdr.mode = Mode::kMsZip;
            break;
        default:
            return kLzErrorUnknownAlg;
    }
    return 0;
}

}  // namespace

struct LzFile {
    int fd = -1;
    Mode mode = Mode::kPlain;
    // Buffered input, read from `in_pos` on.
    std::array<uint8_t, 16384> in{};
    size_t in_len = 0, in_at = 0;
    bool in_end = false, in_error = false;
    // LZSS state.
    std::array<uint8_t, kWindowSize> window{};
    size_t wpos = 0;
    unsigned control = 0, control_bits = 0;
    // Expanded bytes not yet handed out.
    std::vector<uint8_t> pending;
    size_t pending_at = 0;
    // The header's length, when it gives one, and what has been handed out. A writer may
    // leave one stray byte after the last (mscompress does for an empty file): that byte is
    // dropped. More than that means the header is wrong, and all the data is handed out.
    std::optional<uint64_t> length;
    uint64_t handed_out = 0;
    bool past_length = false;
    bool done = false;
    bool failed = false;
    InflateWorkspacePtr inflate;
    std::vector<uint8_t> history;  // the last 32 KiB of deflate output

    int NextByte() {
        if (in_at == in_len) {
            if (in_end) return -1;
            ssize_t n;
            do n = ::read(fd, in.data(), in.size());
            while (n < 0 && errno == EINTR);
            if (n < 0) in_error = true;
            if (n <= 0) {
                in_end = true;
                return -1;
            }
            in_len = static_cast<size_t>(n);
            in_at = 0;
        }
        return in[in_at++];
    }
    // Reads exactly n bytes; false when the input ends first.
    bool ReadExact(uint8_t* dst, size_t n) {
        for (size_t i = 0; i < n; ++i) {
            int c = NextByte();
            if (c < 0) return false;
            dst[i] = static_cast<uint8_t>(c);
        }
        return true;
    }
    int DecodeLzss();
    int DecodeMsZipBlock();
    int Refill();
};

// One control byte's worth of LZSS: up to 8 literals or matches.
int LzFile::DecodeLzss() {
    int c = NextByte();
    if (c < 0) {
        done = true;
        return in_error ? kLzErrorRead : 0;
    }
    for (int bit = 0; bit < 8; ++bit) {
        if (c & (1 << bit)) {
            int lit = NextByte();
            if (lit < 0) break;
            window[wpos] = static_cast<uint8_t>(lit);
            wpos = (wpos + 1) & (kWindowSize - 1);
            pending.push_back(static_cast<uint8_t>(lit));
        } else {
            int b0 = NextByte();
            if (b0 < 0) break;
            int b1 = NextByte();
            if (b1 < 0) return kLzErrorRead;  // half a match: the data was cut
            size_t src = static_cast<size_t>(b0 | ((b1 & 0xF0) << 4));
            int len = (b1 & 0x0F) + 3;
            for (int i = 0; i < len; ++i) {
                uint8_t v = window[(src + i) & (kWindowSize - 1)];
                window[wpos] = v;
                wpos = (wpos + 1) & (kWindowSize - 1);
                pending.push_back(v);
            }
        }
    }
    return in_error ? kLzErrorRead : 0;
}

namespace {
struct BlockTooLarge {};
}  // namespace

// One deflate block of a KWAJ file: a length word, "CK", then a deflate stream of at most
// 32 KiB of output that may refer back into the previous block's output. A zero length or the
// end of the file ends the data. The decoder starts every stream without history, so the
// previous output goes in front of the block as a stored deflate block and its bytes are
// dropped again from the output.
int LzFile::DecodeMsZipBlock() {
    uint8_t lenb[2];
    if (!ReadExact(lenb, 2)) {
        done = true;
        return in_error ? kLzErrorRead : 0;
    }
    size_t len = Le16(lenb);
    if (len == 0) {
        done = true;
        return 0;
    }
    std::vector<uint8_t> block;
    if (!history.empty()) {
        uint16_t n = static_cast<uint16_t>(history.size());
        block.resize(5 + history.size());
        block[0] = 0x00;  // a stored block, not the last
        block[1] = static_cast<uint8_t>(n);
        block[2] = static_cast<uint8_t>(n >> 8);
        block[3] = static_cast<uint8_t>(~n);
        block[4] = static_cast<uint8_t>(~n >> 8);
        std::memcpy(block.data() + 5, history.data(), history.size());
    }
    size_t head = block.size();
    block.resize(head + len);
    if (!ReadExact(block.data() + head, len) || len < 2 || block[head] != 'C' ||
        block[head + 1] != 'K')
        return kLzErrorRead;
    block.erase(block.begin() + static_cast<ptrdiff_t>(head),
                block.begin() + static_cast<ptrdiff_t>(head + 2));
    if (!inflate) inflate = MakeInflateWorkspace();
    size_t at = 0;
    InflateIo io;
    io.read = [&](uint8_t* buf, size_t cap) {
        size_t n = std::min(cap, block.size() - at);
        std::memcpy(buf, block.data() + at, n);
        at += n;
        return n;
    };
    size_t skip = history.size();
    size_t produced = 0;
    io.write = [&](const uint8_t* data, size_t size) {
        size_t drop = std::min(skip, size);
        skip -= drop;
        produced += size - drop;
        if (produced > kMsZipBlockOut) throw BlockTooLarge{};  // a bomb, not a block
        pending.insert(pending.end(), data + drop, data + size);
    };
    try {
        if (Inflate(io, *inflate).status != InflateStatus::kOk) return kLzErrorRead;
    } catch (const BlockTooLarge&) {
        return kLzErrorBadValue;
    }
    history.insert(history.end(), pending.end() - static_cast<ptrdiff_t>(produced), pending.end());
    if (history.size() > kMsZipBlockOut)
        history.erase(history.begin(), history.end() - static_cast<ptrdiff_t>(kMsZipBlockOut));
    return 0;
}

int LzFile::Refill() {
    // Bytes not handed out yet stay in front of the new ones.
    pending.erase(pending.begin(), pending.begin() + static_cast<ptrdiff_t>(pending_at));
    pending_at = 0;
    switch (mode) {
        case Mode::kPlain:
        case Mode::kStored:
        case Mode::kXor: {
            uint8_t buf[4096];
            size_t n = 0;
            for (; n < sizeof buf; ++n) {
                int c = NextByte();
                if (c < 0) break;
                buf[n] = static_cast<uint8_t>(mode == Mode::kXor ? c ^ 0xFF : c);
            }
            if (n == 0) done = true;
            pending.insert(pending.end(), buf, buf + n);
            return in_error ? kLzErrorRead : 0;
        }
        case Mode::kSzdd:
        case Mode::kLzss:
            return DecodeLzss();
        case Mode::kMsZip:
            return DecodeMsZipBlock();
    }
    return kLzErrorUnknownAlg;
}

void LzFileDeleter::operator()(LzFile* file) const {
    std::default_delete<LzFile>()(file);
}

LzHandle LzInit(int fd, int& error) {
    error = 0;
    if (fd < 0) {
        error = kLzErrorBadInHandle;
        return nullptr;
    }
    std::vector<uint8_t> head;
    if (!ReadHead(fd, kKwajHeaderMax, head)) {
        error = kLzErrorRead;
        return nullptr;
    }
    Header hdr;
    if (int rc = ParseHeader(head, hdr); rc != 0) {
        error = rc;
        return nullptr;
    }
    if (::lseek(fd, static_cast<off_t>(hdr.data_offset), SEEK_SET) < 0) {
        error = kLzErrorRead;
        return nullptr;
    }
    LzHandle file(std::make_unique<LzFile>().release());
    file->fd = fd;
    file->mode = hdr.mode;
    if (hdr.mode != Mode::kPlain) file->length = hdr.length;
    file->window.fill(' ');
    file->wpos = kWindowSize - 16;
    return file;
}

long LzRead(LzFile& file, std::span<uint8_t> out) {
    if (file.failed) return kLzErrorRead;
    size_t total = 0;
    // The data decides where the output ends, not the header's length (bar a stray byte):
    // a caller compares the two, so a header that disagrees is reported, not obeyed.
    size_t want = out.size();
    while (total < want) {
        uint64_t at = file.handed_out + total;
        if (file.length && at == *file.length && !file.past_length) {
            // The header's length is reached: see whether more than a stray byte follows.
            while (!file.done && file.pending.size() - file.pending_at < 2) {
                if (int rc = file.Refill(); rc != 0) {
                    file.failed = true;
                    return rc;
                }
            }
            if (file.pending.size() - file.pending_at < 2) {
                file.pending_at = file.pending.size();
                file.done = true;
                break;
            }
            file.past_length = true;
        }
        if (file.pending_at == file.pending.size()) {
            if (file.done) break;
            if (int rc = file.Refill(); rc != 0) {
                file.failed = true;
                return rc;
            }
            continue;
        }
        size_t n = std::min(want - total, file.pending.size() - file.pending_at);
        if (file.length && !file.past_length)
            n = static_cast<size_t>(std::min<uint64_t>(n, *file.length - at));
        std::memcpy(out.data() + total, file.pending.data() + file.pending_at, n);
        file.pending_at += n;
        total += n;
    }
    file.handed_out += total;
    return static_cast<long>(total);
}

std::optional<std::string> GetExpandedName(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    std::vector<uint8_t> head;
    bool ok = ReadHead(fd, kKwajHeaderMax, head);
    ::close(fd);
    Header hdr;
    if (!ok || ParseHeader(head, hdr) != 0 || (!hdr.szdd && !hdr.kwaj)) return std::nullopt;
    std::string base = path.substr(path.find_last_of('/') + 1);
    std::string result;
    if (hdr.szdd) {
        result = base;
        if (!result.empty() && result.back() == '_') {
            if (hdr.szdd_last_char == 0) return std::nullopt;
            result.back() = static_cast<char>(hdr.szdd_last_char);
        }
    } else if (hdr.has_name) {
        result = hdr.name;
        if (hdr.has_extension && !hdr.extension.empty()) result += "." + hdr.extension;
    } else {
        size_t dot = base.find_last_of('.');
        result = hdr.has_extension ? base.substr(0, dot) + "." + hdr.extension : base;
    }
    // Only a plain base name may come out of a header: no folders, no "." or "..".
    for (char& c : result)
        if (c == '/' || c == '\\' || c == ':') c = '_';
    if (result.empty() || result == "." || result == "..") return std::nullopt;
    return result;
}

}  // namespace engine
