#include "platform/tui/folder_listing.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace tui {
namespace {

namespace fs = std::filesystem;

TEST(FolderListingTest, PatternsMatchLikeWildcards) {
    EXPECT_TRUE(MatchesPattern("archive.zip", "*.zip"));
    EXPECT_FALSE(MatchesPattern("archive.zip.txt", "*.zip"));
    EXPECT_TRUE(MatchesPattern("a.tar", "*.zip;*.tar"));
    EXPECT_TRUE(MatchesPattern("data1.arj", "data?.arj"));
    EXPECT_FALSE(MatchesPattern("data12.arj", "data?.arj"));
    EXPECT_TRUE(MatchesPattern("anything", ""));
    EXPECT_TRUE(MatchesPattern("x", "*"));
    // A hostile pattern of many stars stays quick.
    EXPECT_FALSE(MatchesPattern(std::string(5000, 'a'), std::string(2000, '*') + "b"));
}

TEST(FolderListingTest, FoldersFirstFilteredFilesAndNavigation) {
    char tmpl[] = "/tmp/folder_listing_XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    const fs::path root = tmpl;
    fs::create_directory(root / "sub");
    fs::create_directory(root / ".hidden_dir");
    for (const char* name : {"b.zip", "a.zip", "notes.txt", ".secret.zip"}) {
        std::ofstream(root / name) << "x";
    }
    const auto entries = ListFolder(root.string(), "*.zip");
    std::vector<std::string> names;
    for (const FolderEntry& e : entries) names.push_back(e.name + (e.folder ? "/" : ""));
    EXPECT_EQ(names, (std::vector<std::string>{"../", "sub/", "a.zip", "b.zip"}));
    EXPECT_EQ(ListFolder(root.string(), "*.zip", true).size(), 6u);
    EXPECT_EQ(ListFolder((root / "missing").string(), "").size(), 1u);  // just ".."
    EXPECT_EQ(ListFolder("/", "")[0].name == "..", false);

    EXPECT_EQ(EnterFolder(root.string(), "sub"), (root / "sub").string());
    EXPECT_EQ(EnterFolder((root / "sub").string(), ".."), root.string());
    EXPECT_EQ(EnterFolder("/", ".."), "/");
    fs::remove_all(root);
}

}  // namespace
}  // namespace tui
