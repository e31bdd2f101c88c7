#include "chat/dcc/file_server.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <fstream>

namespace chat::dcc {
namespace {

class FileServerTest : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/dcc-fs-XXXXXX";
        ASSERT_TRUE(::mkdtemp(tmpl));
        char real[PATH_MAX];
        ASSERT_TRUE(::realpath(tmpl, real));
        top_ = real;
        home_ = top_ + "/home";
        ::mkdir(home_.c_str(), 0700);
        ::mkdir((home_ + "/Sub").c_str(), 0700);
        ::mkdir((top_ + "/secret").c_str(), 0700);
        Write(home_ + "/small.txt", 999);
        Write(home_ + "/Big.bin", 5000);
        Write(home_ + "/noext", 3);
        Write(home_ + "/dirinfo.srv", 10);
        Write(top_ + "/secret/key", 5);
        ASSERT_EQ(::symlink((top_ + "/secret").c_str(), (home_ + "/out").c_str()), 0);
        ASSERT_EQ(::symlink((top_ + "/secret/key").c_str(), (home_ + "/key").c_str()), 0);
    }
    void TearDown() override {
        std::string cmd = "rm -rf '" + top_ + "'";
        EXPECT_EQ(std::system(cmd.c_str()), 0);
    }
    static void Write(const std::string& path, size_t n) {
        std::ofstream(path) << std::string(n, 'x');
    }
    std::string top_, home_;
};

TEST_F(FileServerTest, TargetsStayInsideHome) {
    struct Case {
        std::string current;
        std::string name;
        bool inside;
    };
    const Case cases[] = {
        {"", "small.txt", true},  {"", "Sub", true},      {"", "", true},  // home itself
        {"/Sub", "..", false},     // never a climbing component
        {"", "../secret", false},  // nor a path
        {"", "..\\secret", true},  // a backslash is refused below
        {"", "out", false},        // a link that leads out
        {"", "key", false},       {"", "missing", false}, {"", "/etc/passwd", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.current + " | " + c.name);
        auto got = InsideHome(home_, home_ + c.current, c.name);
        if (c.name.find('\\') != std::string::npos) {
            EXPECT_FALSE(got);
            continue;
        }
        EXPECT_EQ(got.has_value(), c.inside);
    }
    // Home is the real folder; the parent of home is outside.
    EXPECT_FALSE(InsideHome(home_, top_, ""));
    EXPECT_FALSE(IsOneComponent("a\nb"));
    EXPECT_FALSE(IsOneComponent(".."));
    EXPECT_TRUE(IsOneComponent("..hidden"));
}

TEST_F(FileServerTest, NamesAreFoundWithoutRegardToCase) {
    Write(home_ + "/big.BIN", 7);  // a second spelling: the exact one wins, else name order
    const struct {
        const char* asked;
        std::optional<std::string> found;
    } cases[] = {
        {"SMALL.TXT", "small.txt"},
        {"Big.bin", "Big.bin"},
        {"BIG.BIN", "Big.bin"},
        {"big.BIN", "big.BIN"},
        {"NoExt", "noext"},
        {"sub", std::nullopt},
        {"../home/small.txt", std::nullopt},
        {"missing", std::nullopt},
    };
    for (const auto& c : cases) EXPECT_EQ(FileNamedNoCase(home_, c.asked), c.found) << c.asked;
}

TEST_F(FileServerTest, ListingsSortFoldersFirstAndShowSizes) {
    ListingOptions o;
    auto lines = BuildDirList(home_, o, true);
    ASSERT_GE(lines.size(), 4u);
    EXPECT_EQ(lines.front(), "[" + home_ + "/*.*]\n");
    EXPECT_EQ(lines.back(), "End of list.\n");
    std::string all;
    for (auto& l : lines) all += l;
    // Folders first (links that lead out are listed but cannot be entered), then files in
    // order ignoring case; the folder's own information file is not listed.
    EXPECT_LT(all.find("Sub/"), all.find("Big.bin"));
    EXPECT_LT(all.find("Big.bin"), all.find("small.txt"));
    EXPECT_EQ(all.find("dirinfo.srv"), std::string::npos);
    EXPECT_NE(all.find("small.txt              999b\n"), std::string::npos);
    EXPECT_NE(all.find("Big.bin                5000b\n"), std::string::npos);
    o.bytes = false;
    all.clear();
    for (auto& l : BuildDirList(home_, o, true)) all += l;
    EXPECT_NE(all.find("Big.bin                5k\n"), std::string::npos);
    EXPECT_NE(all.find("small.txt              999b\n"), std::string::npos);
    o.pattern = "*.txt";
    all.clear();
    for (auto& l : BuildDirList(home_, o, true)) all += l;
    EXPECT_EQ(all.find("Big.bin"), std::string::npos);
    EXPECT_NE(all.find("small.txt"), std::string::npos);
}

TEST_F(FileServerTest, WideListingsPadAndWrap) {
    ListingOptions o;
    o.wide = true;
    o.columns = 2;
    auto lines = BuildDirList(home_ + "/Sub", o, false);
    EXPECT_EQ(lines.size(), 2u);  // header and end: an empty folder
    lines = BuildDirList(home_, o, true);
    // Entries padded to 15 and joined by two blanks, two to a line.
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines[1].size(), 15u + 2u + 15u + 1u);
    EXPECT_EQ(ListingSize(1000, false), "1000b");
    EXPECT_EQ(ListingSize(1001, false), "1k");
}

}  // namespace
}  // namespace chat::dcc
