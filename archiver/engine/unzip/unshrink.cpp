#include "archiver/engine/unzip/unshrink.h"

#include <algorithm>
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
        stack_.reserve(kCodeLimit);
        out_.reserve(kBlock);
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
            Put(first);
            for (auto it = stack_.rbegin(); it != stack_.rend() && produced_ < size_; ++it)
                Put(*it);

            if (next_free_ < kCodeLimit) {
                prefix_[next_free_] = static_cast<uint16_t>(previous);
                suffix_[next_free_] = first;
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

    // Scans the whole table, not only up to the next free code: after an earlier clear,
    // codes in use can lie above it, and leaves among them must be freed as well.
    void PartialClear() {
        std::vector<bool> leaf(kCodeLimit, false);
        for (uint32_t c = kFirstFree; c < kCodeLimit; ++c) leaf[c] = prefix_[c] != kFree;
        for (uint32_t c = kFirstFree; c < kCodeLimit; ++c)
            if (prefix_[c] != kFree && prefix_[c] >= kFirstFree) leaf[prefix_[c]] = false;
        for (uint32_t c = kFirstFree; c < kCodeLimit; ++c)
            if (leaf[c]) prefix_[c] = kFree;
        AdvanceFree(kFirstFree);
    }

    void AdvanceFree(uint32_t from) {
        next_free_ = from;
        while (next_free_ < kCodeLimit && prefix_[next_free_] != kFree) ++next_free_;
    }

    void Put(uint8_t b) {
        if (produced_ >= size_) return;
        out_.push_back(b);
        ++produced_;
        if (out_.size() == kBlock) Flush();
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
    std::vector<uint8_t> suffix_;
    std::vector<uint8_t> stack_;
    std::vector<uint8_t> out_;
};

}  // namespace

OldMethodResult Unshrink(const OldMethodIo& io, uint64_t size) {
    return Unshrinker(io, size).Run();
}

}  // namespace engine
