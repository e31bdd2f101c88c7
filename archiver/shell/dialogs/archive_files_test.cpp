// Moving, copying and renaming the archive file: nothing is lost or half-written.
#include "archiver/shell/dialogs/archive_files.h"

#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace dialogs {
namespace {

struct TempDir {
    std::string path;
    explicit TempDir(const char* base = "/tmp") {
        std::string tmpl = std::string(base) + "/archive_files_test.XXXXXX";
        path = ::mkdtemp(tmpl.data()) ? tmpl : std::string();
    }
    ~TempDir() {
        if (!path.empty())
            std::system(("chmod -R u+w '" + path + "'; rm -rf '" + path + "'").c_str());
    }
    std::string Write(const std::string& name, const std::string& bytes) const {
        const std::string p = path + "/" + name;
        std::ofstream(p, std::ios::binary) << bytes;
        return p;
    }
    size_t Count() const {
        size_t n = 0;
        if (DIR* d = ::opendir(path.c_str())) {
            while (dirent* e = ::readdir(d)) n += e->d_name[0] != '.' || e->d_name[1] > '.';
            ::closedir(d);
        }
        return n;
    }
};

std::string Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

std::string Big() {
    std::string s;
    for (int i = 0; i < 300000; ++i) s += static_cast<char>(i * 31 + (i >> 8));
    return s;
}

TEST(ArchiveFiles, CopyKeepsContentsModeAndRefusesToOverwrite) {
    TempDir t;
    const std::string data = Big();
    const std::string src = t.Write("a.zip", data);
    ::chmod(src.c_str(), 0640);
    ASSERT_EQ(CopyArchiveFile(src, t.path + "/b.zip", false), 0);
    EXPECT_EQ(Read(t.path + "/b.zip"), data);
    struct stat st;
    ASSERT_EQ(::stat((t.path + "/b.zip").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);

    const std::string other = t.Write("c.zip", "keep me");
    EXPECT_EQ(CopyArchiveFile(src, other, false), EEXIST);
    EXPECT_EQ(Read(other), "keep me");
    ASSERT_EQ(CopyArchiveFile(src, other, true), 0);
    EXPECT_EQ(Read(other), data);
    EXPECT_EQ(CopyArchiveFile(src, src, true), EINVAL);  // onto itself: nothing destroyed
    EXPECT_EQ(Read(src), data);
    EXPECT_EQ(t.Count(), 3u);  // no temporary file left
}

TEST(ArchiveFiles, FailedCopyLeavesNothingBehind) {
    TempDir t;
    const std::string src = t.Write("a.zip", "data");
    EXPECT_EQ(CopyArchiveFile(src, t.path + "/missing/b.zip", false), ENOENT);
    EXPECT_EQ(CopyArchiveFile(t.path + "/none.zip", t.path + "/b.zip", false), ENOENT);
    EXPECT_EQ(CopyArchiveFile(t.path, t.path + "/b.zip", false), EINVAL);  // a folder
    EXPECT_EQ(t.Count(), 1u);
    if (::geteuid() != 0) {
        ::mkdir((t.path + "/ro").c_str(), 0500);
        EXPECT_EQ(CopyArchiveFile(src, t.path + "/ro/b.zip", false), EACCES);
        EXPECT_EQ(MoveArchiveFile(src, t.path + "/ro/b.zip", false), EACCES);
        EXPECT_EQ(Read(src), "data");
    }
    if (::access("/dev/full", W_OK) == 0) {
        // A write that fails midway: the target never appears.
        EXPECT_NE(CopyArchiveFile("/dev/full", t.path + "/b.zip", false), 0);
    }
    EXPECT_FALSE(PathExists(t.path + "/b.zip"));
}

TEST(ArchiveFiles, MoveAndRename) {
    TempDir t;
    const std::string src = t.Write("a.zip", "data");
    ::mkdir((t.path + "/sub").c_str(), 0700);
    const std::string target = ResolveTarget(src, t.path + "/sub");
    EXPECT_EQ(target, t.path + "/sub/a.zip");
    EXPECT_EQ(ResolveTarget(src, t.path + "/sub/"), t.path + "/sub/a.zip");
    EXPECT_EQ(ResolveTarget(src, t.path + "/new.zip"), t.path + "/new.zip");
    ASSERT_EQ(MoveArchiveFile(src, target, false), 0);
    EXPECT_FALSE(PathExists(src));
    EXPECT_EQ(Read(target), "data");

    const std::string blocker = t.Write("b.zip", "other");
    EXPECT_EQ(MoveArchiveFile(target, blocker, false), EEXIST);
    EXPECT_EQ(Read(blocker), "other");
    EXPECT_EQ(Read(target), "data");
    EXPECT_EQ(MoveArchiveFile(target, target, true), EINVAL);
    EXPECT_EQ(Read(target), "data");

    const struct {
        const char* name;
        const char* want;
    } renames[] = {{"c.zip", "/sub/c.zip"},
                   {"", ""},
                   {".", ""},
                   {"..", ""},
                   {"x/y.zip", ""},
                   {"../up.zip", ""},
                   {"with space.zip", "/sub/with space.zip"}};
    for (const auto& r : renames) {
        const std::string got = RenamedPath(target, r.name);
        EXPECT_EQ(got, *r.want ? t.path + r.want : std::string()) << r.name;
    }
}

TEST(ArchiveFiles, MoveAcrossFileSystems) {
    struct stat a, b;
    if (::stat("/tmp", &a) != 0 || ::stat("/dev/shm", &b) != 0 || a.st_dev == b.st_dev)
        GTEST_SKIP() << "/tmp and /dev/shm are one file system here";
    TempDir from("/tmp"), to("/dev/shm");
    ASSERT_FALSE(to.path.empty());
    const std::string data = Big();
    const std::string src = from.Write("a.zip", data);
    ASSERT_EQ(MoveArchiveFile(src, to.path + "/a.zip", false), 0);
    EXPECT_EQ(Read(to.path + "/a.zip"), data);
    EXPECT_FALSE(PathExists(src));
}

}  // namespace
}  // namespace dialogs
