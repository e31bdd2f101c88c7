#include "chat/script/frontend_hooks.h"

#include <optional>

#include "chat/script/script_fixture.h"

namespace chat {
namespace {

class FrontendHooksTest : public ScriptTest {
protected:
    void SetUp() override {
        ScriptTest::SetUp();
        Frontend& fe = CurrentFrontend();
        fe.prompt = [this](const std::string& title) {
            titles.push_back(title);
            return answer;
        };
        fe.clipboard = [] { return std::string("copied text\nsecond line"); };
        fe.selected_nicks = [](WindowId) { return std::vector<std::string>{"@ann", "bob"}; };
        fe.select_file = [](const std::string& kind, const std::string&,
                            const std::string&) -> std::optional<std::string> {
            return "/tmp/picked-" + kind;
        };
        fe.show_help = [this](const std::string& path, const std::string& key) {
            help.push_back(path + "#" + key);
        };
        fe.font_dialog = [this](WindowId w) { font_windows.push_back(w); };
    }
    void Alias(const std::string& definition) { aline(Script().szals, definition, false); }

    std::optional<std::string> answer;
    std::vector<std::string> titles, help;
    std::vector<WindowId> font_windows;
};

TEST_F(FrontendHooksTest, DialogIdentifiersReachTheFrontEnd) {
    InstallFrontendHooks("/opt/help/", true);
    const WindowId chan = MakeNewWindow("#c", false);
    const struct {
        const char* body;  // of an alias that echoes "got " and the identifier's value
        std::optional<std::string> answer;
        const char* printed;  // nullptr: the line was abandoned
    } cases[] = {
        {"$?=\"Your name?\"", "zed", "got zed"},
        {"$$?", std::nullopt, nullptr},            // Cancel: a required value is missing
        {"#$?", "help", "got #help"},              // the channel prefix
        {"$cb", std::nullopt, "got copied text"},  // the first line only
        {"$snicks", std::nullopt, "got ann,bob"},
        {"$dir", std::nullopt, "got /tmp/picked-dir"},
        {"$hfile", std::nullopt, "got /tmp/picked-hfile"},
    };
    int n = 0;
    for (const auto& c : cases) {
        const std::string name = "/t" + std::to_string(++n);
        Alias(name + " /echo got " + c.body);
        answer = c.answer;
        Run(chan, name);
        if (c.printed) {
            EXPECT_TRUE(Printed(c.printed)) << c.body << ": " << ::testing::PrintToString(Texts());
        } else {
            EXPECT_TRUE(Texts().empty()) << c.body;
        }
    }
    EXPECT_EQ(titles.front(), "Your name?");
    EXPECT_TRUE(boxes.empty());
}

TEST_F(FrontendHooksTest, WithoutAScreenDialogIdentifiersAbandonTheLine) {
    InstallFrontendHooks("/opt/help/", false);
    const char* const bodies[] = {"$?", "$file", "$dir *.txt", "$hfile=\"Pick\""};
    int n = 0;
    for (const char* body : bodies) {
        const std::string name = "/t" + std::to_string(++n);
        Alias(name + " /echo got " + body);
        Run(status, name);
        EXPECT_TRUE(Texts().empty()) << body;
        ASSERT_EQ(boxes.size(), static_cast<size_t>(n)) << body;
        EXPECT_EQ(boxes.back(), "Unable to display dialog");
    }
    EXPECT_TRUE(titles.empty());
}

TEST_F(FrontendHooksTest, HelpFontAndFunctionKeys) {
    InstallFrontendHooks("/opt/help/", true);
    Run(status, "/help join");
    Run(status, "/font");
    EXPECT_EQ(help, (std::vector<std::string>{"/opt/help/vesk.hlp#join"}));
    EXPECT_EQ(font_windows, (std::vector<WindowId>{status}));

    Alias("/F5 /echo five");
    Alias("/sF5 /echo shifted $?");
    answer = "x";
    const struct {
        const char* alias;
        bool ran;
        const char* printed;
    } keys[] = {
        {"/F5 ", true, "five"},       {"/f5 ", true, "five"},  // names ignore case
        {"/sF5 ", true, "shifted x"}, {"/cF5 ", false, nullptr}, {"/F6 ", false, nullptr},
    };
    for (const auto& k : keys) {
        shown.clear();
        EXPECT_EQ(RunFunctionKeyAlias(status, k.alias), k.ran) << k.alias;
        if (k.printed) {
            EXPECT_TRUE(Printed(k.printed)) << k.alias;
        }
        if (!k.ran) {
            EXPECT_TRUE(Texts().empty()) << k.alias;
        }
    }
}

}  // namespace
}  // namespace chat
