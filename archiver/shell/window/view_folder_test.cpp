#include "archiver/shell/window/view_folder.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

namespace window {
namespace {

namespace fs = std::filesystem;

void Write(const std::string& path, const std::string& text) {
    std::ofstream(path) << text;
}

TEST(ViewFolderTest, FolderIsPrivateAndChangedFilesAreNoticed) {
    std::string tmp = testing::TempDir() + "/view_tmp";
    fs::create_directories(tmp);
    setenv("TMPDIR", tmp.c_str(), 1);
    std::string kept;
    {
        ViewFolder v;
        std::string error;
        ASSERT_TRUE(v.Ensure(error)) << error;
        kept = v.Path();
        struct stat st;
        ASSERT_EQ(lstat(kept.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0700u);
        EXPECT_EQ(kept.rfind(tmp, 0), 0u);
        ASSERT_TRUE(v.Ensure(error));
        EXPECT_EQ(v.Path(), kept);  // one folder for the whole session

        fs::create_directories(kept + "/sub");
        Write(kept + "/a.txt", "one");
        Write(kept + "/sub/b.txt", "two");
        v.Remember(kept + "/a.txt");
        v.Remember(kept + "/sub/b.txt");
        EXPECT_TRUE(v.Changed().empty());
        Write(kept + "/sub/b.txt", "two, edited");
        EXPECT_EQ(v.Changed(), std::vector<std::string>{kept + "/sub/b.txt"});
        fs::remove(kept + "/a.txt");  // a removed file is not a change to keep
        EXPECT_EQ(v.Changed().size(), 1u);
    }
    // Leaving removes the folder with everything in it.
    EXPECT_FALSE(fs::exists(kept));
    unsetenv("TMPDIR");
    fs::remove_all(tmp);
}

TEST(ViewFolderTest, RemovalNeverFollowsLinksOutOfTheFolder) {
    std::string base = testing::TempDir() + "/view_links";
    fs::remove_all(base);
    fs::create_directories(base + "/outside/deep");
    Write(base + "/outside/precious.txt", "keep me");
    Write(base + "/outside/deep/also.txt", "keep me too");
    std::string tree = base + "/tree";
    fs::create_directories(tree + "/sub/subsub");
    Write(tree + "/sub/subsub/x", "x");
    // Links to a folder and to a file outside, at two depths, and a dangling one.
    fs::create_directory_symlink(base + "/outside", tree + "/link_dir");
    fs::create_directory_symlink(base + "/outside/deep", tree + "/sub/link_deep");
    fs::create_symlink(base + "/outside/precious.txt", tree + "/sub/link_file");
    fs::create_symlink(base + "/nowhere", tree + "/dangling");
    EXPECT_TRUE(RemoveTree(tree));
    EXPECT_FALSE(fs::exists(fs::symlink_status(tree)));
    EXPECT_TRUE(fs::exists(base + "/outside/precious.txt"));
    EXPECT_TRUE(fs::exists(base + "/outside/deep/also.txt"));
    // A link given as the tree itself is removed as a link.
    fs::create_directory_symlink(base + "/outside", base + "/top_link");
    EXPECT_TRUE(RemoveTree(base + "/top_link"));
    EXPECT_TRUE(fs::exists(base + "/outside/deep/also.txt"));
    EXPECT_TRUE(RemoveTree(base + "/missing"));
    fs::remove_all(base);
}

}  // namespace
}  // namespace window
