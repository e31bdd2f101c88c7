#include "archiver/engine/unzip/unix_compress.h"

#include <algorithm>
#include <vector>

namespace engine {

namespace {

constexpr unsigned kFirstWidth = 9;
constexpr unsigned kMaxWidth = 16;
constexpr unsigned kClear = 256;
constexpr size_t kInBlock = 28672;
constexpr size_t kOutBlock = 28672;

// Input bits, least significant first, over a buffer refilled from the source. Codes of one
// width come in groups of eight (as many bytes as the width has bits); a width change or a
// table clear skips the rest of the current group.
class CodeReader {
public:
    explicit CodeReader(const UnixCompressIo& io) : io_(io), buf_(kInBlock + 64) {}

    // The next code of `width` bits; false at the end of the input (a partial code at the end
    // is padding and is dropped).
    bool Next(unsigned width, uint32_t& code) {
        while (bits_ < width) {
            if (pos_ == len_ && !Refill()) return false;
            acc_ |= static_cast<uint64_t>(buf_[pos_++]) << bits_;
            bits_ += 8;
        }
        code = static_cast<uint32_t>(acc_ & ((1u << width) - 1));
        acc_ >>= width;
        bits_ -= width;
        ++in_group_;
        return true;
    }

    // Skips to the end of the current group of eight codes of `width` bits.
    void EndGroup(unsigned width) {
        uint64_t skip = (8 - in_group_ % 8) % 8 * width;
        in_group_ = 0;
        while (skip > 0) {
            if (bits_ == 0) {
                if (pos_ == len_ && !Refill()) return;
                acc_ = buf_[pos_++];
                bits_ = 8;
            }
            unsigned n = static_cast<unsigned>(std::min<uint64_t>(skip, bits_));
            acc_ >>= n;
            bits_ -= n;
            skip -= n;
        }
    }

    // True when the input ended inside a code: a writer pads only the last byte, with zero
    // bits, so a whole byte or set bits left over mean the stream was cut.
    bool EndedInsideCode() const {
        return bits_ >= 8 || (acc_ & ((uint64_t{1} << bits_) - 1)) != 0;
    }

    // One byte of the header; false at the end.
    bool Byte(uint8_t& b) {
        if (pos_ == len_ && !Refill()) return false;
        b = buf_[pos_++];
        return true;
    }

private:
    bool Refill() {
        if (ended_) return false;
        len_ = io_.read(buf_.data(), kInBlock);
        pos_ = 0;
        if (len_ == 0) ended_ = true;
        return len_ > 0;
    }

    const UnixCompressIo& io_;
    std::vector<uint8_t> buf_;
    size_t pos_ = 0;
    size_t len_ = 0;
    uint64_t acc_ = 0;
    unsigned bits_ = 0;
    uint64_t in_group_ = 0;
    bool ended_ = false;
};

}  // namespace

const char* DecodeUnixCompress(const UnixCompressIo& io) {
    CodeReader in(io);
    uint8_t magic0 = 0, magic1 = 0, flags = 0;
    if (!in.Byte(magic0) || !in.Byte(magic1) || magic0 != 0x1F || magic1 != 0x9D)
        return "corrupt input.";
    if (!in.Byte(flags)) return "corrupt input.";
    if (flags & 0x60) return "unknown flags";
    unsigned max_width = flags & 0x1F;
    if (max_width > kMaxWidth) return "compressed with too many bits";
    // A width below the first has no codes beyond the literals; the table never grows.
    bool block_mode = flags & 0x80;
    uint32_t table_limit = max_width >= kFirstWidth ? 1u << max_width : 1u << kFirstWidth;
    unsigned top_width = max_width >= kFirstWidth ? max_width : kFirstWidth;

    // The tables grow with the codes the stream defines (at most `table_limit`), so a short
    // stream costs what it uses rather than the tables of the widest codes.
    uint32_t first_free = block_mode ? 257 : 256;
    std::vector<uint16_t> prefix(first_free);
    std::vector<uint8_t> suffix(first_free);
    std::vector<uint8_t> stack;
    for (uint32_t i = 0; i < 256; ++i) suffix[i] = static_cast<uint8_t>(i);
    // A block and one whole string behind it.
    std::vector<uint8_t> out;
    auto flush = [&] {
        if (!out.empty()) io.write(out.data(), out.size());
        out.clear();
    };

    unsigned width = kFirstWidth;
    uint32_t max_code = (1u << width) - 1;
    uint32_t free_code = first_free;
    bool have_old = false;
    uint32_t old_code = 0;
    uint8_t first_byte = 0;
    for (;;) {
        if (free_code > max_code && width < top_width) {
            in.EndGroup(width);
            ++width;
            max_code = width == top_width ? table_limit : (1u << width) - 1;
        }
        uint32_t code;
        if (!in.Next(width, code)) {
            if (in.EndedInsideCode()) {
                flush();
                return "corrupt input.";
            }
            break;
        }
        if (code == kClear && block_mode) {
            in.EndGroup(width);
            width = kFirstWidth;
            max_code = (1u << width) - 1;
            free_code = first_free;
            have_old = false;
            continue;
        }
        if (!have_old) {
            // The first code of a table is a literal.
            if (code >= 256) {
                flush();
                return "corrupt input.";
            }
            have_old = true;
            old_code = code;
            first_byte = static_cast<uint8_t>(code);
            out.push_back(first_byte);
            continue;
        }
        stack.clear();
        uint32_t c = code;
        if (c >= free_code) {
            if (c > free_code) {
                flush();
                return "corrupt input.";
            }
            // The string being defined: the previous one plus its own first byte.
            stack.push_back(first_byte);
            c = old_code;
        }
        // Every prefix is below its own code, so this walk ends within the table's size.
        while (c >= 256) {
            stack.push_back(suffix[c]);
            c = prefix[c];
        }
        first_byte = static_cast<uint8_t>(c);
        stack.push_back(first_byte);
        out.insert(out.end(), stack.rbegin(), stack.rend());
        if (out.size() >= kOutBlock) flush();
        if (free_code < table_limit) {
            // Codes are defined in order, each one past the last, or again after a clear.
            if (free_code == prefix.size()) {
                prefix.push_back(static_cast<uint16_t>(old_code));
                suffix.push_back(first_byte);
            } else {
                prefix[free_code] = static_cast<uint16_t>(old_code);
                suffix[free_code] = first_byte;
            }
            ++free_code;
        }
        old_code = code;
    }
    flush();
    return nullptr;
}

}  // namespace engine
