#include "platform/xdg_places.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

namespace platform {
namespace {

// Sets environment variables for one test and puts the old values back.
class EnvGuard {
public:
    void Set(const char* name, const char* value) {
        const char* old = std::getenv(name);
        saved_.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
        if (value)
            setenv(name, value, 1);
        else
            unsetenv(name);
    }
    ~EnvGuard() {
        for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
            if (it->second)
                setenv(it->first.c_str(), it->second->c_str(), 1);
            else
                unsetenv(it->first.c_str());
        }
    }

private:
    std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

TEST(XdgPlaces, UserDirsFileLines) {
    struct Case {
        const char* text;
        const char* want;
    } cases[] = {
        {"XDG_DOWNLOAD_DIR=\"$HOME/Downloads\"\n", "/h/Downloads"},
        {"# comment\nXDG_DESKTOP_DIR=\"$HOME/Desktop\"\n  XDG_DOWNLOAD_DIR=\"/data/dl\"\n",
         "/data/dl"},
        {"XDG_DOWNLOAD_DIR=\"$HOME/a\"\nXDG_DOWNLOAD_DIR=\"$HOME/b\"\n", "/h/b"},  // last wins
        {"XDG_DOWNLOAD_DIR=\"relative/dl\"\n", ""},  // never relative to the start folder
        {"XDG_DOWNLOAD_DIRX=\"/x\"\n", ""},          // another key sharing the prefix
        {"#XDG_DOWNLOAD_DIR=\"/x\"\n", ""},
        {"XDG_DOWNLOAD_DIR=\"", ""},  // cut short
        {"", ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(UserDirFromText(c.text, "XDG_DOWNLOAD_DIR", "/h"), c.want) << c.text;
}

TEST(XdgPlaces, FoldersFollowTheEnvironment) {
    const std::string dir = ::testing::TempDir() + "xdg_places_" + std::to_string(getpid());
    std::filesystem::remove_all(dir);
    EnvGuard env;
    env.Set("HOME", dir.c_str());
    env.Set("XDG_STATE_HOME", nullptr);
    env.Set("XDG_CONFIG_HOME", nullptr);
    env.Set("XDG_DOWNLOAD_DIR", nullptr);
    EXPECT_EQ(StateFolder("vesk32"), dir + "/.local/state/vesk32/");
    EXPECT_EQ(DownloadFolder(), dir + "/Downloads/");

    env.Set("XDG_STATE_HOME", "relative");  // ignored: not absolute
    EXPECT_EQ(StateFolder("vesk32"), dir + "/.local/state/vesk32/");
    env.Set("XDG_STATE_HOME", (dir + "/state/").c_str());
    EXPECT_EQ(StateFolder("vesk32"), dir + "/state/vesk32/");

    ASSERT_TRUE(MakePrivateFolders(dir + "/.config"));
    std::ofstream(dir + "/.config/user-dirs.dirs") << "XDG_DOWNLOAD_DIR=\"$HOME/Fetched\"\n";
    EXPECT_EQ(DownloadFolder(), dir + "/Fetched/");
    env.Set("XDG_DOWNLOAD_DIR", "/elsewhere");
    EXPECT_EQ(DownloadFolder(), "/elsewhere/");
    std::filesystem::remove_all(dir);
}

TEST(XdgPlaces, PrivateFoldersAreMadeWithTheirParents) {
    const std::string dir = ::testing::TempDir() + "xdg_made_" + std::to_string(getpid());
    std::filesystem::remove_all(dir);
    ASSERT_TRUE(MakePrivateFolders(dir + "/a/b/c/"));
    struct stat st {};
    ASSERT_EQ(::stat((dir + "/a/b/c").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    EXPECT_TRUE(MakePrivateFolders(dir + "/a/b/c"));  // already there
    std::ofstream(dir + "/file") << "x";
    EXPECT_FALSE(MakePrivateFolders(dir + "/file"));  // a file in the way
    EXPECT_FALSE(MakePrivateFolders(dir + "/file/sub"));
    std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace platform
