#include "chat/lists/url_catcher.h"

#include "chat/core/windows/window_print.h"
#include "chat/lists/lists_fixture.h"

namespace chat {
namespace {

class UrlTest : public ListsTest {
protected:
    void SetUp() override {
        ListsTest::SetUp();
        Options().eurl = 1;
    }
    std::vector<std::string> Addresses() const {
        std::vector<std::string> out;
        for (const Line& l : Urls().szurl) out.push_back(UrlAddress(l.text));
        return out;
    }
};

TEST_F(UrlTest, CatchingFromPrintedLines) {
    struct Case {
        std::vector<std::string> lines;
        std::vector<std::string> caught;
    } cases[] = {
        {{"see http://a.example/x, or www.b.example; bye"},
         {"http://a.example/x", "www.b.example"}},
        {{"ftp.old.example then http://new.example/"}, {"http://new.example/"}},
        {{"go HTTP://Case.Example/P", "again http://case.example/p"}, {"HTTP://Case.Example/P"}},
        {{"see www. and ftp.x.example"}, {}},
        {{"http://" + std::string(249, 'x')}, {}},
        {{"http://" + std::string(248, 'x')}, {"http://" + std::string(248, 'x')}},
        {{"(gopher://g.example) [ftp://f.example]"}, {"ftp://f.example"}},
        {{"just http:// alone"}, {}},
        {{"https://secure.example/"}, {}},  // the catcher's prefixes do not include https
    };
    for (const Case& c : cases) {
        Urls().szurl.clear();
        for (const std::string& line : c.lines) Print(status, line, 0);
        EXPECT_EQ(Addresses(), c.caught) << c.lines.front();
    }
    Urls().szurl.clear();
    Options().eurl = 0;
    Print(status, "http://off.example", 0);
    EXPECT_TRUE(Urls().szurl.empty());
}

TEST_F(UrlTest, EntriesAndRows) {
    ExtractURL("www.one.example");
    ASSERT_EQ(Urls().szurl.size(), 1u);
    EXPECT_EQ(Urls().szurl.front().text, "?:www.one.exampleURL:www.one.example");
    EXPECT_EQ(UrlRow(Urls().szurl.front().text), " ?\twww.one.example\tURL:www.one.example");
    ExtractURL("http://two.example");
    EXPECT_NE(FindURL("TWO.example", false), Urls().szurl.end());  // compared past its "://"
    Urls().szurl.pop_back();
    aline(Urls().szurl, "*:Zeta siteURL:http://z.example", false);
    aline(Urls().szurl, "*:Alpha siteURL:http://a.example", false);
    Options().anqu = 0;
    std::vector<std::string> rows = UrlRows();
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0].substr(0, 8), " *\tAlpha");
    EXPECT_EQ(rows[2].substr(0, 2), " ?");
    Options().anqu = 1;
    rows = UrlRows();
    EXPECT_EQ(rows[0].substr(0, 2), " ?");
    EXPECT_EQ(rows[1].substr(0, 8), " *\tAlpha");
}

TEST_F(UrlTest, OnlyWebAddressesOpenAndNeverThroughAShell) {
    struct Case {
        const char* address;
        bool opens;
    } cases[] = {
        {"http://a.example/", true},    {"HTTPS://a.example/", true}, {"ftp://f.example/", true},
        {"gopher://g.example/", true},  {"www.w.example", true},      {"file:///etc/passwd", false},
        {"javascript:alert(1)", false}, {"-oProxyCommand=x", false},  {"http://a b", false},
        {"http://a\nb", false},         {"http://", false},
    };
    std::vector<std::vector<std::string>> started;
    Urls().start = [&started](const std::vector<std::string>& argv) {
        started.push_back(argv);
        return true;
    };
    for (const Case& c : cases) {
        started.clear();
        EXPECT_EQ(OpenURL(c.address), c.opens) << c.address;
        EXPECT_EQ(started.size(), c.opens ? 1u : 0u) << c.address;
    }
    started.clear();
    OpenURL("http://x.example/?a=1;b=$(id)");
    ASSERT_EQ(started.size(), 1u);
    EXPECT_EQ(started[0], (std::vector<std::string>{"xdg-open", "http://x.example/?a=1;b=$(id)"}));
    Urls().szWWWL = "/usr/bin/firefox";
    Urls().start = [](const std::vector<std::string>&) { return false; };
    EXPECT_FALSE(OpenURL("http://x.example/"));
    EXPECT_EQ(Urls().szWWWL, "unknown");
}

TEST_F(UrlTest, TheUrlWindowMenuOpensAndDeletes) {
    ExtractURL("http://first.example http://second.example");
    aline(Urls().szurl, "*:MineURL:http://mine.example", false);
    EXPECT_FALSE(UrlWindowPopup(status));
    Run(status, "/url");
    const WindowId w = Windows().ch[exists("URL List")].window;
    std::optional<PopupMenu> menu = UrlWindowPopup(w);
    ASSERT_TRUE(menu);
    ASSERT_EQ(menu->items.size(), 5u);  // open, add, edit, change marker, delete
    ASSERT_EQ(menu->items[0].items.size(), 3u);
    std::vector<std::string> opened;
    Urls().start = [&opened](const std::vector<std::string>& argv) {
        opened.push_back(argv.back());
        return true;
    };
    EXPECT_TRUE(ProcessUrlPopup(menu->items[0].items[1].id));
    EXPECT_EQ(opened, std::vector<std::string>{"http://second.example"});
    EXPECT_TRUE(ProcessUrlPopup(kUrlPopupDelete));
    EXPECT_EQ(Addresses(), std::vector<std::string>{"http://mine.example"});
    EXPECT_TRUE(ProcessUrlPopup(kUrlPopupFirstOpen + 5));  // gone since the menu was made
    EXPECT_FALSE(ProcessUrlPopup(kPopupNickFirst));
}

