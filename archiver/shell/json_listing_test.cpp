#include "archiver/shell/json_listing.h"

#include <gtest/gtest.h>

#include "platform/dostime.h"

namespace shell {
namespace {

TEST(JsonListing, StringsEscapeControlsAndKeepEveryInvalidByte) {
    struct Case {
        std::string in;
        std::string out;
    } cases[] = {
        {"plain/a.txt", R"("plain/a.txt")"},
        {"q\"b\\s", R"("q\"b\\s")"},
        {"line\nfeed\t\r\b\f", R"("line\nfeed\t\r\b\f")"},
        {std::string("nul\0one\x01", 8), R"("nul\u0000one\u0001")"},
        {"del\x7f", R"("del\u007f")"},
        {"caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80",
         "\"caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80\""},
        {"c1\xc2\x85", R"("c1\u0085")"},                              // NEL acts on terminals
        {"ls\xe2\x80\xa8", R"("ls\u2028")"},                          // line separator
        {"bad\xff", R"("bad\udcff")"},                                // not UTF-8 at all
        {"cp437\x82.txt", R"("cp437\udc82.txt")"},                    // a lone continuation byte
        {"over\xc0\x80", R"("over\udcc0\udc80")"},                    // overlong NUL
        {"sur\xed\xa0\x80", R"("sur\udced\udca0\udc80")"},            // an encoded surrogate
        {"big\xf4\x90\x80\x80", R"("big\udcf4\udc90\udc80\udc80")"},  // past U+10FFFF
        {"cut\xe2\x82", R"("cut\udce2\udc82")"},                      // sequence cut short
    };
    for (const Case& c : cases) {
        std::string out;
        AppendJsonString(out, c.in);
        EXPECT_EQ(out, c.out) << c.in;
    }
}

TEST(JsonListing, TimesInIso8601) {
    Row unix_row;
    unix_row.unix_time = 1700000001;  // odd second kept: the archive stores it exactly
    EXPECT_EQ(IsoTime(unix_row), "2023-11-14T22:13:21Z");
    Row dos_row;
    dos_row.dos_datetime = platform::JoinDos({2021, 3, 4, 5, 6, 8});
    EXPECT_EQ(IsoTime(dos_row), "2021-03-04T05:06:08");
    Row bad_row;
    bad_row.dos_datetime = 0;  // month 0, day 0
    EXPECT_EQ(IsoTime(bad_row), "");
}

TEST(JsonListing, DocumentHasNamesOnlyInMembers) {
    Listing listing;
    listing.keep_folders = true;
    std::string error;
    MemberRecord folder;
    folder.name = folder.raw_name = "dir/";
    ASSERT_TRUE(AddMember(listing, folder, error));
    MemberRecord file;
    file.name = "dir/name.txt";
    file.raw_name = "dir\\name.txt";
    file.uncompressed = 10;
    file.compressed = 4;
    file.crc = 0xABC;
    ASSERT_TRUE(AddMember(listing, file, error));
    FinishListing(listing);
    JsonArchive about{"name.zip", "zip", 100, true, ""};
    std::string doc = JsonListing(listing, about);
    size_t count = 0;
    for (size_t at = doc.find("\"name\":"); at != doc.npos; at = doc.find("\"name\":", at + 1))
        ++count;
    EXPECT_EQ(count, 2u) << doc;
    EXPECT_NE(doc.find(R"("member_count": 2, "file_count": 1, "folder_count": 1, "size": 10)"),
              doc.npos)
        << doc;
    EXPECT_NE(doc.find(R"("raw_name": "6469725c6e616d652e747874")"), doc.npos) << doc;
    EXPECT_NE(doc.find(R"("crc32": "00000abc")"), doc.npos) << doc;
}

}  // namespace
}  // namespace shell
