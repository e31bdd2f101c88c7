#include "archiver/engine/unzip/extra_fields.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace engine {
namespace {

std::vector<uint8_t> Field(uint16_t id, std::vector<uint8_t> data) {
    // Built in place: gcc at -O3 takes an insert after a 4-byte start for an overrun.
    std::vector<uint8_t> f(4 + data.size());
    f[0] = static_cast<uint8_t>(id);
    f[1] = static_cast<uint8_t>(id >> 8);
    f[2] = static_cast<uint8_t>(data.size());
    f[3] = static_cast<uint8_t>(data.size() >> 8);
    std::copy(data.begin(), data.end(), f.begin() + 4);
    return f;
}

std::vector<uint8_t> Ntfs(uint64_t ticks) {
    std::vector<uint8_t> d = {0, 0, 0, 0, 1, 0, 24, 0};
    for (int i = 0; i < 8; ++i) d.push_back(static_cast<uint8_t>(ticks >> (8 * i)));
    d.resize(d.size() + 16);  // access and creation times
    return Field(kExtraNtfs, d);
}

std::vector<uint8_t> Cat(std::vector<uint8_t> a, const std::vector<uint8_t>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

TEST(ExtraFields, ModificationTime) {
    // 2001-02-03 04:05:07 UTC.
    const int64_t t = 981173107;
    const uint64_t ticks = (uint64_t(t) + 11644473600u) * 10000000u + 1234567;
    struct Case {
        const char* what;
        std::vector<uint8_t> extra;
        std::optional<int64_t> want;
    } cases[] = {
        {"none", {}, std::nullopt},
        {"extended time", ExtendedTimeField(t), t},
        {"extended time, local form with access time",
         Field(kExtraExtendedTime, {3, 0x73, 0x83, 0x7b, 0x3a, 1, 2, 3, 4}), t},
        {"extended time without the mtime flag", Field(kExtraExtendedTime, {2, 1, 2, 3, 4}),
         std::nullopt},
        {"extended time too short", Field(kExtraExtendedTime, {1, 1, 2}), std::nullopt},
        {"negative time", Field(kExtraExtendedTime, {1, 0xff, 0xff, 0xff, 0xff}), -1},
        {"NTFS", Ntfs(ticks), t},
        {"NTFS after another field", Cat(Field(0x7875, {1, 4, 0, 0, 0, 0}), Ntfs(ticks)), t},
        {"extended time preferred over NTFS", Cat(Ntfs(ticks + 50000000), ExtendedTimeField(t)), t},
        {"a field running past the block", {0x55, 0x54, 9, 0, 1, 0x73}, std::nullopt},
        {"NTFS tag longer than its field", Field(kExtraNtfs, {0, 0, 0, 0, 1, 0, 24, 0, 1}),
         std::nullopt},
    };
    for (const Case& c : cases) EXPECT_EQ(ExtraFieldMtime(c.extra), c.want) << c.what;
    EXPECT_TRUE(ExtendedTimeField(int64_t{1} << 32).empty());
}

TEST(ExtraFields, UnixMode) {
    EXPECT_EQ(MemberUnixMode(0x0314, 0x81ED0000u), 0100755u);
    EXPECT_EQ(MemberUnixMode(0x0014, 0x81ED0020u), std::nullopt);  // made on MS-DOS
    EXPECT_EQ(MemberUnixMode(0x0314, 0x20u), std::nullopt);        // no mode recorded
    EXPECT_TRUE(IsLinkMode(0120777u));
    EXPECT_FALSE(IsLinkMode(0100777u));
    EXPECT_FALSE(IsLinkMode(std::nullopt));
    // Never setuid, setgid or sticky; the umask applies.
    EXPECT_EQ(PermissionsToRestore(0107755u, 022), 0755u);
    EXPECT_EQ(PermissionsToRestore(0100666u, 027), 0640u);
}

TEST(ExtraFields, LinkTargets) {
    struct Case {
        const char* target;
        size_t depth;
        bool inside;
    } cases[] = {
        {"file", 0, true},
        {"./sub/file", 0, true},
        {"../lib/libx.so", 1, true},
        {"../../x", 1, false},
        {"..", 0, false},
        {"/etc/passwd", 3, false},
        {"", 0, false},
        {"a/../../x", 5, false},  // ".." after a name could climb through a
                                  // link
        {"a/..", 5, false},
        {"..//../x", 2, true},
    };
    for (const Case& c : cases)
        EXPECT_EQ(LinkTargetStaysInside(c.target, c.depth), c.inside) << c.target;
}

}  // namespace
}  // namespace engine
