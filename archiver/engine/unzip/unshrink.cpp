#include "archiver/engine/unzip/unshrink.h"

#include <algorithm>
#include <array>
#include <bit>
#include <vector>

namespace engine {
namespace {

constexpr unsigned kMaxCodeSize = 13;
constexpr uint32_t kCodeLimit = 8192;
constexpr uint32_t kControl = 256;
constexpr uint32_t kFirstFree = 257;
constexpr uint16_t kFree = 0xFFFF;

class Unshrinker {
public:
    Unshrinker(const OldMethodIo& io, uint64_t size)
        : io_(io), in_(io), size_(size), prefix_(kCodeLimit + 1, kFree), suffix_(kCodeLimit + 1) {
        for (uint32_t c = 0; c < kControl; ++c) suffix_[c] = static_cast<uint8_t>(c);
        for (uint32_t c = 0; c < kFirstFree; ++c) used_[c / 64] |= uint64_t{1} << (c % 64);
        stack_.reserve(kCodeLimit);
        out_.reserve(kBlock + kCodeLimit + 1);
    }

    OldMethodResult Run() {
        uint32_t code = 0;
        if (size_ == 0 || !in_.Get(code_size_, &code)) return Finish(OldMethodStatus::kOk);
        if (code >= kControl) return Finish(OldMethodStatus::kBadData);
        uint32_t previous = code;
        uint8_t first = static_cast<uint8_t>(code);
        Put(first);
        while (produced_ < size_) {
            if (!in_.Get(code_size_, &code)) break;  // the input's end ends the member
            if (code == kControl) {
                OldMethodStatus s = Control();
                if (s != OldMethodStatus::kOk) return Finish(s);
                continue;
            }
            // A free code can only be the one this step defines: its string is the previous
            // string plus that string's first byte.
            stack_.clear();
            uint32_t c = code;
            if (c >= kFirstFree && prefix_[c] == kFree) {
                if (c != next_free_) return Finish(OldMethodStatus::kBadData);
                stack_.push_back(first);
                c = previous;
            }
            while (c >= kFirstFree) {
                // A chain longer than the table has codes loops, and a freed code in it is
                // damage; both would otherwise run without end or read stale entries.
                if (prefix_[c] == kFree || stack_.size() >= kCodeLimit)
                    return Finish(OldMethodStatus::kBadData);
                stack_.push_back(suffix_[c]);
                c = prefix_[c];
            }
            if (c == kControl) return Finish(OldMethodStatus::kBadData);
            first = static_cast<uint8_t>(c);
            stack_.push_back(first);
            PutReversed();

            if (next_free_ < kCodeLimit) {
                Assign(next_free_, previous, first);
                AdvanceFree(next_free_ + 1);
            }
            previous = code;
        }
        return Finish(OldMethodStatus::kOk);
    }

private:
    static constexpr size_t kBlock = 32 * 1024;

    // After code 256: 1 widens the codes, 2 frees every code that is no other code's prefix.
    OldMethodStatus Control() {
        uint32_t sub = 0;
        if (!in_.Get(code_size_, &sub)) return OldMethodStatus::kTruncated;
        if (sub == 1) {
            if (code_size_ >= kMaxCodeSize) return OldMethodStatus::kBadData;
            ++code_size_;
            return OldMethodStatus::kOk;
        }
        if (sub == 2) {
            PartialClear();
            return OldMethodStatus::kOk;
        }
        return OldMethodStatus::kBadData;
    }

    // Defines code c as the string of code p plus byte b.
    void Assign(uint32_t c, uint32_t p, uint8_t b) {
        prefix_[c] = static_cast<uint16_t>(p);
        suffix_[c] = b;
        used_[c / 64] |= uint64_t{1} << (c % 64);
        if (p >= kFirstFree) ++children_[p];
        MaybeLeaf(c);
    }

    // Notes a code that may have become a leaf (a code in use that is no code's prefix).
    void MaybeLeaf(uint32_t c) {
        if (!listed_[c]) {
            listed_[c] = true;
            leaves_.push_back(static_cast<uint16_t>(c));
        }
    }

    // Frees every code in use that is no other code's prefix, over the whole table (after an
    // earlier clear, codes in use can lie above the next free code). The leaves are kept in
    // a list as they appear, so that a clear costs what it frees, not the table's size: a
    // stream of nothing but clears must not take time in proportion to the table each time.
    void PartialClear() {
        std::vector<uint16_t> freeing;
        for (uint16_t c : leaves_) {
            listed_[c] = false;
            if (prefix_[c] != kFree && children_[c] == 0) freeing.push_back(c);
        }
        leaves_.clear();
        for (uint16_t c : freeing) {
            uint32_t p = prefix_[c];
            prefix_[c] = kFree;
            used_[c / 64] &= ~(uint64_t{1} << (c % 64));
            if (p >= kFirstFree && --children_[p] == 0 && prefix_[p] != kFree) MaybeLeaf(p);
        }
        AdvanceFree(kFirstFree);
    }

    // The first free code from `from` upward, or the code limit.
    void AdvanceFree(uint32_t from) {
        for (uint32_t word = from / 64; word < kCodeLimit / 64; ++word) {
            uint64_t free = ~used_[word];
            if (word == from / 64) free &= ~uint64_t{0} << (from % 64);
            if (free != 0) {
                next_free_ = word * 64 + static_cast<uint32_t>(std::countr_zero(free));
                return;
            }
        }
        next_free_ = kCodeLimit;
    }

    void Put(uint8_t b) {
        if (produced_ >= size_) return;
        out_.push_back(b);
        ++produced_;
        if (out_.size() == kBlock) Flush();
    }
    // Appends the string on the stack (built last byte first), cut at the declared size.
    void PutReversed() {
        size_t n = static_cast<size_t>(std::min<uint64_t>(stack_.size(), size_ - produced_));
        out_.insert(out_.end(), stack_.rbegin(), stack_.rbegin() + static_cast<long>(n));
        produced_ += n;
        if (out_.size() >= kBlock) Flush();
    }
    void Flush() {
        if (!out_.empty()) io_.write(out_.data(), out_.size());
        out_.clear();
    }
    OldMethodResult Finish(OldMethodStatus s) {
        Flush();
        return {s, produced_};
    }

    const OldMethodIo& io_;
    OldMethodBits in_;
    uint64_t size_;
    uint64_t produced_ = 0;
    unsigned code_size_ = 9;
    uint32_t next_free_ = kFirstFree;
    std::vector<uint16_t> prefix_;
    std::vector<uint16_t> children_ = std::vector<uint16_t>(kCodeLimit + 1, 0);
    std::vector<bool> listed_ = std::vector<bool>(kCodeLimit + 1, false);
    std::vector<uint16_t> leaves_;                  // may include codes that gained children
    std::array<uint64_t, kCodeLimit / 64> used_{};  // codes in use, 0-256 always
    std::vector<uint8_t> suffix_;
    std::vector<uint8_t> stack_;
    std::vector<uint8_t> out_;
};

}  // namespace

OldMethodResult Unshrink(const OldMethodIo& io, uint64_t size) {
    return Unshrinker(io, size).Run();
}

}  // namespace engine