TEST_F(UrlTest, CommandForms) {
    EXPECT_TRUE(Says(status, "/url off", "*** URL Catcher is OFF"));
    EXPECT_TRUE(Says(status, "/url on", "*** URL Catcher is ON"));
    ExtractURL("http://kept.example");
    aline(Urls().szurl, "*:MineURL:http://mine.example", false);
    Run(status, "/url -d");
    EXPECT_EQ(Addresses(), std::vector<std::string>{"http://mine.example"});
    EXPECT_TRUE(Printed(" * Mine URL:http://mine.example"));  // tabs are shown as blanks
    EXPECT_GE(exists("URL List"), 0);
    Run(status, "/url hide");
    EXPECT_LT(exists("URL List"), 0);
}

TEST_F(UrlTest, TheEntryDialogAddsEditsAndMarks) {
    std::vector<UrlEdit> shown;
    std::optional<UrlEdit> answer;
    UrlEntryDialog() = [&](const UrlEdit& start) {
        shown.push_back(start);
        return answer;
    };
    aline(Urls().szurl, "?:http://a.exampleURL:http://a.example", false);
    aline(Urls().szurl, "*:MineURL:http://mine.example", false);
    const struct {
        int id;
        std::optional<UrlEdit> answer;
        const char* title;
        std::vector<std::string> entries;  // afterwards
    } cases[] = {
        {kUrlPopupAdd,
         UrlEdit{"", "New", "http://new.example", "+", false},
         "Vesk Add URL",
         {"?:http://a.exampleURL:http://a.example", "*:MineURL:http://mine.example",
          "+:NewURL:http://new.example"}},
        {kUrlPopupAdd,
         UrlEdit{"", "Bad URL: text", "http://x.example", "+", false},
         "Vesk Add URL",  // would not read back: not stored
         {"?:http://a.exampleURL:http://a.example", "*:MineURL:http://mine.example",
          "+:NewURL:http://new.example"}},
        {kUrlPopupFirstEdit + 1,
         UrlEdit{"", "Own", "http://own.example", "*", false},
         "Vesk Edit URL",
         {"?:http://a.exampleURL:http://a.example", "*:OwnURL:http://own.example",
          "+:NewURL:http://new.example"}},
        {kUrlPopupFirstMarker,
         std::nullopt,
         "Vesk Change URL Marker",  // Cancel
         {"?:http://a.exampleURL:http://a.example", "*:OwnURL:http://own.example",
          "+:NewURL:http://new.example"}},
        {kUrlPopupMarkAll,
         UrlEdit{"", "", "", "!", true},
         "Vesk Change URL Marker",
         {"!:http://a.exampleURL:http://a.example", "!:OwnURL:http://own.example",
          "!:NewURL:http://new.example"}},
    };
    for (const auto& c : cases) {
        answer = c.answer;
        EXPECT_TRUE(ProcessUrlPopup(c.id));
        ASSERT_FALSE(shown.empty());
        EXPECT_EQ(shown.back().title, c.title);
        std::vector<std::string> entries;
        for (const Line& l : Urls().szurl) entries.push_back(l.text);
        EXPECT_EQ(entries, c.entries) << c.title;
    }
    // What the dialogs were given: an entry's own fields, or only its marker for several.
    EXPECT_EQ(shown[2].description, "Mine");
    EXPECT_EQ(shown[2].address, "http://mine.example");
    EXPECT_TRUE(shown[3].marker_only);
    EXPECT_EQ(shown[3].description, "http://a.example");
    EXPECT_EQ(shown[4].address, "<multiple selections>");
    const struct {
        UrlEdit edit;
        int problem;
    } checks[] = {
        {{"", "d", "a", "m", false}, 0}, {{"", "", "a", "m", false}, 1},
        {{"", "d", "", "m", false}, 2},  {{"", "d", "a b", "m", false}, 2},
        {{"", "d", "a", "", false}, 3},  {{"", "d", "a", "mm", false}, 3},
        {{"", "", "", "m", true}, 0},    {{"", "d\x01", "a", "m", false}, 1},
    };
    for (const auto& c : checks) EXPECT_EQ(UrlEditProblem(c.edit), c.problem);
    UrlEntryDialog() = nullptr;
}

TEST_F(UrlTest, AFailedOpenOffersToSetTheBrowser) {
    Frontend& fe = CurrentFrontend();
    std::vector<std::string> started;
    Urls().start = [&](const std::vector<std::string>& argv) {
        started.push_back(argv[0]);
        return argv[0] == "/opt/good-browser";
    };
    Urls().szWWWL = "/opt/broken";
    bool yes = false;
    fe.ask = [&](const std::string&, const std::string&) { return yes; };
    fe.prompt = [](const std::string&) {
        return std::optional<std::string>(" /opt/good-browser ");
    };
    EXPECT_FALSE(OpenURL("http://x.example/"));  // declined
    EXPECT_EQ(Urls().szWWWL, "unknown");
    yes = true;
    EXPECT_TRUE(OpenURL("http://x.example/"));
    EXPECT_EQ(Urls().szWWWL, "/opt/good-browser");
    EXPECT_EQ(started, (std::vector<std::string>{"/opt/broken", "xdg-open", "/opt/good-browser"}));
}

}  // namespace
}  // namespace chat
