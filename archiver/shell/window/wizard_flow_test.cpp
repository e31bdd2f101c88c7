#include "archiver/shell/window/wizard_flow.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

namespace window {
namespace {

namespace fs = std::filesystem;

class WizardFlowTest : public testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/wizard_flow_XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
        Write("a.zip", "PK\x05\x06" + std::string(18, '\0'));
        Write("notes.txt", "text");
        fs::create_directories(dir_ + "/photos/sub");
        Write("photos/sub/b.jpg", "b");
    }
    void TearDown() override { fs::remove_all(dir_); }
    void Write(const std::string& name, const std::string& data) {
        std::ofstream(dir_ + "/" + name, std::ios::binary) << data;
    }
    std::string P(const std::string& name) const { return dir_ + "/" + name; }
    std::string dir_;
};

TEST(WizardDefaults, FolderAndArchiveNames) {
    const struct {
        const char* archive;
        const char* folder;
    } unpack[] = {
        {"/x/photos.zip", "/x/photos"},   {"/x/photos.tar.gz", "/x/photos"},
        {"/x/photos.TAR.Z", "/x/photos"}, {"/x/a.tgz", "/x/a"},
        {"/x/data", "/x/data_files"},     {"/x/.zip", "/x/.zip_files"},
    };
    for (const auto& c : unpack) EXPECT_EQ(DefaultUnpackFolder(c.archive), c.folder) << c.archive;

    const struct {
        const char* path;
        const char* with_zip;
    } names[] = {{"/x/new", "/x/new.zip"},
                 {"/x/new.zip", "/x/new.zip"},
                 {"/x/.hidden", "/x/.hidden.zip"},
                 {"/x/a.b/c", "/x/a.b/c.zip"},
                 {"", ""}};
    for (const auto& c : names) EXPECT_EQ(WithZipName(c.path), c.with_zip) << c.path;

    const struct {
        std::vector<std::string> items;
        const char* common;
    } common[] = {
        {{"/x/a/f"}, "/x/a"},
        {{"/x/a/f", "/x/b/g"}, "/x"},
        {{"/x/a/f", "/x/a/g/h"}, "/x/a"},
        {{"/x", "/y"}, "/"},
        {{}, ""},
    };
    for (const auto& c : common) EXPECT_EQ(CommonFolder(c.items), c.common);
}

TEST_F(WizardFlowTest, PackArchiveNamedAfterWhatIsPacked) {
    EXPECT_EQ(DefaultPackArchive({P("photos")}), P("photos.zip"));
    EXPECT_EQ(DefaultPackArchive({P("notes.txt")}), P("notes.zip"));
    // A zip archive packed on its own is never named as itself.
    EXPECT_EQ(DefaultPackArchive({P("a.zip")}), P("a_packed.zip"));
    // Several items: named after their common folder, inside it.
    std::string name = fs::path(dir_).filename().string();
    EXPECT_EQ(DefaultPackArchive({P("photos"), P("notes.txt")}), P(name + ".zip"));
}

TEST_F(WizardFlowTest, ProblemsThatKeepAStep) {
    const struct {
        std::string (*check)(const std::string&);
        std::string path;
        const char* want;  // part of the message; empty: no problem
    } cases[] = {
        {UnpackArchiveProblem, "", "Choose the archive"},
        {UnpackArchiveProblem, P("missing.zip"), "does not exist"},
        {UnpackArchiveProblem, P("photos"), "is a folder"},
        {UnpackArchiveProblem, P("a.zip"), ""},
        {UnpackTargetProblem, "", "Choose the folder"},
        {UnpackTargetProblem, P("notes.txt"), "is a file, not a folder"},
        {UnpackTargetProblem, P("notes.txt/inside"), "is a file, not a folder"},
        {UnpackTargetProblem, P("new/deeper"), ""},
        {UnpackTargetProblem, P("photos"), ""},
        {PackArchiveProblem, "", "Type the name"},
        {PackArchiveProblem, P("x.tar"), "makes zip archives"},
        {PackArchiveProblem, P("photos"), "is a folder"},
        {PackArchiveProblem, P("notes.txt/x.zip"), "is a file, not a folder"},
        {PackArchiveProblem, P("a.zip"), ""},
        {PackArchiveProblem, P("new.zip"), ""},
    };
    for (const auto& c : cases) {
        std::string problem = c.check(c.path);
        if (*c.want == '\0')
            EXPECT_EQ(problem, "") << c.path;
        else
            EXPECT_NE(problem.find(c.want), std::string::npos) << c.path << ": " << problem;
    }
    EXPECT_NE(PackItemsProblem({}).find("Choose the files"), std::string::npos);
    EXPECT_NE(PackItemsProblem({P("photos"), P("gone")}).find("does not exist"), std::string::npos);
    EXPECT_NE(PackItemsProblem({"/"}), "");
    EXPECT_EQ(PackItemsProblem({P("photos"), P("notes.txt")}), "");
    // An existing file that is not a zip archive is not added to.
    Write("old.gz", "\x1f\x8b\x08");
    EXPECT_NE(PackArchiveProblem(P("old.gz")), "");
}

