#include "archiver/programs/programs.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "archiver/engine/unzip/test_util.h"
#include "archiver/formats/arj_listing.h"

namespace programs {
namespace {

using engine::testing_util::TempDir;

std::string Slurp(const std::string& path) {
    std::ifstream f(path);
    return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

// A stand-in archiver that records its folder and arguments (one per line) and ends with the
// exit code it is given.
void WriteFakeProgram(const std::string& path, int exit_code, const std::string& log) {
    std::ofstream(path) << "#!/bin/sh\npwd > '" << log
                        << "'\nfor a in \"$@\"; do printf '%s\\n' \"$a\" >> '" << log
                        << "'; done\necho fake output\nexit " << exit_code << "\n";
    chmod(path.c_str(), 0755);
}

TEST(RunArchiveOperation, FailingProgramsAndTheirMessages) {
    TempDir dir;
    std::string log = dir / "log";
    struct Case {
        formats::ArchiveKind kind;
        int exit_code;
        const char* message;
    } cases[] = {
        {formats::kKindArj, 7, "Error 7:\nSimple user error (bad parameters)"},
        {formats::kKindArj, 3, "Error 3:\nCRC error (header or file CRC error)"},
        {formats::kKindArj, 42, "Unknown error 42"},
        {formats::kKindLzh, 1,
         "Error 1:\nCRC error, insufficient disk space, or files already exists"},
        {formats::kKindArc, 2, "Error extracting\nfake output\n"},
        {formats::kKindArj, 0, ""},
    };
    for (const auto& c : cases) {
        std::string program = dir / ("fake" + std::to_string(c.exit_code));
        WriteFakeProgram(program, c.exit_code, log);
        ProgramLocations locations{program, program, program, "", ""};
        OperationRequest request;
        request.kind = c.kind;
        request.args.archive = dir / "a b.arj";
        request.args.files = {"name with blanks.txt", "$(touch pwned)"};
        request.args.overwrite = true;
        request.folder = dir.path.string();
        request.member_names = {"name with blanks.txt", "sub/x"};
        OperationOutcome out = RunArchiveOperation(request, locations);
        EXPECT_TRUE(out.ran);
        EXPECT_EQ(out.ok, c.exit_code == 0);
        EXPECT_EQ(out.exit_code, c.exit_code);
        EXPECT_EQ(out.message, c.message) << c.exit_code;
        EXPECT_EQ(LastOutput(), "fake output\n");
        std::string args = Slurp(log);
        EXPECT_EQ(args.substr(0, args.find('\n')).rfind(dir.path.string() + "/.borvan-extract.", 0),
                  0u)
            << "runs in a new folder inside the target";
        EXPECT_NE(args.find("\n" + dir.path.string() + "/a b.arj\n"), std::string::npos) << args;
        EXPECT_NE(args.find("\nname with blanks.txt\n$(touch pwned)\n"), std::string::npos);
        EXPECT_FALSE(std::filesystem::exists(dir / "pwned"));
    }
}

TEST(RunArchiveOperation, RefusedBeforeAnythingRuns) {
    TempDir dir;
    std::string log = dir / "log";
    std::string program = dir / "fake";
    WriteFakeProgram(program, 0, log);
    struct Case {
        const char* what;
        formats::ArchiveKind kind;
        std::string program;
        std::string folder;
        std::vector<std::string> names;
        Operation op;
        std::string message;
    } cases[] = {
        {"not set",
         formats::kKindArj,
         "",
         dir.path.string(),
         {},
         Operation::kExtract,
         "ARJ not installed in Options/Program Locations dialog box"},
        {"not on the path",
         formats::kKindLzh,
         "no-such-archiver-here",
         dir.path.string(),
         {},
         Operation::kExtract,
         "LHA not installed in Options/Program Locations dialog box"},
        {"ARC not set",
         formats::kKindArc,
         "",
         dir.path.string(),
         {},
         Operation::kExtract,
         "ARC extraction not installed in Options/Program Locations dialog box"},
        {"missing target",
         formats::kKindArj,
         program,
         dir / "nowhere",
         {},
         Operation::kExtract,
         "Could not find the folder \"" + (dir / "nowhere") + "\""},
        {"climbing name",
         formats::kKindArj,
         program,
         dir.path.string(),
         {"ok.txt", "a/../../x"},
         Operation::kExtract,
         "The archive holds a member whose name leads out of the target folder (a/../../x); "
         "nothing was extracted"},
        {"absolute name",
         formats::kKindLzh,
         program,
         dir.path.string(),
         {"/etc/passwd"},
         Operation::kExtract,
         "The archive holds a member whose name leads out of the target folder (/etc/passwd); "
         "nothing was extracted"},
        {"arc cannot add",
         formats::kKindArc,
         program,
         dir.path.string(),
         {},
         Operation::kAdd,
         "ARC archives can only be extracted"},
    };
    for (const auto& c : cases) {
        std::filesystem::remove(log);
        ProgramLocations locations{c.program, c.program, c.program, "", ""};
        OperationRequest request;
        request.kind = c.kind;
        request.op = c.op;
        request.args.archive = dir / "a.arj";
        request.folder = c.folder;
        request.member_names = c.names;
        OperationOutcome out = RunArchiveOperation(request, locations);
        EXPECT_FALSE(out.ran) << c.what;
        EXPECT_EQ(out.message, c.message) << c.what;
        EXPECT_FALSE(std::filesystem::exists(log)) << c.what;
    }
}

// Without overwriting, LZH and ARC extractors write into a private folder first and only new
// files reach the target; existing ones, and anything behind a link, stay as they were.
TEST(RunArchiveOperation, ExistingFilesKeptWithoutOverwriting) {
    TempDir dir;
    std::string program = dir / "extractor";
    std::ofstream(program) << "#!/bin/sh\nmkdir -p sub linked\necho new > new.txt\n"
                              "echo new > old.txt\necho new > sub/deep.txt\n"
                              "echo new > linked/x\nln -s /etc/passwd link\n";
    chmod(program.c_str(), 0755);
    std::filesystem::create_directories(dir / "out/sub");
    std::filesystem::create_directories(dir / "elsewhere");
    std::filesystem::create_directory_symlink(dir / "elsewhere", dir / "out/linked");
    struct Case {
        formats::ArchiveKind kind;
        std::string message;
    } cases[] = {
        {formats::kKindLzh,
         "Error 1:\nCRC error, insufficient disk space, or files already exists\nlinked/\nold.txt"},
        {formats::kKindArc, "Error extracting\nlinked/\nold.txt"},
    };
    for (const auto& c : cases) {
        std::ofstream(dir / "out/old.txt") << "mine";
        std::filesystem::remove(dir / "out/new.txt");
        std::filesystem::remove(dir / "out/sub/deep.txt");
        ProgramLocations locations{program, program, program, "", ""};
        OperationRequest request;
        request.kind = c.kind;
        request.args.archive = dir / "a";
        request.folder = dir / "out";
        OperationOutcome out = RunArchiveOperation(request, locations);
        EXPECT_FALSE(out.ok);
        std::string message = out.message;
        // The order of a folder's entries is the file system's; compare them sorted.
        auto lines = [](const std::string& text) {
            std::vector<std::string> v;
            size_t start = 0;
            while (start <= text.size()) {
                size_t end = text.find('\n', start);
                if (end == std::string::npos) end = text.size();
                v.push_back(text.substr(start, end - start));
                start = end + 1;
            }
            std::sort(v.begin(), v.end());
            return v;
        };
        EXPECT_EQ(lines(message), lines(c.message));
        EXPECT_EQ(Slurp(dir / "out/old.txt"), "mine");
        EXPECT_EQ(Slurp(dir / "out/new.txt"), "new\n");
        EXPECT_EQ(Slurp(dir / "out/sub/deep.txt"), "new\n");
        EXPECT_FALSE(std::filesystem::exists(dir / "elsewhere/x"));
        EXPECT_FALSE(std::filesystem::is_symlink(dir / "out/link"));
        std::vector<std::string> left;
        for (const auto& e : std::filesystem::directory_iterator(dir / "out"))
            left.push_back(e.path().filename().string());
        std::sort(left.begin(), left.end());
        EXPECT_EQ(left, (std::vector<std::string>{"linked", "new.txt", "old.txt", "sub"}));
    }
}

// True while a process of the group runs (a zombie waiting for its reaper does not count).
bool GroupHasLiving(pid_t group) {
    std::error_code ec;
    for (std::filesystem::directory_iterator it("/proc", ec), end; !ec && it != end;
         it.increment(ec)) {
        std::string name = it->path().filename().string();
        if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos) continue;
        std::string stat = Slurp(it->path() / "stat");
        size_t paren = stat.rfind(") ");
        if (paren == std::string::npos) continue;
        char state = 0;
        int ppid = 0, pgrp = 0;
        if (std::sscanf(stat.c_str() + paren + 2, "%c %d %d", &state, &ppid, &pgrp) == 3 &&
            pgrp == group && state != 'Z')
            return true;
    }
    return false;
}

// A program that ends by a signal of its own is a crash, named so; one whose output folder
// passes its limit is ended with everything it started.
TEST(Runner, CrashesAndRunawayOutput) {
    RunResult r = RunCaptured({"sh", "-c", "kill -ABRT $$"}, "");
    EXPECT_EQ(r.signal, SIGABRT);
    EXPECT_EQ(CrashMessage("/usr/bin/arj", r.signal), "arj crashed: signal 6");
    TempDir dir;
    RunLimits limits{dir.path.string(), 1 << 20};
    r = RunCaptured({"sh", "-c", "echo $$ > pid; (yes > big) & wait"}, dir.path.string(), limits);
    EXPECT_TRUE(r.over_limit);
    EXPECT_EQ(r.signal, 0);
    // Everything in the program's group ends, the writer it left running too.
    pid_t group = std::stoi(Slurp(dir / "pid"));
    bool gone = false;
    for (int i = 0; i < 500 && !gone; ++i) {
        gone = !GroupHasLiving(group);
        if (!gone) usleep(20000);
    }
    EXPECT_TRUE(gone) << "the writer lives on";
}

// A program that will not stop talking is stopped once its output passes the limit.
TEST(Runner, EndlessOutputIsStopped) {
    RunResult r = RunCaptured({"yes", "Overwrite it (y/n)?"}, "");
    EXPECT_TRUE(r.started);
    EXPECT_FALSE(r.stopped || r.over_limit);
    EXPECT_EQ(r.exit_code, 128 + SIGTERM);
    EXPECT_EQ(r.signal, 0) << "ended by us, not a crash";
    EXPECT_EQ(r.output.size(), kMaxCapturedOutput);
    EXPECT_EQ(LastOutput().substr(0, 19), "Overwrite it (y/n)?");
}

TEST(RunArchiveOperation, NamesThatLeaveTheFolder) {
    struct Case {
        const char* name;
        bool leaves;
    } cases[] = {{"a.txt", false}, {"sub/a..b", false}, {"..", true},       {"../a", true},
                 {"a/../b", true}, {"a\\..\\b", true},  {"/abs", true},     {"\\abs", true},
                 {"C:x", true},    {"...", false},      {"a/..b/c", false}, {"", false}};
    for (const auto& c : cases) EXPECT_EQ(NameLeavesFolder(c.name), c.leaves) << c.name;
}

// The ARJ port adds, lists (by our reader), deletes and extracts, with names holding blanks.
TEST(RunArchiveOperation, ArjRoundTrip) {
    UNZIP_TEST_NEEDS("arj");
    TempDir dir;
    std::filesystem::create_directories(dir / "src/sub");
    std::ofstream(dir / "src/one two.txt") << "first";
    std::ofstream(dir / "src/sub/b.txt") << "second";
    std::ofstream(dir / "src/-r") << "dash";
    std::filesystem::create_directories(dir / "out");
    ProgramLocations locations{"arj", "", "", "", ""};
    OperationRequest add;
    add.kind = formats::kKindArj;
    add.op = Operation::kAdd;
    add.args.archive = dir / "t.arj";
    add.args.files = {"one two.txt", "sub/b.txt", "-r"};
    add.args.full_paths = true;
    add.folder = dir / "src";
    OperationOutcome out = RunArchiveOperation(add, locations);
    ASSERT_TRUE(out.ok) << out.message << LastOutput();
    std::vector<formats::ListedMember> members;
    std::string error;
    ASSERT_TRUE(formats::ReadArjListing(dir / "t.arj", members, error)) << error;
    ASSERT_EQ(members.size(), 3u);
    EXPECT_EQ(members[1].name, "sub/b.txt");

    OperationRequest del = add;
    del.op = Operation::kDelete;
    del.args.files = {"-r"};
    ASSERT_TRUE(RunArchiveOperation(del, locations).ok) << LastOutput();
    members.clear();
    ASSERT_TRUE(formats::ReadArjListing(dir / "t.arj", members, error)) << error;
    EXPECT_EQ(members.size(), 2u);

    OperationRequest x;
    x.kind = formats::kKindArj;
    x.args.archive = dir / "t.arj";
    x.folder = dir / "out";
    for (const auto& m : members) x.member_names.push_back(m.name);
    out = RunArchiveOperation(x, locations);
    ASSERT_TRUE(out.ok) << out.message << LastOutput();
    EXPECT_EQ(Slurp(dir / "out/one two.txt"), "first");
    EXPECT_EQ(Slurp(dir / "out/sub/b.txt"), "second");
    // Without overwriting, an existing file stays and ARJ's warning code is reported.
    std::ofstream(dir / "out/one two.txt") << "changed";
    out = RunArchiveOperation(x, locations);
    EXPECT_FALSE(out.ok);
    EXPECT_EQ(out.message,
              "Error 1:\nWarning: e.g. file not found, negative answer to prompt\none "
              "two.txt\nsub/b.txt");
    EXPECT_EQ(Slurp(dir / "out/one two.txt"), "changed");
    x.args.overwrite = true;
    EXPECT_TRUE(RunArchiveOperation(x, locations).ok) << LastOutput();
    EXPECT_EQ(Slurp(dir / "out/one two.txt"), "first");
}

// Missing keys take the Debian programs found on the PATH; a key set empty stays empty.
TEST(ProgramLocations, DefaultsFromThePath) {
    TempDir dir;
    for (const char* p : {"arj", "nomarch", "clamscan"}) WriteFakeProgram(dir / p, 0, dir / "log");
    std::string old_path = std::getenv("PATH") ? std::getenv("PATH") : "";
    setenv("PATH", dir.path.c_str(), 1);
    struct Case {
        const char* ini;
        ProgramLocations want;
    } cases[] = {
        {"", {"arj", "", "nomarch", "clamscan", "-r %d"}},
        {"[Programs]\narj=\nlha=/opt/lha\narc=arc\n", {"", "/opt/lha", "arc", "clamscan", "-r %d"}},
        {"[Programs]\nscan=/opt/scanner\n", {"arj", "", "nomarch", "/opt/scanner", ""}},
        {"[Programs]\nscanp=--quiet %d\n", {"arj", "", "nomarch", "clamscan", "--quiet %d"}},
    };
    for (const auto& c : cases) {
        std::ofstream(dir / "borvan32.ini") << c.ini;
        ProgramLocations got = LoadProgramLocations(dir / "borvan32.ini");
        EXPECT_EQ(got.arj, c.want.arj) << c.ini;
        EXPECT_EQ(got.lha, c.want.lha) << c.ini;
        EXPECT_EQ(got.arc, c.want.arc) << c.ini;
        EXPECT_EQ(got.scan, c.want.scan) << c.ini;
        EXPECT_EQ(got.scan_template, c.want.scan_template) << c.ini;
    }
    setenv("PATH", old_path.c_str(), 1);
}

}  // namespace
}  // namespace programs
