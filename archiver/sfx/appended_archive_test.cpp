#include "archiver/sfx/appended_archive.h"

#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <functional>
#include <string>

#include "archiver/engine/unzip/file_io.h"
#include "archiver/sfx/test_archive.h"

namespace sfx {
namespace {

using namespace sfx::test_archive;

// The bytes as an open file (an anonymous one, gone with its descriptor).
engine::UniqueFd AsFile(const Bytes& bytes) {
    engine::UniqueFd fd(::memfd_create("appended_archive_test", 0));
    EXPECT_TRUE(engine::WriteFull(fd.get(), bytes.data(), bytes.size()));
    return fd;
}

TEST(AppendedArchive, FindsTheArchiveBehindAProgramOrRefusesIt) {
    const std::vector<TestMember> members = {{"a.txt", "alpha"}, {"b/c.bin", "gamma"}};
    // A program whose own bytes hold the end record's signature, as its code may.
    Bytes program(5000, 0x90);
    const uint8_t sig[] = {'P', 'K', 5, 6};
    std::copy(std::begin(sig), std::end(sig), program.begin() + 4000);
    auto behind = [&](Bytes archive) {
        archive.insert(archive.begin(), program.begin(), program.end());
        return archive;
    };
    auto with = [](Bytes b, const std::function<void(Bytes&)>& change) {
        change(b);
        return b;
    };
    const Bytes plain = MakeArchive(members, false);
    const size_t end = plain.size() - 22;
    struct Case {
        const char* what;
        Bytes file;
        bool ok;
        int64_t preamble;
    } cases[] = {
        {"plain archive", plain, true, 0},
        {"program in front, offsets left as they were", behind(plain), true, 5000},
        {"64-bit end records behind a program", behind(MakeArchive(members, true)), true, 5000},
        {"a comment after the end record",
         with(plain,
              [&](Bytes& b) {
                  b[end + 20] = 3;
                  b.insert(b.end(), {'x', 'y', 'z'});
              }),
         true, 0},
        {"an entry count beyond the directory",
         with(plain, [&](Bytes& b) { b[end + 8] = b[end + 10] = 200; }), false, 0},
        {"a directory offset past the end record",
         with(plain, [&](Bytes& b) { b[end + 17] = 0x7F; }), false, 0},
        {"a directory size past the end record", with(plain, [&](Bytes& b) { b[end + 13] = 0x7F; }),
         false, 0},
        {"no end record", Bytes(plain.begin(), plain.begin() + static_cast<long>(end)), false, 0},
        // The last central header (46 bytes and its 7-byte name) ends where the end record
        // starts; the high byte of its name length is 29 bytes into it.
        {"a central header's name running past the directory",
         with(plain, [&](Bytes& b) { b[end - 53 + 29] = 1; }), false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        engine::UniqueFd fd = AsFile(c.file);
        AppendedArchive a;
        std::string why;
        ASSERT_EQ(ReadAppendedArchive(fd.get(), a, why), c.ok) << why;
        if (!c.ok) {
            EXPECT_FALSE(why.empty());
            continue;
        }
        EXPECT_EQ(a.preamble, c.preamble);
        ASSERT_EQ(a.members.size(), 2u);
        EXPECT_EQ(a.members[1].name, "b/c.bin");
        // The second local header follows the first: 30 bytes, the name and the data.
        EXPECT_EQ(a.members[1].local_offset, static_cast<uint64_t>(c.preamble) + 30 + 5 + 5);
    }
}

}  // namespace
}  // namespace sfx
