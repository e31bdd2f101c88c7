#include "platform/profile.h"

#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <sstream>

namespace platform {
namespace {

class ProfileTest : public testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/profile_test.XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
        // Readable by others, for the checks that run as an unprivileged user.
        chmod(dir_.c_str(), 0755);
        ini_ = dir_ + "/test.ini";
    }
    void TearDown() override {
        chmod((dir_ + "/ro").c_str(), 0755);
        std::string cmd = "rm -rf '" + dir_ + "'";
        ASSERT_EQ(system(cmd.c_str()), 0);
    }

    static void Put(const std::string& path, const std::string& text) {
        std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
    }
    static std::string Get(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        std::stringstream ss;
        ss << in.rdbuf();
        return ss.str();
    }
    std::string Read(const std::string& section, const std::string& key,
                     const std::string& def = "<none>", size_t limit = 0) {
        return GetPrivateProfileString(section, key, def, limit, ini_);
    }
    static std::vector<std::string> Entries(const std::string& dir) {
        std::vector<std::string> names;
        if (DIR* d = opendir(dir.c_str())) {
            while (dirent* e = readdir(d)) {
                const std::string n = e->d_name;
                if (n != "." && n != "..") names.push_back(n);
            }
            closedir(d);
        }
        std::sort(names.begin(), names.end());
        return names;
    }

    std::string dir_;
    std::string ini_;
};

