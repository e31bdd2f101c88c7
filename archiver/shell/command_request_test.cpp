#include "archiver/shell/command_request.h"

#include <gtest/gtest.h>

namespace shell {
namespace {

using Words = std::vector<std::string>;

TEST(CommandRequestTest, CommandLanguage) {
    const struct {
        Words line;
        CommandAction action;
        std::string archive;
        bool recurse, paths;
        int compression;
        Words files;
    } cases[] = {
        {{"-a", "-r", "-ex", "/out/new", "/data/*.*"},
         CommandAction::kAdd,
         "/out/new.zip",
         true,
         false,
         kCompressMaximum,
         {"/data/*.*"}},
        {{"-a", "arch"}, CommandAction::kAdd, "arch.zip", false, false, kCompressNormal, {"*.*"}},
        {{"-f", "-p", "-EF", "a.zip", "x", "y"},
         CommandAction::kFreshen,
         "a.zip",
         false,
         true,
         kCompressFast,
         {"x", "y"}},
        {{"-u", "-es", "dir.d/arch", "x"},
         CommandAction::kUpdate,
         "dir.d/arch.zip",
         false,
         false,
         kCompressSuperFast,
         {"x"}},
        {{"-M", "-e0", "-R", "b.old", "x"},
         CommandAction::kMove,
         "b.old",
         true,
         false,
         kCompressNone,
         {"x"}},
        {{"-a", "\"my arch\"", "x"},
         CommandAction::kAdd,
         "\"my arch.zip\"",
         false,
         false,
         kCompressNormal,
         {"x"}},
    };
    for (const auto& c : cases) {
        CommandRequest r = ParseCommandLine(c.line);
        SCOPED_TRACE(c.line[0] + " " + c.archive);
        EXPECT_EQ(r.error, "");
        EXPECT_EQ(r.action, c.action);
        EXPECT_EQ(r.archive, c.archive);
        EXPECT_EQ(r.recurse, c.recurse);
        EXPECT_EQ(r.save_folder_info, c.paths);
        EXPECT_EQ(r.compression, c.compression);
        EXPECT_EQ(r.file_names, c.files);
        EXPECT_TRUE(r.no_handover);
        EXPECT_FALSE(MayHandOver(r));
    }
}

TEST(CommandRequestTest, ExtractCommand) {
    CommandRequest r = ParseCommandLine({"-e", "-o", "arch", "/target"});
    EXPECT_EQ(r.action, CommandAction::kExtract);
    EXPECT_EQ(r.archive, "arch.zip");
    EXPECT_EQ(r.extract_folder, "/target");
    EXPECT_TRUE(r.overwrite);
    EXPECT_FALSE(r.no_folder_names);
    EXPECT_TRUE(r.extract_without_dialog);

    r = ParseCommandLine({"-e", "-j", "arch.zip"});
    EXPECT_EQ(r.extract_folder, ".");
    EXPECT_TRUE(r.no_folder_names);
    EXPECT_FALSE(r.overwrite);
}

TEST(CommandRequestTest, ValidationErrors) {
    // Each error names what was refused.
    const struct {
        Words line;
        const char* named;
    } bad[] = {
        {{"-a"}, "no archive named after -a"},
        {{"-a", "-r"}, "no archive named after -a"},
        {{"-e", "-ex", "arch"},
         "\"-ex\" is not an option of -e"},  // a compression letter is an add option
        {{"-a", "-o", "arch"}, "\"-o\" is not an option of -a"},  // overwrite is an extract option
        {{"-e", "-r", "arch"}, "\"-r\" is not an option of -e"},  // recurse is an add option
        {{"-a", "-eq", "arch"}, "\"-eq\" is not an option of -a"},  // no such compression
        {{"-a", "-rr", "arch"}, "\"-rr\" is not an option of -a"},  // an option is one letter
        {{"-x", "arch"}, "\"-x\" is not a command"},
        {{"-ab", "arch"}, "\"-ab\" is not a command"},  // a command is one letter
        {{"-", "arch"}, "\"-\" is not a command"},
        {{"/nobmp", "-a"}, "no archive named after -a"},  // the command language after a switch
    };
    for (const auto& c : bad) {
        const Words& line = c.line;
        CommandRequest r = ParseCommandLine(line);
        EXPECT_EQ(r.error.rfind(std::string(kParameterValidationError) + ": ", 0), 0u) << r.error;
        EXPECT_NE(r.error.find(c.named), std::string::npos) << r.error;
        // The line then counts as empty.
        EXPECT_EQ(r.action, CommandAction::kNone);
        EXPECT_TRUE(r.archive.empty());
        EXPECT_TRUE(r.names.empty());
        EXPECT_FALSE(r.no_bitmaps);
        // Said by this instance, never handed to a running one, which would end it with 0.
        EXPECT_FALSE(MayHandOver(r));
    }
}

TEST(CommandRequestTest, StartsInTheWizard) {
    const struct {
        Words args;
        int setting;
        bool want;
    } cases[] = {
        {{}, 0, false},
        {{}, 1, true},
        {{"a.zip"}, 1, true},  // an archive to open is no operation
        {{"/wizard"}, 0, true},
        {{"/nowizard"}, 1, false},
        {{"/wizard", "/nowizard"}, 0, false},
        {{"-a", "new.zip", "f.txt"}, 1, false},
        {{"-e", "a.zip", "out"}, 1, false},
        {{"/extract", "a.zip"}, 1, false},
        {{"/extractx", "out", "a.zip"}, 1, false},
        {{"/vscan", "a.zip"}, 1, false},
        {{"/fmx", "a.zip"}, 1, false},
        {{"/fm", "a.zip"}, 1, true},
        {{"-%", "a.zip"}, 1, false},
        {{"/addx", "f.txt"}, 1, false},
        {{"-q", "a.zip"}, 1, false},  // a line that did not parse
        {{"/wizard"}, 2, true},
        {{}, 2, false},
    };
    for (const auto& c : cases) {
        std::string line;
        for (const std::string& w : c.args) line += w + " ";
        EXPECT_EQ(StartsInWizard(ParseCommandLine(c.args), c.setting), c.want)
            << line << "/ setting " << c.setting;
    }
}

TEST(CommandRequestTest, Switches) {
    CommandRequest r = ParseCommandLine({"/NOBMP", "/wizard", "-min", "/cd", "a.zip", "b.zip"});
    EXPECT_TRUE(r.no_bitmaps);
    EXPECT_TRUE(r.wizard);
    EXPECT_TRUE(r.minimised);
    EXPECT_TRUE(r.change_to_archive_folder);
    EXPECT_EQ(r.archive, "a.zip");
    EXPECT_EQ(r.names, (Words{"a.zip", "b.zip"}));
    EXPECT_TRUE(MayHandOver(r));

    // Switches are tested once each in a fixed order: one out of order is a name.
    r = ParseCommandLine({"/cd", "/nobmp"});
    EXPECT_TRUE(r.change_to_archive_folder);
    EXPECT_FALSE(r.no_bitmaps);
    EXPECT_EQ(r.names, (Words{"/nobmp"}));

    r = ParseCommandLine({"/wizard", "/nowizard", "-%", "x.zip"});
    EXPECT_FALSE(r.wizard);
    EXPECT_TRUE(r.operation_first);

    r = ParseCommandLine({"/wizard", "-*"});
    EXPECT_FALSE(r.wizard);  // any requested operation clears it
    EXPECT_TRUE(r.operation_second);

    r = ParseCommandLine({"/extract", "a.zip"});
    EXPECT_TRUE(r.extract_dialog);
    EXPECT_FALSE(MayHandOver(r));
    EXPECT_EQ(r.archive, "a.zip");

    r = ParseCommandLine({"/extractx", "\"/out dir\"", "a.zip"});
    EXPECT_TRUE(r.extract_without_dialog);
    EXPECT_EQ(r.extract_folder, "/out dir");
    EXPECT_EQ(r.archive, "a.zip");

    r = ParseCommandLine({"/extractx", "\"/out", "a.zip"});  // an unclosed quote ends the line
    EXPECT_EQ(r.extract_folder, "/out");
    EXPECT_TRUE(r.archive.empty());

    r = ParseCommandLine({"/addx", "file.txt", "ignored"});
    EXPECT_EQ(r.drop_add_name, "file.txt");
    EXPECT_TRUE(r.operation_first);
    EXPECT_TRUE(r.names.empty());

    r = ParseCommandLine({"/fmx", "/vscan", "a.zip"});
    EXPECT_TRUE(r.from_file_manager);
    EXPECT_TRUE(r.virus_scan);
    EXPECT_FALSE(MayHandOver(r));

    r = ParseCommandLine({"/fm", "/NI", "a.zip"});
    EXPECT_TRUE(r.from_file_manager);
    EXPECT_TRUE(r.no_handover);
    EXPECT_EQ(r.archive, "a.zip");

    EXPECT_TRUE(ParseCommandLine({"/fmc", "x"}).file_manager_config);
    EXPECT_TRUE(ParseCommandLine({"/inichange", "a.zip"}).inichange);
    EXPECT_TRUE(ParseCommandLine({"/inichange", "a.zip"}).names.empty());
}

TEST(CommandRequestTest, SetupModesOnlyAsTheWholeRest) {
    const struct {
        Words line;
        std::string mode;
        bool debug;
        Words names;
    } cases[] = {
        {{"/install"}, "install", false, {}},
        {{"/installd"}, "installd", true, {}},
        {{"/noicon", "/installs"}, "installs", false, {}},
        {{"/cleaninstall"}, "cleaninstall", false, {}},
        {{"/DEBUGX"}, "", true, {}},
        {{"/install", "a.zip"}, "", false, {"/install", "a.zip"}},
    };
    for (const auto& c : cases) {
        CommandRequest r = ParseCommandLine(c.line);
        EXPECT_EQ(r.setup_mode, c.mode) << c.line[0];
        EXPECT_EQ(r.debug_log, c.debug) << c.line[0];
        EXPECT_EQ(r.names, c.names) << c.line[0];
    }
}

TEST(CommandRequestTest, AbsolutePathsAreNotSwitches) {
    // A switch matches a whole word, so absolute paths that begin like one stay paths.
    for (const char* path : {"/cdrom/a.zip", "/fmnt/a.zip", "/extracted/a.zip", "/NIX/a.zip",
                             "/installers/a.zip", "/vscans/a.zip"}) {
        CommandRequest r = ParseCommandLine({path});
        EXPECT_EQ(r.archive, path);
        EXPECT_FALSE(r.change_to_archive_folder || r.from_file_manager || r.extract_dialog ||
                     r.no_handover || r.virus_scan || !r.setup_mode.empty())
            << path;
    }
    // After "--" nothing is a switch or a command.
    CommandRequest r = ParseCommandLine({"--", "-a", "/cd"});
    EXPECT_EQ(r.action, CommandAction::kNone);
    EXPECT_EQ(r.names, (Words{"-a", "/cd"}));
}

TEST(CommandRequestTest, FrontEnd) {
    const struct {
        Words args;
        bool in, out;
        FrontEnd expect;
    } cases[] = {
        {{}, true, true, FrontEnd::kManager},
        {{"a.zip"}, true, true, FrontEnd::kManager},
        {{"-e", "-o", "a", "t"}, true, true, FrontEnd::kManager},
        {{"-a", "a", "x"}, true, true, FrontEnd::kManager},
        {{"-l", "a.zip"}, true, true, FrontEnd::kHeadless},
        {{"-t", "a.zip"}, true, true, FrontEnd::kHeadless},
        {{"-d", "a.zip", "x"}, true, true, FrontEnd::kHeadless},
        {{"--headless", "a.zip"}, true, true, FrontEnd::kHeadless},
        {{"-e", "--yes", "a.zip"}, true, true, FrontEnd::kHeadless},
        {{"--sort=name", "a.zip"}, true, true, FrontEnd::kHeadless},
        // A cipher goes with a password, which is never typed into the window's command line.
        {{"-a", "--encrypt=aes256", "a", "x"}, true, true, FrontEnd::kHeadless},
        {{"--mail=mime", "a.zip"}, true, true, FrontEnd::kHeadless},
        // The meter belongs to the headless front end: asking for it (or not) runs there.
        {{"-e", "--progress", "a.zip"}, true, true, FrontEnd::kHeadless},
        {{"-a", "--no-progress", "a", "x"}, true, true, FrontEnd::kHeadless},
        {{"a.zip"}, false, true, FrontEnd::kHeadless},
        {{"a.zip"}, true, false, FrontEnd::kHeadless},
        {{}, false, false, FrontEnd::kUsage},
        {{"--", "-l"}, true, true, FrontEnd::kManager},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ChooseFrontEnd(c.args, c.in, c.out), c.expect)
            << (c.args.empty() ? "" : c.args[0]) << " " << c.in << c.out;
}

}  // namespace
}  // namespace shell
