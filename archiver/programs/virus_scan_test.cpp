#include "archiver/programs/virus_scan.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>

#include "archiver/engine/unzip/test_util.h"
#include "archiver/programs/private_folder.h"

namespace programs {
namespace {

using engine::testing_util::TempDir;

TEST(VirusScan, ArgumentsFromTheTemplate) {
    const std::string folder = "/tmp/scan dir";
    struct Case {
        const char* program;
        const char* scan_template;
        std::vector<std::string> want;  // "@" stands for a made file
    } cases[] = {
        {"clamscan", "-r %d", {"clamscan", "-r", "/tmp/scan dir"}},
        {"clamscan", "", {"clamscan", "/tmp/scan dir"}},
        {"scan",
         "/nomem *.* /all /sub /report %f",
         {"scan", "/nomem", "/tmp/scan dir/", "/all", "/sub", "/report", "@"}},
        {"C:\\DOS\\MSAV.EXE", "*.* /P", {"C:\\DOS\\MSAV.EXE", "/tmp/scan dir", "/P"}},
        {"scan", "--log=%f --in=%d", {"scan", "--log=@", "--in=/tmp/scan dir"}},
        {"wscan", "%wscan", {"wscan", "/LOAD", "@"}},
        {"scan", "--no-placeholder", {"scan", "--no-placeholder", "/tmp/scan dir"}},
    };
    for (const auto& c : cases) {
        std::vector<std::string> argv, made;
        std::string error;
        ASSERT_TRUE(
            BuildScanArguments(c.program, c.scan_template, folder + "/", argv, made, error));
        ASSERT_EQ(argv.size(), c.want.size()) << c.scan_template;
        size_t next_made = 0;
        for (size_t i = 0; i < argv.size(); ++i) {
            std::string want = c.want[i];
            size_t at = want.find('@');
            if (at != std::string::npos) {
                ASSERT_LT(next_made, made.size());
                want.replace(at, 1, made[next_made++]);
                EXPECT_NE(made[next_made - 1].find("/BVS"), std::string::npos);
            }
            EXPECT_EQ(argv[i], want) << c.scan_template;
        }
        EXPECT_EQ(next_made, made.size());
        if (std::string(c.scan_template) == "%wscan") {
            std::ifstream f(made[0]);
            std::string text{std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
            EXPECT_EQ(text, "/tmp/scan dir/*.*\n/all\n/sub\n/nomem");
        }
        for (const auto& m : made) std::remove(m.c_str());
    }
}

// The scan folder is private while the scanner runs and is gone afterwards, whatever the
// extraction left in it, and a failed extraction runs no scanner.
TEST(VirusScan, PrivateFolderRemovedAfterwards) {
    TempDir dir;
    std::ofstream(dir / "outside.txt") << "keep";
    std::string seen;
    ProgramLocations locations;
    locations.scan = "ls";
    locations.scan_template = "-la %d";
    ScanOutcome out = RunVirusScan(locations, [&](const std::string& folder, std::string&) {
        seen = folder;
        struct stat st {};
        EXPECT_EQ(stat(folder.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0700u);
        std::filesystem::create_directories(folder + "/ro/deeper");
        std::ofstream(folder + "/ro/deeper/f") << "x";
        std::ofstream(folder + "/member.txt") << "x";
        chmod((folder + "/ro").c_str(), 0500);
        std::filesystem::create_directory_symlink(dir.path, folder + "/link");
        return true;
    });
    EXPECT_TRUE(out.ran);
    EXPECT_EQ(out.exit_code, 0);
    EXPECT_EQ(out.message, kScanComplete);
    EXPECT_NE(out.output.find("member.txt"), std::string::npos) << out.output;
    EXPECT_FALSE(std::filesystem::exists(seen));
    EXPECT_TRUE(std::filesystem::exists(dir / "outside.txt")) << "the link was followed";

    bool scanned = false;
    locations.scan = "touch";
    locations.scan_template = "/nonexistent-dir/should-not-run";
    out = RunVirusScan(locations, [&](const std::string& folder, std::string& error) {
        seen = folder;
        error = "Error extracting";
        return false;
    });
    EXPECT_FALSE(out.ran || scanned);
    EXPECT_EQ(out.message, "Error extracting");
    EXPECT_FALSE(std::filesystem::exists(seen));

    locations.scan = "no-such-scanner-here";
    out = RunVirusScan(locations, [&](const std::string&, std::string&) { return true; });
    EXPECT_FALSE(out.ran);
    EXPECT_EQ(out.message, "Virus scanner not installed in Options/Program Locations dialog box");
}

// clamscan finds a test signature made here (no network): exit code 1 and the name in its
// output; a clean folder gives 0.
TEST(VirusScan, ClamscanWithALocalSignature) {
    UNZIP_TEST_NEEDS("clamscan");
    TempDir dir;
    std::ofstream(dir / "test.ndb")
        << "BorvanTestSig:0:*:626f7276616e2d746573742d7369676e6174757265\n";
    ProgramLocations locations;
    locations.scan = "clamscan";
    locations.scan_template = "--no-summary -d " + (dir / "test.ndb") + " -r %d";
    struct Case {
        const char* content;
        int exit_code;
    } cases[] = {{"xx borvan-test-signature xx", 1}, {"nothing to see", 0}};
    for (const auto& c : cases) {
        ScanOutcome out = RunVirusScan(locations, [&](const std::string& folder, std::string&) {
            std::ofstream(folder + "/sample.bin") << c.content;
            return true;
        });
        EXPECT_TRUE(out.ran) << out.message;
        EXPECT_EQ(out.exit_code, c.exit_code) << out.output;
        EXPECT_EQ(out.output.find("BorvanTestSig") != std::string::npos, c.exit_code == 1)
            << out.output;
    }
}

// A scan is complete only when the scanner scanned: exit code 0 or 1 and signatures loaded.
// Otherwise the message says it did not run and gives the scanner's own reason.
TEST(VirusScan, ResultMessages) {
    const std::string folder = "/tmp/borvan-scan.abc";
    struct Case {
        int exit_code;
        int signal;
        std::string output;
        bool completed;
        std::string message;
    } cases[] = {
        {0, 0, "/tmp/borvan-scan.abc/a.txt: OK\n", true, kScanComplete},
        {1, 0, "/tmp/borvan-scan.abc/a.txt: OK\n/tmp/borvan-scan.abc/d/b.bin: Sig FOUND\n", true,
         std::string(kScanComplete) + "\n\nThe scanner reported:\nd/b.bin: Sig FOUND"},
        {1, 0, "odd scanner says: b.bin is bad\n", true,
         std::string(kScanComplete) + "\n\nThe scanner reported:\nodd scanner says: b.bin is bad"},
        {2, 0,
         "LibClamAV Error: cli_loaddbdir: No supported database files found in /x\nERROR: Can't "
         "open file or directory\n",
         false,
         std::string(kScanDidNotRun) +
             "\nthe scanner ended with exit code 2\nLibClamAV Error: cli_loaddbdir: No "
             "supported database files found in /x\nERROR: Can't open file or directory"},
        {0, 0, "Known viruses: 0\nScanned files: 0\n", false,
         std::string(kScanDidNotRun) +
             "\nthe scanner loaded no virus signatures\nKnown viruses: 0\nScanned files: 0"},
        {134, 6, "", false, std::string(kScanDidNotRun) + "\nthe scanner ended by signal 6"},
    };
    for (const auto& c : cases) {
        bool completed = !c.completed;
        EXPECT_EQ(ScanResultMessage(c.exit_code, c.signal, c.output, folder, completed), c.message);
        EXPECT_EQ(completed, c.completed) << c.output;
    }
}

TEST(PrivateFolder, RemoveTreeLeavesLinkTargets) {
    TempDir dir;
    std::filesystem::create_directories(dir / "target");
    std::ofstream(dir / "target/precious") << "x";
    std::filesystem::create_directories(dir / "tree/a/b");
    std::ofstream(dir / "tree/a/b/f") << "x";
    std::filesystem::create_directory_symlink(dir / "target", dir / "tree/a/dirlink");
    std::filesystem::create_symlink(dir / "target/precious", dir / "tree/filelink");
    chmod((dir / "tree/a").c_str(), 0);
    EXPECT_TRUE(RemoveTree(dir / "tree"));
    EXPECT_FALSE(std::filesystem::exists(dir / "tree"));
    EXPECT_TRUE(std::filesystem::exists(dir / "target/precious"));
    // A link given as the tree is removed itself.
    std::filesystem::create_directory_symlink(dir / "target", dir / "toplink");
    EXPECT_TRUE(RemoveTree(dir / "toplink"));
    EXPECT_TRUE(std::filesystem::exists(dir / "target/precious"));
    EXPECT_TRUE(RemoveTree(dir / "never-there"));
}

}  // namespace
}  // namespace programs
