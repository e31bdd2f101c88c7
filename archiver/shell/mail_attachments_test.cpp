#include "archiver/shell/mail_attachments.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

namespace shell {
namespace {

TEST(MailAttachments, OutputPaths) {
    struct Case {
        const char* name;
        bool junk;
        std::optional<std::string> want;
    } cases[] = {
        {"a.zip", false, "a.zip"},          {"dir/a.zip", false, "dir/a.zip"},
        {"dir/a.zip", true, "a.zip"},       {"/etc/passwd", false, "etc/passwd"},
        {"..\\..\\x", false, std::nullopt}, {"../../x", false, std::nullopt},
        {"a/../../x", true, std::nullopt},  {"bad\x1b]0;x\x07.zip", false, std::nullopt},
        {"tab\tname", false, std::nullopt}, {"", false, std::nullopt},
        {"..", false, std::nullopt},
    };
    for (const Case& c : cases) EXPECT_EQ(AttachmentOutputPath(c.name, c.junk), c.want) << c.name;
}

TEST(MailAttachments, SingleArchiveKind) {
    std::string zip_end = std::string("PK\x05\x06", 4) + std::string(18, '\0');
    struct Case {
        std::vector<mail::Attachment> files;
        formats::ArchiveKind want;
    } cases[] = {
        {{{"a.zip", zip_end}}, formats::kKindZip},
        {{{"noext", zip_end}}, formats::kKindZip},
        {{{"a.tar.gz", "\x1f\x8b rest"}}, formats::kKindGzip},
        {{{"notes.txt", "words"}}, formats::kKindUnknown},
        {{{"a.zip", zip_end}, {"b.zip", zip_end}}, formats::kKindUnknown},
        {{{"inner.uue", "begin 644 x\n`\nend\n"}}, formats::kKindUnknown},
        {{}, formats::kKindUnknown},
    };
    for (const Case& c : cases) EXPECT_EQ(SingleArchiveKind(c.files), c.want);
}

// A symbolic link inside the target that leads out of it is not followed.
TEST(MailAttachments, ExtractionStaysInsideThroughLinks) {
    std::filesystem::path base =
        std::filesystem::temp_directory_path() / ("mail_attachments_" + std::to_string(::getpid()));
    std::filesystem::remove_all(base);
    std::filesystem::create_directories(base / "target");
    std::filesystem::create_directories(base / "outside");
    std::filesystem::create_directory_symlink(base / "outside", base / "target" / "link");
    std::vector<mail::Attachment> files = {{"link/x.txt", "evil"}, {"ok.txt", "fine"}};
    std::vector<std::string> said;
    int status = ExtractAttachments(files, (base / "target").string(), false, false,
                                    [&](bool, const std::string& line) { said.push_back(line); });
    EXPECT_EQ(status, 1);
    EXPECT_FALSE(std::filesystem::exists(base / "outside" / "x.txt"));
    std::ifstream ok(base / "target" / "ok.txt");
    std::string text((std::istreambuf_iterator<char>(ok)), std::istreambuf_iterator<char>());
    EXPECT_EQ(text, "fine");
    std::filesystem::remove_all(base);
}

}  // namespace
}  // namespace shell
