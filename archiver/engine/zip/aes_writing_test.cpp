#include "archiver/engine/zip/aes_writing.h"

#include <gtest/gtest.h>

#include "archiver/engine/unzip/aes_field.h"
#include "archiver/engine/unzip/zip_records.h"

namespace zip {
namespace {

// The fields a member ends with: what a reader sees in its headers.
TEST(AesWriting, TheMethodMovesIntoTheFieldOnceAndSmallMembersDropTheirCrc) {
    struct Case {
        uint64_t size;
        uint16_t method_chosen;  // what the compressor settled on
        uint16_t version;
        uint32_t crc;
    } cases[] = {{0, 0, engine::kAesVersion2, 0},
                 {19, 8, engine::kAesVersion2, 0},
                 {20, 0, engine::kAesVersion1, 0x1234},
                 {1 << 20, 8, engine::kAesVersion1, 0x1234}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.size);
        Member m;
        m.method = kMethodDeflated;  // as planned before the data
        MarkAesMember(m, engine::kAes192, c.size);
        EXPECT_TRUE(m.flags & engine::kFlagEncrypted);
        EXPECT_TRUE(IsAesMember(m));
        m.method = c.method_chosen;
        m.crc = 0x1234;
        ApplyAesMethod(m);
        ApplyAesMethod(m);  // a second call (another copy's path) changes nothing
        EXPECT_EQ(m.method, engine::kMethodAes);
        EXPECT_EQ(m.version_needed, 51);
        EXPECT_EQ(m.crc, c.crc);
        for (const auto* extra : {&m.local_extra, &m.central_extra}) {
            engine::AesField f;
            ASSERT_EQ(engine::ReadAesField(*extra, f), engine::AesFieldStatus::kOk);
            EXPECT_EQ(f.method, c.method_chosen);
            EXPECT_EQ(f.version, c.version);
            EXPECT_EQ(f.strength, engine::kAes192);
        }
    }
    Member plain;
    plain.method = kMethodDeflated;
    ApplyAesMethod(plain);
    EXPECT_EQ(plain.method, kMethodDeflated);
    EXPECT_FALSE(IsAesMember(plain));
}

}  // namespace
}  // namespace zip