TEST_F(WizardFlowTest, UnpackStepsBackKeepsChoicesAndDefaultsFollow) {
    WizardFlow f;
    EXPECT_EQ(f.StepNumber(), 1);
    f.Back();  // nothing before the first step
    EXPECT_EQ(f.step, WizardStep::kTask);
    EXPECT_EQ(f.Next(), "");
    EXPECT_EQ(f.step, WizardStep::kUnpackArchive);
    EXPECT_EQ(f.StepCount(), 3);
    EXPECT_NE(f.Next(), "");  // nothing chosen: the step stays
    EXPECT_EQ(f.step, WizardStep::kUnpackArchive);
    f.choices.archive = P("missing.zip");
    EXPECT_NE(f.Next(), "");
    f.choices.archive = P("a.zip");
    EXPECT_EQ(f.Next(), "");
    EXPECT_EQ(f.step, WizardStep::kUnpackTarget);
    EXPECT_TRUE(f.AtGo());
    EXPECT_EQ(f.choices.target, P("a"));

    // Back keeps the archive; another archive moves the default folder along.
    f.Back();
    EXPECT_EQ(f.choices.archive, P("a.zip"));
    Write("b.zip", "PK\x05\x06" + std::string(18, '\0'));
    f.choices.archive = P("b.zip");
    EXPECT_EQ(f.Next(), "");
    EXPECT_EQ(f.choices.target, P("b"));

    // A folder of the user's own stays when the archive changes.
    f.choices.target = P("mine");
    f.Back();
    f.choices.archive = P("a.zip");
    EXPECT_EQ(f.Next(), "");
    EXPECT_EQ(f.choices.target, P("mine"));

    f.choices.target = P("notes.txt");
    EXPECT_NE(f.Next(), "");
    EXPECT_EQ(f.step, WizardStep::kUnpackTarget);
    f.choices.target = P("mine") + "/";
    EXPECT_EQ(f.Next(), "");
    EXPECT_EQ(f.step, WizardStep::kRun);
    EXPECT_EQ(f.choices.target, P("mine"));
    f.Back();  // the run is not undone
    EXPECT_EQ(f.step, WizardStep::kRun);
    f.Finish();
    EXPECT_EQ(f.step, WizardStep::kSummary);
    f.StartOver();
    EXPECT_EQ(f.step, WizardStep::kTask);
    EXPECT_EQ(f.choices.archive, P("a.zip"));
}

TEST_F(WizardFlowTest, PackStepsTakeRelativePathsAndAddZip) {
    WizardFlow f;
    f.choices.task = WizardTask::kPack;
    ASSERT_EQ(f.Next(), "");
    EXPECT_EQ(f.step, WizardStep::kPackFiles);
    EXPECT_EQ(f.StepCount(), 4);
    EXPECT_NE(f.Next(), "");  // nothing chosen

    char here[4096];
    ASSERT_NE(getcwd(here, sizeof here), nullptr);
    ASSERT_EQ(chdir(dir_.c_str()), 0);
    f.choices.items = {"photos/", ""};
    std::string problem = f.Next();
    ASSERT_EQ(chdir(here), 0);
    ASSERT_EQ(problem, "");
    EXPECT_EQ(f.choices.items, std::vector<std::string>{P("photos")});
    EXPECT_EQ(f.step, WizardStep::kPackArchive);
    EXPECT_EQ(f.choices.pack_archive, P("photos.zip"));

    f.choices.pack_archive = P("packed");
    EXPECT_EQ(f.Next(), "");
    EXPECT_EQ(f.choices.pack_archive, P("packed.zip"));
    EXPECT_EQ(f.step, WizardStep::kPackOptions);
    EXPECT_TRUE(f.AtGo());
    EXPECT_EQ(f.StepNumber(), 4);

    // Back twice and forward again: the typed name stays, the items stay.
    f.Back();
    f.Back();
    EXPECT_EQ(f.step, WizardStep::kPackFiles);
    EXPECT_EQ(f.Next(), "");
    EXPECT_EQ(f.choices.pack_archive, P("packed.zip"));
    EXPECT_EQ(f.Next(), "");
    f.choices.compression = 17;  // a damaged setting falls back into range
    EXPECT_EQ(f.Next(), "");
    EXPECT_EQ(f.choices.compression, kWizardCompressionChoices - 1);
    EXPECT_EQ(f.step, WizardStep::kRun);
}

TEST(WizardPath, ExpandsHomeAndDropsSlashes) {
    setenv("HOME", "/home/someone", 1);
    EXPECT_EQ(WizardPath("~/a/b/"), "/home/someone/a/b");
    EXPECT_EQ(WizardPath("/x/./y/../z"), "/x/z");
    EXPECT_EQ(WizardPath("/"), "/");
    EXPECT_EQ(WizardPath(""), "");
}

}  // namespace
}  // namespace window
