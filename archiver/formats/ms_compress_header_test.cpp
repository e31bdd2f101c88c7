#include "archiver/formats/ms_compress_header.h"

#include <gtest/gtest.h>

#include "archiver/engine/unzip/test_util.h"

namespace formats {
namespace {

using engine::testing_util::TempDir;
using engine::testing_util::WriteFile;
using Bytes = std::vector<uint8_t>;

Bytes Szdd(uint8_t last, uint32_t size) {
    Bytes b = {'S', 'Z', 'D', 'D', 0x88, 0xF0, 0x27, 0x33, 'A', last};
    for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(size >> (8 * i)));
    return b;
}

Bytes Kwaj(uint16_t flags, const Bytes& fields, const Bytes& data) {
    Bytes b = {'K', 'W', 'A', 'J', 0x88, 0xF0, 0x27, 0xD1, 0, 0};
    uint16_t offset = static_cast<uint16_t>(14 + fields.size());
    b.push_back(static_cast<uint8_t>(offset));
    b.push_back(static_cast<uint8_t>(offset >> 8));
    b.push_back(static_cast<uint8_t>(flags));
    b.push_back(static_cast<uint8_t>(flags >> 8));
    b.insert(b.end(), fields.begin(), fields.end());
    b.insert(b.end(), data.begin(), data.end());
    return b;
}

// Names and sizes as the listing shows them; the KWAJ length taken only when flagged.
TEST(MsCompressHeader, NameAndSize) {
    TempDir dir;
    struct Case {
        const char* file;
        Bytes content;
        bool ok;
        std::optional<std::string> name;
        uint64_t size;
    } cases[] = {
        {"setup.ex_", Szdd('E', 1234), true, "setup.exE", 1234},
        {"notes.txt_", Szdd(0, 99), true, std::nullopt, 99},  // the packer kept no character
        {"plain.bin", Szdd('x', 7), true, "plain.bin", 7},
        {"slash.tx_", Szdd('/', 7), true, std::nullopt, 7},
        {"len.kwj", Kwaj(0x0009, {5, 0, 0, 0, 'o', 'u', 't', 0}, {1, 2, 3, 4, 5}), true, "out", 5},
        // No length flag: the bytes at offset 14 are the name, not a length; the size is
        // counted by expanding.
        {"nolen.kwj", Kwaj(0x0008, {'a', 'b', 'c', 0}, {1, 2, 3}), true, "abc", 3},
        {"cut.kwj", Kwaj(0x0001, {5, 0}, {}), false, std::nullopt, 0},
        {"other.bin", Bytes(20, 'z'), false, std::nullopt, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        WriteFile(dir / c.file, c.content);
        MsCompressInfo info;
        std::string error;
        ASSERT_EQ(ReadMsCompressInfo(dir / c.file, info, error), c.ok);
        if (!c.ok) {
            EXPECT_EQ(error,
                      "Either this file is corrupted or you need a newer version of "
                      "LZEXPAND.DLL to handle this file");
            continue;
        }
        EXPECT_EQ(info.name, c.name);
        EXPECT_EQ(info.expanded_size, c.size);
    }
    EXPECT_EQ(DefaultExpandedName("/a/notes.txt_"), "notes.txt");
    EXPECT_EQ(DefaultExpandedName("_"), "_");
}

}  // namespace
}  // namespace formats
