#include "chat/help/help_file.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>

namespace chat {
namespace {

const char kFile[] =
    "\n"
    "@ Contents | contents\n"
    "the list\n"
    "\n"
    "@ /join | join | channels\n"
    "join text\n"
    "@ Keys | keys\n"
    "a\tb\x1b[2J\n"
    "\n\n";

TEST(HelpFile, TopicsAreFoundByTheBeginningOfAKey) {
    const std::vector<HelpTopic> topics = ParseHelp(kFile, "vesk.hlp");
    ASSERT_EQ(topics.size(), 3u);
    EXPECT_EQ(topics[1].keys, (std::vector<std::string>{"/join", "join", "channels"}));
    EXPECT_EQ(topics[0].lines, (std::vector<std::string>{"the list"}));  // trailing gap gone
    const struct {
        const char* key;
        const char* title;
        const char* first_line;
    } cases[] = {
        {"", "Contents", "the list"},
        {"JO", "/join", "join text"},
        {"/join", "/join", "join text"},
        {"chan", "/join", "join text"},
        {"keys", "Keys", "a    b^[[2J"},  // no byte of the file drives the terminal
        {"zebra", "Contents", "No help topic begins with \"zebra\"; the contents follow."},
    };
    for (const auto& c : cases) {
        const HelpPage page = FindHelpTopic(topics, c.key);
        EXPECT_EQ(page.title, c.title) << c.key;
        ASSERT_FALSE(page.lines.empty()) << c.key;
        EXPECT_EQ(page.lines[0], c.first_line) << c.key;
    }
}

TEST(HelpFile, PlainTextFilesAndMissingFiles) {
    // A file without topic lines (a user's own join.hlp) is one topic under its file name.
    const std::vector<HelpTopic> plain = ParseHelp("line one\r\nline two", "join.hlp");
    ASSERT_EQ(plain.size(), 1u);
    EXPECT_EQ(plain[0].title, "join.hlp");
    EXPECT_EQ(plain[0].lines, (std::vector<std::string>{"line one", "line two"}));
    EXPECT_EQ(FindHelpTopic({}, "x").lines[0], "This help file has no topics.");

    char path[] = "/tmp/helpXXXXXX";
    const int fd = ::mkstemp(path);
    ASSERT_GE(fd, 0);
    ::close(fd);
    {
        std::ofstream out(path);
        out << kFile;
    }
    EXPECT_EQ(LoadHelpPage(path, "keys").title, "Keys");
    std::remove(path);
    const HelpPage missing = LoadHelpPage(path, "");
    EXPECT_EQ(missing.lines[0], std::string("Unable to open help file ") + path);
}

TEST(HelpFile, TheShippedContentsNameEveryTopicTheyList) {
    const char* source = std::getenv("SOURCE_DIR");
    if (!source) GTEST_SKIP() << "SOURCE_DIR not set";
    std::ifstream in(std::string(source) + "/chat/help/text/vesk.hlp");
    ASSERT_TRUE(in);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::vector<HelpTopic> topics = ParseHelp(text, "vesk.hlp");
    ASSERT_GT(topics.size(), 5u);
    EXPECT_EQ(topics[0].title, "Contents");
    for (const char* key : {"keys", "windows", "commands", "identifiers", "aliases", "clicks",
                            "fonts", "settings", "join", "help"}) {
        EXPECT_NE(FindHelpTopic(topics, key).title, "Contents") << key;
    }
}

}  // namespace
}  // namespace chat
