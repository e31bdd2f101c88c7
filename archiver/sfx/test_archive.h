// Small zip archives made byte by byte for the tests of this folder: stored members, bytes in
// front that the offsets leave out, and the 64-bit end records when asked.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "archiver/engine/unzip/crc32.h"
#include "archiver/engine/unzip/zip64_records.h"

namespace sfx::test_archive {

using Bytes = std::vector<uint8_t>;

inline void Add16(Bytes& b, uint16_t v) {
    b.push_back(static_cast<uint8_t>(v));
    b.push_back(static_cast<uint8_t>(v >> 8));
}
inline void Add32(Bytes& b, uint32_t v) {
    Add16(b, static_cast<uint16_t>(v));
    Add16(b, static_cast<uint16_t>(v >> 16));
}
struct TestMember {
    std::string name;
    std::string data;
    uint16_t method = 0;        // stored; others are only declared
    bool zip64_offset = false;  // the central offset goes into a 0x0001 field
};

// A small archive of stored members, with `junk` in front whose size the offsets leave out,
// and the 64-bit end records when `zip64` is set.
inline Bytes MakeArchive(const std::vector<TestMember>& members, bool zip64, size_t junk = 0) {
    Bytes out(junk, 'J');
    Bytes central;
    for (const TestMember& m : members) {
        uint64_t offset = out.size() - junk;
        uint32_t crc =
            engine::Crc32(0, std::span<const uint8_t>(
                                 reinterpret_cast<const uint8_t*>(m.data.data()), m.data.size()));
        Add32(out, engine::kLocalSig);
        Add16(out, 20);
        Add16(out, 0);
        Add16(out, m.method);
        Add32(out, 0x5A210000);  // time and date
        Add32(out, crc);
        Add32(out, static_cast<uint32_t>(m.data.size()));
        Add32(out, static_cast<uint32_t>(m.data.size()));
        Add16(out, static_cast<uint16_t>(m.name.size()));
        Add16(out, 0);
        out.insert(out.end(), m.name.begin(), m.name.end());
        out.insert(out.end(), m.data.begin(), m.data.end());

        Bytes extra;
        if (m.zip64_offset) extra = engine::Zip64Block(std::nullopt, std::nullopt, offset);
        Add32(central, engine::kCentralSig);
        Add16(central, 0x031E);
        Add16(central, 20);
        Add16(central, 0);
        Add16(central, m.method);
        Add32(central, 0x5A210000);
        Add32(central, crc);
        Add32(central, static_cast<uint32_t>(m.data.size()));
        Add32(central, static_cast<uint32_t>(m.data.size()));
        Add16(central, static_cast<uint16_t>(m.name.size()));
        Add16(central, static_cast<uint16_t>(extra.size()));
        Add16(central, 0);
        Add16(central, 0);
        Add16(central, 0);
        Add32(central, 0100644u << 16);
        Add32(central, m.zip64_offset ? engine::kZip64Mark32 : static_cast<uint32_t>(offset));
        central.insert(central.end(), m.name.begin(), m.name.end());
        central.insert(central.end(), extra.begin(), extra.end());
    }
    uint64_t dir_offset = out.size() - junk;
    out.insert(out.end(), central.begin(), central.end());
    if (zip64) {
        engine::End64Record e;
        e.entries_here = e.entries_total = members.size();
        e.directory_size = central.size();
        e.directory_offset = dir_offset;
        Bytes records = engine::End64AndLocator(e, out.size() - junk);
        out.insert(out.end(), records.begin(), records.end());
    }
    Add32(out, engine::kEndSig);
    Add32(out, 0);
    Add16(out, static_cast<uint16_t>(members.size()));
    Add16(out, static_cast<uint16_t>(members.size()));
    Add32(out, static_cast<uint32_t>(central.size()));
    Add32(out, zip64 ? engine::kZip64Mark32 : static_cast<uint32_t>(dir_offset));
    Add16(out, 0);
    return out;
}

}  // namespace sfx::test_archive
