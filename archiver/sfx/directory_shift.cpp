#include "archiver/sfx/directory_shift.h"

#include <optional>
#include <vector>

#include "archiver/engine/unzip/zip64_records.h"
#include "archiver/engine/unzip/zip_records.h"

namespace sfx {

namespace {

// The place of the 64-bit local offset inside a header's 0x0001 field: after the sizes that
// are at their marks, in the field's fixed order.
std::optional<size_t> Zip64OffsetAt(std::span<uint8_t> extra, const engine::CentralHeader& h) {
    size_t i = 0;
    while (i + 4 <= extra.size()) {
        uint16_t id = engine::Get16(&extra[i]);
        size_t size = engine::Get16(&extra[i + 2]);
        if (size > extra.size() - i - 4) return std::nullopt;
        if (id == engine::kExtraZip64) {
            size_t at = 0;
            if (h.uncompressed_size == engine::kZip64Mark32) at += 8;
            if (h.compressed_size == engine::kZip64Mark32) at += 8;
            if (size < at + 8) return std::nullopt;
            return i + 4 + at;
        }
        i += 4 + size;
    }
    return std::nullopt;
}

}  // namespace

bool ShiftCentralDirectory(std::span<uint8_t> block, uint64_t entries, uint64_t delta,
                           std::string& why) {
    // Where each offset lies and its new value, found first so that a damaged header leaves
    // the block as it was.
    struct Change {
        size_t at;
        uint64_t value;
        bool wide;
    };
    std::vector<Change> changes;
    size_t pos = 0;
    for (uint64_t n = 0; n < entries; ++n) {
        if (block.size() - pos < engine::kCentralSize ||
            engine::Get32(&block[pos]) != engine::kCentralSig) {
            why = "the central directory is damaged";
            return false;
        }
        engine::CentralHeader h =
            engine::ParseCentral(std::span<const uint8_t, engine::kCentralFixed>(
                &block[pos + 4], engine::kCentralFixed));
        size_t var = size_t{h.name_length} + h.extra_length + h.comment_length;
        if (block.size() - pos - engine::kCentralSize < var) {
            why = "the central directory is damaged";
            return false;
        }
        std::string name(reinterpret_cast<const char*>(&block[pos + engine::kCentralSize]),
                         h.name_length);
        if (h.local_offset == engine::kZip64Mark32) {
            std::span<uint8_t> extra =
                block.subspan(pos + engine::kCentralSize + h.name_length, h.extra_length);
            std::optional<size_t> at = Zip64OffsetAt(extra, h);
            if (!at) {
                why = name + ": its 64-bit offset field is damaged";
                return false;
            }
            size_t field = pos + engine::kCentralSize + h.name_length + *at;
            uint64_t old = engine::Get64(&block[field]);
            if (old > UINT64_MAX - delta) {
                why = name + ": its offset is too large";
                return false;
            }
            changes.push_back({field, old + delta, true});
        } else {
            uint64_t moved = uint64_t{h.local_offset} + delta;
            if (engine::Needs64(moved)) {
                why = name + ": its offset would no longer fit the archive's 32-bit field";
                return false;
            }
            changes.push_back({pos + 4 + 38, moved, false});
        }
        pos += engine::kCentralSize + var;
    }
    for (const Change& c : changes) {
        if (c.wide)
            engine::Put64(&block[c.at], c.value);
        else
            engine::Put32(&block[c.at], static_cast<uint32_t>(c.value));
    }
    return true;
}

bool ShiftEndRecord(std::span<uint8_t> record, uint64_t delta) {
    if (record.size() < engine::kEndSize) return false;
    uint32_t offset = engine::Get32(&record[16]);
    if (offset == engine::kZip64Mark32) return true;
    uint64_t moved = uint64_t{offset} + delta;
    if (engine::Needs64(moved)) return false;
    engine::Put32(&record[16], static_cast<uint32_t>(moved));
    return true;
}

void ShiftEnd64Record(std::span<uint8_t> record, uint64_t delta) {
    if (record.size() < engine::kEnd64Size) return;
    engine::Put64(&record[48], engine::Get64(&record[48]) + delta);
}

void ShiftLocator64(std::span<uint8_t> locator, uint64_t delta) {
    if (locator.size() < engine::kLocator64Size) return;
    engine::Put64(&locator[8], engine::Get64(&locator[8]) + delta);
}

}  // namespace sfx
