#include "archiver/programs/setup_install.h"

#include <gtest/gtest.h>

namespace programs {
namespace {

TEST(SetupInstall, RecordsRoundTripAndDamagedOnesAreRefused) {
    InstallRecord r;
    r.prefix = "/home/u/.local";
    r.files["bin/tool"] = FileState{10, 1700000000123456789, false};
    r.files["share/x y/link"] = FileState{4, 5, true};
    InstallRecord back;
    ASSERT_TRUE(ParseInstallRecord(InstallRecordText(r), back));
    EXPECT_EQ(back.prefix, r.prefix);
    ASSERT_EQ(back.files.size(), 2u);
    EXPECT_EQ(back.files["bin/tool"].mtime_ns, 1700000000123456789);
    EXPECT_TRUE(back.files["share/x y/link"].link);

    const char* damaged[] = {
        "",
        "prefix\trelative\n",
        "prefix\t/p\nfile\t1\t2\t../out\n",
        "prefix\t/p\nfile\t1\t2\t/abs\n",
        "prefix\t/p\nfile\t1\t2\ta/./b\n",
        "prefix\t/p\nfile\tx\t2\ta\n",
        "prefix\t/p\nfile\t1\t\ta\n",
        "prefix\t/p\nfolder\t1\t2\ta\n",
        "prefix\t/p\nfile\t1\t2\n",
    };
    for (const char* text : damaged) EXPECT_FALSE(ParseInstallRecord(text, back)) << text;
}

TEST(SetupInstall, WrittenFilesAreTheNewAndTheChanged) {
    std::map<std::string, FileState> before = {{"same", {1, 1, false}},
                                               {"grown", {1, 1, false}},
                                               {"touched", {1, 1, false}},
                                               {"gone", {1, 1, false}}};
    std::map<std::string, FileState> after = {{"same", {1, 1, false}},
                                              {"grown", {2, 1, false}},
                                              {"touched", {1, 2, false}},
                                              {"new", {0, 3, true}}};
    auto written = WrittenFiles(before, after);
    std::vector<std::string> names;
    for (const auto& [name, state] : written) names.push_back(name);
    EXPECT_EQ(names, (std::vector<std::string>{"grown", "new", "touched"}));
}

}  // namespace
}  // namespace programs