// Runs check in a child process, so that limits set there stay there; true when check
// returned true. Without privilege it runs as the user "nobody" when we are root, since root
// ignores permission bits.
bool InChild(const std::function<bool()>& check, bool drop_privilege = true) {
    const pid_t pid = fork();
    if (pid == 0) {
        if (drop_privilege && geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) {
            _exit(2);
        }
        _exit(check() ? 0 : 1);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

TEST_F(ProfileTest, MissingFileReadsDefaultsAndFirstWriteCreatesIt) {
    EXPECT_EQ(Read("Vesk", "nick", "guest"), "guest");
    EXPECT_EQ(GetPrivateProfileInt("Vesk", "port", 6667, ini_), 6667);
    EXPECT_TRUE(GetPrivateProfileKeys("Vesk", ini_).empty());
    EXPECT_TRUE(GetPrivateProfileSections(ini_).empty());
    EXPECT_TRUE(ReadProfileSection("Aliases", ini_).empty());
    EXPECT_TRUE(DeletePrivateProfileKey("Vesk", "nick", ini_));
    EXPECT_TRUE(DeletePrivateProfileSection("Vesk", ini_));
    EXPECT_TRUE(WriteProfileSection("Aliases", {}, ini_));
    EXPECT_TRUE(Entries(dir_).empty()) << "deleting from nothing made a file";

    ASSERT_TRUE(WritePrivateProfileString("Vesk", "nick", "bob", ini_));
    EXPECT_EQ(Get(ini_), "[Vesk]\nnick=bob\n");
    EXPECT_EQ(Read("vesk", "NICK"), "bob");
    EXPECT_EQ(Entries(dir_), std::vector<std::string>{"test.ini"}) << "temporary file left";
}

TEST_F(ProfileTest, ReadingRules) {
    Put(ini_,
        "; settings\n"
        "orphan=before any section\n"
        "[ Text ]\n"
        "  Quit  =  Leaving now  \n"
        "; quit=commented out\n"
        "url=http://x/?a=b&c=d\n"
        "no equals sign here\n"
        "empty=\n"
        "quit=second copy\n"
        "=no key\n"
        "[Numbers]\n"
        "port=6667,0\n"
        "neg=-42\n"
        "word=abc\n"
        "huge=99999999999999999999999\n"
        "[Utf]\n"
        "name=Größe\n");
    EXPECT_EQ(Read("text", "QUIT"), "Leaving now");  // case, blanks, first copy wins
    EXPECT_EQ(Read("Text", "url"), "http://x/?a=b&c=d");
    EXPECT_EQ(Read("Text", "no equals sign here"), "<none>");
    EXPECT_EQ(Read("Text", "empty"), "");  // present but empty is not missing
    EXPECT_EQ(Read("Text", "orphan"), "<none>");
    EXPECT_EQ(Read("Text", ""), "<none>");
    EXPECT_EQ(Read("Text", "; quit"), "<none>");
    EXPECT_EQ(GetPrivateProfileKeys("TEXT", ini_),
              (std::vector<std::string>{"Quit", "url", "empty"}));

    // Buffer limits keep limit - 1 characters, and never half of one.
    EXPECT_EQ(Read("Text", "quit", "", 5), "Leav");
    EXPECT_EQ(Read("Text", "quit", "", 1), "");
    EXPECT_EQ(Read("Missing", "x", "default", 4), "def");
    EXPECT_EQ(Read("Utf", "name", "", 5), "Grö");
    EXPECT_EQ(Read("Utf", "name", "", 4), "Gr");

    EXPECT_EQ(GetPrivateProfileInt("Numbers", "port", 1, ini_), 6667);
    EXPECT_EQ(GetPrivateProfileInt("Numbers", "neg", 1, ini_), -42);
    EXPECT_EQ(GetPrivateProfileInt("Numbers", "word", 7, ini_), 7);
    EXPECT_EQ(GetPrivateProfileInt("Numbers", "huge", 7, ini_), LONG_MAX);
}

TEST_F(ProfileTest, WritesTouchOnlyTheirLine) {
    const std::string before =
        "; my settings\n"
        "[Vesk]\n"
        "nick = bob\n"
        "user=Bob B.\n"
        "\n"
        "; the servers come next\n"
        "[Servers]\n"
        "sv0=irc.example.org\n";
    Put(ini_, before);
    ASSERT_TRUE(WritePrivateProfileString("VESK", "NICK", "alice", ini_));
    ASSERT_TRUE(WritePrivateProfileString("Vesk", "email", "a@b=c", ini_));
    ASSERT_TRUE(WritePrivateProfileString("Servers", "sv1", "irc.other.net", ini_));
    ASSERT_TRUE(WritePrivateProfileString("Dirs", "logdir", "/tmp/logs", ini_));
    EXPECT_EQ(Get(ini_),
              "; my settings\n"
              "[Vesk]\n"
              "nick=alice\n"
              "user=Bob B.\n"
              "email=a@b=c\n"
              "\n"
              "; the servers come next\n"
              "[Servers]\n"
              "sv0=irc.example.org\n"
              "sv1=irc.other.net\n"
              "\n"
              "[Dirs]\n"
              "logdir=/tmp/logs\n");
    EXPECT_EQ(Read("vesk", "email"), "a@b=c");

    // A file without a final line end gets one only where a line follows.
    Put(ini_, "[A]\nx=1");
    ASSERT_TRUE(WritePrivateProfileString("A", "x", "2", ini_));
    EXPECT_EQ(Get(ini_), "[A]\nx=2");
    ASSERT_TRUE(WritePrivateProfileString("A", "y", "3", ini_));
    EXPECT_EQ(Get(ini_), "[A]\nx=2\ny=3");
    ASSERT_TRUE(WritePrivateProfileString("B", "z", "4", ini_));
    EXPECT_EQ(Get(ini_), "[A]\nx=2\ny=3\n\n[B]\nz=4\n");

    // Text that would turn into other lines or another key is refused, the file untouched.
    const std::string now = Get(ini_);
    errno = 0;
    EXPECT_FALSE(WritePrivateProfileString("A", "x", "1\n[Evil]\nk=v", ini_));
    EXPECT_EQ(errno, EINVAL);
    EXPECT_FALSE(WritePrivateProfileString("A", "a=b", "1", ini_));
    EXPECT_FALSE(WritePrivateProfileString("A", " ", "1", ini_));
    EXPECT_FALSE(WritePrivateProfileString("A]x", "k", "1", ini_));
    EXPECT_FALSE(WriteProfileSection("A", {{"k", "a\r\nb"}}, ini_));
    EXPECT_EQ(Get(ini_), now);
}

TEST_F(ProfileTest, LineEndsAreKept) {
    Put(ini_, "[Vesk]\r\nnick=bob\r\n; note\r\n\r\n[Ident]\r\nport=113\r\n");
    EXPECT_EQ(Read("Vesk", "nick"), "bob");
    EXPECT_EQ(Read("Ident", "port"), "113");
    ASSERT_TRUE(WritePrivateProfileString("Vesk", "user", "Bob", ini_));
    ASSERT_TRUE(WritePrivateProfileString("Local", "local", "host", ini_));
    ASSERT_TRUE(WriteProfileSection("Aliases", {{"alias0", "/j /join #$1"}}, ini_));
    EXPECT_EQ(Get(ini_),
              "[Vesk]\r\nnick=bob\r\nuser=Bob\r\n; note\r\n\r\n[Ident]\r\nport=113\r\n"
              "\r\n[Local]\r\nlocal=host\r\n\r\n[Aliases]\r\nalias0=/j /join #$1\r\n");

    // A byte-order mark is not part of the first header, and stays.
    Put(ini_, "\xEF\xBB\xBF[Vesk]\nnick=bob\n");
    EXPECT_EQ(Read("Vesk", "nick"), "bob");
    ASSERT_TRUE(WritePrivateProfileString("Vesk", "nick", "al", ini_));
    EXPECT_EQ(Get(ini_), "\xEF\xBB\xBF[Vesk]\nnick=al\n");
}

TEST_F(ProfileTest, SectionThatAppearsTwice) {
    Put(ini_,
        "[Perform]\np0=first\n\n"
        "[Other]\nk=v\n\n"
        "[perform]\np0=hidden\np1=also hidden\n");
    // Reads, listings and key writes all see only the first copy.
    EXPECT_EQ(Read("Perform", "p0"), "first");
    EXPECT_EQ(Read("Perform", "p1"), "<none>");
    EXPECT_EQ(GetPrivateProfileSections(ini_), (std::vector<std::string>{"Perform", "Other"}));
    EXPECT_EQ(ReadProfileSection("PERFORM", ini_),
              (std::vector<std::pair<std::string, std::string>>{{"p0", "first"}}));
    ASSERT_TRUE(WritePrivateProfileString("perform", "p1", "second", ini_));
    EXPECT_EQ(Read("Perform", "p1"), "second");
    ASSERT_TRUE(DeletePrivateProfileKey("Perform", "p0", ini_));
    EXPECT_EQ(Read("Perform", "p0"), "<none>") << "the hidden copy showed through";

    // Replacing the section leaves one copy where the first was.
    ASSERT_TRUE(WriteProfileSection("Perform", {{"p0", "new"}}, ini_));
    EXPECT_EQ(Get(ini_), "[Perform]\np0=new\n\n[Other]\nk=v\n\n");

    // Deleting a section deletes every copy, so none can appear in its place.
    Put(ini_, "[A]\nx=1\n\n[B]\ny=2\n\n[a]\nx=3\n");
    ASSERT_TRUE(DeletePrivateProfileSection("a", ini_));
    EXPECT_EQ(Read("A", "x"), "<none>");
    EXPECT_EQ(Get(ini_), "[B]\ny=2\n\n");
}

TEST_F(ProfileTest, DeletingKeysAndSections) {
    Put(ini_,
        "[Vesk]\nnick=bob\nNICK=again\nuser=Bob\n\n"
        "; notify list\n[Notify]\nn0=carol\nn1=dave\n\n"
        "[Ident]\nactive=yes\n");
    ASSERT_TRUE(DeletePrivateProfileKey("vesk", "Nick", ini_));
    EXPECT_EQ(Read("Vesk", "nick"), "<none>");
    ASSERT_TRUE(DeletePrivateProfileKey("Vesk", "missing", ini_));
    ASSERT_TRUE(DeletePrivateProfileSection("NOTIFY", ini_));
    EXPECT_EQ(Get(ini_), "[Vesk]\nuser=Bob\n\n; notify list\n\n[Ident]\nactive=yes\n");

    // The save pattern (delete the section, write its keys) keeps the file from growing.
    for (int round = 0; round < 3; ++round) {
        ASSERT_TRUE(DeletePrivateProfileSection("Vesk", ini_));
        ASSERT_TRUE(WritePrivateProfileString("Vesk", "user", "Bob", ini_));
    }
    EXPECT_EQ(Get(ini_), "; notify list\n\n[Ident]\nactive=yes\n\n[Vesk]\nuser=Bob\n");
}

TEST_F(ProfileTest, WholeSections) {
    Put(ini_,
        "[Aliases]\n"
        "alias0=/j /join #$1\n"
        "; a comment\n"
        "alias1=/x \n"
        "alias0=/dup\n"
        "not a key\n"
        "[Popups]\nmp0=x\n");
    // Values stand as written after the first "=": a trailing blank is part of an alias.
    EXPECT_EQ(ReadProfileSection("aliases", ini_),
              (std::vector<std::pair<std::string, std::string>>{
                  {"alias0", "/j /join #$1"}, {"alias1", "/x "}, {"alias0", "/dup"}}));

    std::vector<std::pair<std::string, std::string>> lines;
    lines.reserve(100000);
    for (int i = 0; i < 100000; ++i) {
        const std::string n = std::to_string(i);
        lines.emplace_back(std::string("e").append(n), std::string("on 1:TEXT:*hi ").append(n));
    }
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(WriteProfileSection("Events", lines, ini_));
    ASSERT_TRUE(WriteProfileSection("Aliases", {{"alias0", "/q /query $1 "}}, ini_));
    EXPECT_EQ(ReadProfileSection("Events", ini_), lines);
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_LT(took, std::chrono::seconds(10)) << "long sections must not cost quadratic time";
    EXPECT_EQ(Read("Popups", "mp0"), "x");
    // The comment and the line that is no entry stay.
    EXPECT_EQ(Get(ini_).substr(0, 68),
              "[Aliases]\n; a comment\nalias0=/q /query $1 \nnot a key\n[Popups]\nmp0=x\n");

    // An empty list removes the section unless asked to keep its header.
    ASSERT_TRUE(WriteProfileSection("Events", {}, ini_));
    EXPECT_EQ(Get(ini_),
              "[Aliases]\n; a comment\nalias0=/q /query $1 \nnot a key\n[Popups]\nmp0=x\n\n");
    ASSERT_TRUE(WriteProfileSection("Users", {}, ini_, true));
    EXPECT_EQ(GetPrivateProfileSections(ini_),
              (std::vector<std::string>{"Aliases", "Popups", "Users"}));
}

TEST_F(ProfileTest, RewrittenListsKeepTheirComments) {
    using Entries = std::vector<std::pair<std::string, std::string>>;
    const std::string before =
        "[Top]\nk=v\n\n"
        "[aliases]\n"
        "; greetings\n"
        "alias0=/hi /msg $1 hi\n"
        "\n"
        "; joining\n"
        "alias1=/j /join #$1\n"
        "Alias2=/q /quit\n"
        "; the end\n"
        "\n"
        "; about the next section\n"
        "[Next]\nx=1\n";
    struct Case {
        const char* what;
        Entries entries;
        const char* section;  // the rewritten section's lines up to the blank line after it
    };
    const Case cases[] = {
        {"unchanged",
         {{"alias0", "/hi /msg $1 hi"}, {"alias1", "/j /join #$1"}, {"alias2", "/q /quit"}},
         "; greetings\nalias0=/hi /msg $1 hi\n\n; joining\nalias1=/j /join #$1\n"
         "Alias2=/q /quit\n; the end\n"},
        {"one added in front",
         {{"alias0", "/new"},
          {"alias1", "/hi /msg $1 hi"},
          {"alias2", "/j /join #$1"},
          {"alias3", "/q /quit"}},
         "alias0=/new\n; greetings\nalias1=/hi /msg $1 hi\n\n; joining\nalias2=/j /join #$1\n"
         "alias3=/q /quit\n; the end\n"},
        {"the first removed",
         {{"alias0", "/j /join #$1"}, {"alias1", "/q /quit"}},
         "; greetings\n\n; joining\nalias0=/j /join #$1\nalias1=/q /quit\n; the end\n"},
        {"one changed",
         {{"alias0", "/hi /msg $1 hello"}, {"alias1", "/j /join #$1"}, {"alias2", "/q /quit"}},
         "; greetings\nalias0=/hi /msg $1 hello\n\n; joining\nalias1=/j /join #$1\n"
         "Alias2=/q /quit\n; the end\n"},
        {"reordered",
         {{"alias0", "/q /quit"}, {"alias1", "/hi /msg $1 hi"}, {"alias2", "/j /join #$1"}},
         "alias0=/q /quit\n; greetings\nalias1=/hi /msg $1 hi\n\n; joining\n"
         "alias2=/j /join #$1\n; the end\n"},
        {"all removed", {}, "; greetings\n\n; joining\n; the end\n"},
    };
    for (const Case& c : cases) {
        Put(ini_, before);
        ASSERT_TRUE(WriteProfileSection("Aliases", c.entries, ini_)) << c.what;
        EXPECT_EQ(Get(ini_), std::string("[Top]\nk=v\n\n[aliases]\n") + c.section +
                                 "\n; about the next section\n[Next]\nx=1\n")
            << c.what;
        Entries read = ReadProfileSection("Aliases", ini_);
        for (auto& entry : read) entry.first = entry.first == "Alias2" ? "alias2" : entry.first;
        EXPECT_EQ(read, c.entries) << c.what;
    }
    // Blank lines alone do not keep an emptied section.
    Put(ini_, "[A]\nk=v\n[Users]\nu0=1:bob\n\nu1=2:carol\n[B]\nx=1\n");
    ASSERT_TRUE(WriteProfileSection("Users", {}, ini_));
    EXPECT_EQ(Get(ini_), "[A]\nk=v\n[B]\nx=1\n");

    // Large lists that change everywhere are still merged in bounded time, every line kept.
    std::string big = "[Events]\n";
    Entries turned;
    for (int i = 0; i < 3000; ++i) {
        big += "; note " + std::to_string(i) + "\ne" + std::to_string(i) + "=v" +
               std::to_string(i) + "\n";
        turned.emplace_back("e" + std::to_string(i), "v" + std::to_string(2999 - i));
    }
    Put(ini_, big);
    ASSERT_TRUE(WriteProfileSection("Events", turned, ini_));
    EXPECT_EQ(ReadProfileSection("Events", ini_), turned);
    const std::string after = Get(ini_);
    for (int i = 0; i < 3000; i += 499)
        EXPECT_NE(after.find("; note " + std::to_string(i) + "\n"), std::string::npos) << i;
}

TEST_F(ProfileTest, ChangesMadeByOthersAreSeen) {
    Put(ini_, "[A]\nk=1\n");
    EXPECT_EQ(Read("A", "k"), "1");
    Put(ini_, "[A]\nk=2\n");  // same size, likely the same time stamp
    EXPECT_EQ(Read("A", "k"), "2");
    ASSERT_TRUE(WritePrivateProfileString("A", "j", "3", ini_));
    EXPECT_EQ(Get(ini_), "[A]\nk=2\nj=3\n");
}

TEST_F(ProfileTest, FileMetadataIsKept) {
    Put(ini_, "[A]\nk=1\n");
    chmod(ini_.c_str(), 0640);
    ASSERT_TRUE(WritePrivateProfileString("A", "k", "2", ini_));
    struct stat st {};
    ASSERT_EQ(stat(ini_.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);

    // Writing through a link updates the file it points to and keeps the link.
    const std::string link = dir_ + "/link.ini";
    ASSERT_EQ(symlink(ini_.c_str(), link.c_str()), 0);
    ASSERT_TRUE(WritePrivateProfileString("A", "k", "3", link));
    ASSERT_EQ(lstat(link.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_EQ(Read("A", "k"), "3");
}

TEST_F(ProfileTest, FailedWritesAreReportedAndChangeNothing) {
    // A folder that cannot be written to.
    const std::string ro = dir_ + "/ro";
    const std::string ro_ini = ro + "/vesk.ini";
    ASSERT_EQ(mkdir(ro.c_str(), 0755), 0);
    Put(ro_ini, "[Vesk]\nnick=bob\n");
    ASSERT_EQ(chmod(ro_ini.c_str(), 0666), 0);  // the file itself may be written
    ASSERT_EQ(chmod(ro.c_str(), 0555), 0);
    EXPECT_TRUE(InChild([&] {
        errno = 0;
        return !WritePrivateProfileString("Vesk", "nick", "alice", ro_ini) && errno == EACCES &&
               !DeletePrivateProfileSection("Vesk", ro_ini) &&
               GetPrivateProfileString("Vesk", "nick", "", 0, ro_ini) == "bob";
    }));
    EXPECT_EQ(Get(ro_ini), "[Vesk]\nnick=bob\n");
    EXPECT_EQ(Entries(ro), std::vector<std::string>{"vesk.ini"});

    // A file made read-only.
    Put(ini_, "[Vesk]\nnick=bob\n");
    ASSERT_EQ(chmod(ini_.c_str(), 0444), 0);
    EXPECT_TRUE(InChild([&] { return !WritePrivateProfileString("Vesk", "nick", "alice", ini_); }));
    EXPECT_EQ(Get(ini_), "[Vesk]\nnick=bob\n");
    ASSERT_EQ(chmod(ini_.c_str(), 0644), 0);

    // The disk filling up in the middle of the write.
    const std::string big(100000, 'x');
    EXPECT_TRUE(InChild(
        [&] {
            signal(SIGXFSZ, SIG_IGN);
            const rlimit limit{4096, 4096};
            setrlimit(RLIMIT_FSIZE, &limit);
            errno = 0;
            return !WritePrivateProfileString("Vesk", "user", big, ini_) && errno == EFBIG;
        },
        false));
    EXPECT_EQ(Get(ini_), "[Vesk]\nnick=bob\n");
    EXPECT_EQ(Entries(dir_), (std::vector<std::string>{"ro", "test.ini"}));

    // A file that exists but cannot be read is never replaced by what was not read.
    const std::string folder = dir_ + "/folder.ini";
    ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
    EXPECT_FALSE(WritePrivateProfileString("A", "k", "v", folder));
    EXPECT_EQ(GetPrivateProfileString("A", "k", "def", 0, folder), "def");
}

}  // namespace
}  // namespace platform
