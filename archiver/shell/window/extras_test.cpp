#include "archiver/shell/window/extras.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "archiver/mail/uu_codec.h"

namespace window {
namespace {

TEST(ExtrasTest, UuencodeMatchesKnownEncodings) {
    struct Case {
        std::string data, want;
    };
    // Checked against Python's binascii.b2a_uu, which writes "`" for zero bits as we do.
    const Case kCases[] = {
        {"", "begin 644 f\n`\nend\n"},
        {"Cat", "begin 644 f\n#0V%T\n`\nend\n"},
        {"a", "begin 644 f\n!80``\n`\nend\n"},
        {std::string(46, 'x'),
         "begin 644 f\nM>'AX>'AX>'AX>'AX>'AX>'AX>'AX>'AX>'AX>'AX>'AX>'AX>'AX>'AX>'AX\n!>```\n`\n"
         "end\n"},
    };
    for (const Case& c : kCases)
        EXPECT_EQ(mail::UuEncode(c.data, "f", 0644, mail::UuAlphabet::kUu), c.want)
            << c.data.size();
}

TEST(ExtrasTest, UuencodedFileIsWrittenBesideTheArchive) {
    std::string dir = testing::TempDir() + "/uue_test";
    std::filesystem::create_directories(dir);
    std::string archive = dir + "/a.zip";
    std::ofstream(archive, std::ios::binary)
        << std::string("PK\x05\x06", 4) << std::string(18, '\0');
    std::string error;
    std::string out = WriteUuencodedArchive(archive, error);
    ASSERT_EQ(out, archive + ".uue") << error;
    std::ifstream in(out);
    std::string first;
    std::getline(in, first);
    EXPECT_EQ(first, "begin 644 a.zip");
    EXPECT_TRUE(WriteUuencodedArchive(dir + "/missing.zip", error).empty());
    EXPECT_FALSE(error.empty());
    std::filesystem::remove_all(dir);
}

TEST(ExtrasTest, LauncherQuotesThePathsAndKeepsOneLinePerKey) {
    std::string entry = DesktopEntry("/tmp/we\"ird $x `y` 100%\nname.zip", "/usr/bin/borvan32");
    // A plain program path stays bare; the archive's reserved characters are escaped inside
    // quotes, "%" doubled, and the line break kept inside the one value.
    EXPECT_NE(entry.find("Exec=/usr/bin/borvan32 \"/tmp/we\\\\\"ird \\\\$x \\\\`y\\\\` "
                         "100%%\\nname.zip\"\n"),
              std::string::npos)
        << entry;
    // No line of the file is anything but a key, so the name cannot add one.
    std::istringstream lines(entry);
    std::string line;
    std::getline(lines, line);
    EXPECT_EQ(line, "[Desktop Entry]");
    while (std::getline(lines, line)) EXPECT_NE(line.find('='), std::string::npos) << line;
    EXPECT_EQ(
        MailArguments("/a/b c.zip"),
        (std::vector<std::string>{"xdg-email", "--attach", "/a/b c.zip", "--subject", "b c.zip"}));
}

TEST(ExtrasTest, ViewerLinesSplitExpandAndBoundEachLine) {
    struct Case {
        std::string data;
        size_t longest;
        std::vector<std::string> want;
    };
    const Case kCases[] = {
        {"", 10, {}},
        {"one\ntwo\n", 10, {"one", "two"}},
        {"dos\r\nline\r\nlast", 10, {"dos", "line", "last"}},
        {"a\rb\n", 10, {"a\rb"}},  // a lone CR stays for the caller to show as ^M
        {"\n\n", 10, {"", ""}},
        {"\tx\n12\ty", 20, {"        x", "12      y"}},
        {"abcdefghij", 4, {"abcd", "efgh", "ij"}},
        {"abcdefgh\n", 4, {"abcd", "efgh"}},
    };
    for (const Case& c : kCases) EXPECT_EQ(ViewerLines(c.data, c.longest), c.want) << c.data;
    // A file of one enormous line stays within the bound per line.
    std::vector<std::string> lines = ViewerLines(std::string(100000, 'z'), 4096);
    ASSERT_EQ(lines.size(), 25u);
    for (const std::string& l : lines) EXPECT_LE(l.size(), 4096u);
}

}  // namespace
}  // namespace window
