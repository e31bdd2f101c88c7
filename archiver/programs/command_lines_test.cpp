#include "archiver/programs/command_lines.h"

#include <gtest/gtest.h>

#include "archiver/programs/debian_commands.h"

namespace programs {
namespace {

TEST(CommandLines, ArchiverCommandText) {
    CommandInputs base;
    base.program = "C:\\ARJ\\ARJ.EXE";
    base.archive = "C:\\A.ARJ";
    base.file_list = "ONE.TXT TWO.TXT";
    base.target = "C:\\OUT";
    auto with = [&](auto change) {
        CommandInputs in = base;
        change(in);
        return in;
    };
    struct Case {
        const char* what;
        std::string got;
        const char* want;
    } cases[] = {
        {"ARJ add", ArjAddCommand(base), "C:\\ARJ\\ARJ.EXE a -iem3 C:\\A.ARJ ONE.TXT TWO.TXT"},
        {"ARJ freshen of an empty archive adds", ArjAddCommand(with([](auto& i) {
             i.mode = AddMode::kFreshen;
             i.archive_has_rows = false;
         })),
         "C:\\ARJ\\ARJ.EXE a -iem3 C:\\A.ARJ ONE.TXT TWO.TXT"},
        {"ARJ move, recursion, best, password, temp, list file", ArjAddCommand(with([](auto& i) {
             i.mode = AddMode::kMove;
             i.recurse = true;
             i.best_compression = true;
             i.password = "pw";
             i.temp_folder = "D:\\T";
             i.file_list = "@LIST.TMP";
             i.removable = true;
         })),
         "C:\\ARJ\\ARJ.EXE m -!@ -wD:\\T -gpw -ire1jm1 -vva C:\\A.ARJ @LIST.TMP"},
        {"ARJ update with full paths", ArjAddCommand(with([](auto& i) {
             i.mode = AddMode::kUpdate;
             i.full_paths = true;
         })),
         "C:\\ARJ\\ARJ.EXE u -im3 C:\\A.ARJ ONE.TXT TWO.TXT"},
        {"ARJ delete", ArjDeleteCommand(base),
         "C:\\ARJ\\ARJ.EXE d -i -p C:\\A.ARJ ONE.TXT TWO.TXT"},
        {"ARJ delete with a wildcard and a temporary folder", ArjDeleteCommand(with([](auto& i) {
             i.file_list = "*.TXT";
             i.temp_folder = "D:\\T";
         })),
         "C:\\ARJ\\ARJ.EXE d -i -wD:\\T C:\\A.ARJ *.TXT"},
        {"ARJ extract", ArjExtractCommand(base),
         "C:\\ARJ\\ARJ.EXE x -ijyc -p C:\\A.ARJ C:\\OUT\\ ONE.TXT TWO.TXT"},
        {"ARJ extract flat, overwriting, from a list file, to a root",
         ArjExtractCommand(with([](auto& i) {
             i.folder_names = false;
             i.overwrite = true;
             i.file_list = "@L";
             i.target = "D:";
             i.password = "pw";
         })),
         "C:\\ARJ\\ARJ.EXE e -ijyco -p -!@ -gpw C:\\A.ARJ D: @L"},
        {"ARJ self-extracting", ArjSelfExtractCommand(base), "C:\\ARJ\\ARJ.EXE y -je1 C:\\A.ARJ"},
        {"archive with a blank is quoted",
         ArjSelfExtractCommand(with([](auto& i) { i.archive = "C:\\MY A.ARJ"; })),
         "C:\\ARJ\\ARJ.EXE y -je1 \"C:\\MY A.ARJ\""},
        {"LHA add with recursion", LhaAddCommand(with([](auto& i) {
             i.program = "LHA";
             i.recurse = true;
         })),
         "LHA a /m1 /n1 /r1x1 C:\\A.ARJ ONE.TXT TWO.TXT"},
        {"LHA delete", LhaDeleteCommand(with([](auto& i) { i.program = "LHA"; })),
         "LHA d /m1 /p C:\\A.ARJ ONE.TXT TWO.TXT"},
        {"LHA extract, overwriting", LhaExtractCommand(with([](auto& i) {
             i.program = "LHA";
             i.overwrite = true;
             i.target = "C:\\";
         })),
         "LHA e /x1 /c1 /m1 /n1 /p C:\\A.ARJ C:\\ ONE.TXT TWO.TXT"},
        {"LHA self-extracting with folders", LhaSelfExtractCommand(with([](auto& i) {
             i.program = "LHA";
             i.any_folder = true;
         })),
         "LHA s /M1 /x1 C:\\A.ARJ"},
        {"ARC", ArcExtractCommand(with([](auto& i) {
             i.program = "C:\\ARC.EXE";
             i.overwrite = true;
         })),
         "C:\\ARC.EXE xo C:\\A.ARJ ONE.TXT TWO.TXT"},
        {"PKXARC", ArcExtractCommand(with([](auto& i) {
             i.program = "PKXARC.EXE";
             i.overwrite = true;
             i.file_list.clear();
         })),
         "PKXARC.EXE -r C:\\A.ARJ"},
        {"ARC-E", ArcExtractCommand(with([](auto& i) {
             i.program = "ARC-E.COM";
             i.overwrite = true;
         })),
         "ARC-E.COM C:\\A.ARJ ONE.TXT TWO.TXT /r"},
    };
    for (const auto& c : cases) EXPECT_EQ(c.got, c.want) << c.what;
}

// The argument vectors that run here: names with blanks or leading dashes stay one argument
// each and cannot be read as switches.
TEST(CommandLines, ProgramArgumentVectors) {
    ArgvInputs in;
    in.archive = "/a/my archive.arj";
    in.files = {"one two.txt", "-r"};
    auto run = [](formats::ArchiveKind kind, Operation op, ArgvInputs i) {
        std::string refusal;
        auto commands = ProgramCommands(kind, op, i, refusal);
        std::vector<std::string> flat;
        for (const auto& argv : commands) {
            std::string line;
            for (const auto& a : argv) line += (line.empty() ? "" : "|") + a;
            flat.push_back(line);
        }
        if (commands.empty()) flat.push_back("refused: " + refusal);
        return flat;
    };
    using V = std::vector<std::string>;
    ArgvInputs arj = in;
    arj.program = "arj";
    EXPECT_EQ(run(formats::kKindArj, Operation::kExtract, arj),
              V{"arj|x|-i|-jyc|-n|-p|--|/a/my archive.arj|one two.txt|-r"});
    arj.overwrite = true;
    arj.folder_names = false;
    arj.password = "p w";
    EXPECT_EQ(run(formats::kKindArj, Operation::kExtract, arj),
              V{"arj|e|-i|-jyco|-p|-gp w|--|/a/my archive.arj|one two.txt|-r"});
    arj.mode = AddMode::kFreshen;
    arj.archive_has_rows = false;
    arj.recurse = true;
    arj.password.clear();
    EXPECT_EQ(run(formats::kKindArj, Operation::kAdd, arj),
              V{"arj|a|-i|-y|-r|-e1|-m3|--|/a/my archive.arj|one two.txt|-r"});
    EXPECT_EQ(run(formats::kKindArj, Operation::kDelete, arj),
              V{"arj|d|-i|-y|-p|--|/a/my archive.arj|one two.txt|-r"});
    ArgvInputs lha = in;
    lha.program = "/usr/bin/lha";
    EXPECT_EQ(run(formats::kKindLzh, Operation::kExtract, lha),
              V{"/usr/bin/lha|-xq|/a/my archive.arj|one two.txt|-r"});
    EXPECT_EQ(run(formats::kKindLzh, Operation::kAdd, lha),
              V{"refused: lhasa's lha can only list, test and extract LZH archives; adding and "
                "deleting needs the jlha-utils package (its jlha)"});
    EXPECT_EQ(run(formats::kKindLzh, Operation::kTest, lha),
              V{"/usr/bin/lha|-tq|/a/my archive.arj"});
    lha.lha = LhaFlavour::kJlha;
    EXPECT_EQ(run(formats::kKindLzh, Operation::kAdd, lha),
              V{"/usr/bin/lha|a|/a/my archive.arj|one two.txt|-r"});
    EXPECT_EQ(run(formats::kKindLzh, Operation::kDelete, lha),
              V{"/usr/bin/lha|d|/a/my archive.arj|one two.txt|-r"});
    lha.archive_has_rows = true;
    lha.mode = AddMode::kFreshen;
    EXPECT_EQ(run(formats::kKindLzh, Operation::kAdd, lha),
              V{"refused: jlha cannot freshen archives; use Update"});
    EXPECT_EQ(run(formats::kKindArj, Operation::kTest, arj), V{"arj|t|-i|-y|--|/a/my archive.arj"});
    ArgvInputs nomarch = in;
    nomarch.program = "nomarch";
    EXPECT_EQ(run(formats::kKindArc, Operation::kExtract, nomarch),
              (V{"nomarch|/a/my archive.arj|one two.txt", "nomarch|/a/my archive.arj|-r"}));
    nomarch.files.clear();
    EXPECT_EQ(run(formats::kKindArc, Operation::kExtract, nomarch), V{"nomarch|/a/my archive.arj"});
    ArgvInputs arc = in;
    arc.program = "arc";
    arc.overwrite = true;
    EXPECT_EQ(run(formats::kKindArc, Operation::kExtract, arc),
              V{"arc|xo|/a/my archive.arj|one two.txt|-r"});
    EXPECT_EQ(run(formats::kKindArc, Operation::kDelete, arc),
              V{"refused: ARC archives can only be extracted"});
}

TEST(CommandLines, ProgramBaseNames) {
    EXPECT_EQ(ProgramBaseName("C:\\BIN\\ARJ.EXE"), "arj");
    EXPECT_EQ(ProgramBaseName("/usr/bin/nomarch"), "nomarch");
    EXPECT_EQ(ProgramBaseName("ARC-E.COM"), "arc-e");
    EXPECT_EQ(ProgramBaseName("/opt/x.y/arc"), "arc");
}

}  // namespace
}  // namespace programs
