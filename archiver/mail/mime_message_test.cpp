#include "archiver/mail/mime_message.h"

#include <gtest/gtest.h>

#include "archiver/mail/mail_file.h"

namespace mail {
namespace {

TEST(MimeMessage, ParameterNames) {
    struct Case {
        const char* header;
        const char* parameter;
        const char* want;
    } cases[] = {
        {"attachment; filename=\"a b.zip\"", "filename", "a b.zip"},
        {"attachment; filename=plain.zip; size=3", "filename", "plain.zip"},
        {"attachment; filename*=UTF-8''%C3%A9t%C3%A9.zip", "filename", "\xc3\xa9t\xc3\xa9.zip"},
        {"attachment; filename*=iso-8859-1'fr'%E9.zip", "filename", "\xc3\xa9.zip"},
        {"attachment; filename*0*=UTF-8''%C3%A9; filename*1=\"part.zip\"", "filename",
         "\xc3\xa9part.zip"},
        {"application/zip; name=\"=?UTF-8?B?w6l0w6kuemlw?=\"", "name", "\xc3\xa9t\xc3\xa9.zip"},
        {"application/zip; name=\"=?iso-8859-1?Q?caf=E9_1.zip?=\"", "name", "caf\xc3\xa9 1.zip"},
        {"attachment; filename=\"q\\\"uote\"", "filename", "q\"uote"},
        {"attachment", "filename", ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(HeaderParameter(c.header, c.parameter), c.want) << c.header;
}

TEST(MimeMessage, EncodedWordsJoinAcrossBlanks) {
    EXPECT_EQ(DecodeEncodedWords("=?UTF-8?Q?a?= =?UTF-8?Q?b?= c"), "ab c");
    EXPECT_EQ(DecodeEncodedWords("plain =?bad"), "plain =?bad");
}

TEST(MimeMessage, NestedPartsAndTextSkipped) {
    std::string text =
        "MIME-Version: 1.0\r\nContent-Type: multipart/mixed;\r\n boundary=\"outer\"\r\n\r\n"
        "preamble\r\n--outer\r\nContent-Type: text/plain\r\n\r\nhello\r\n"
        "--outer\r\nContent-Type: message/rfc822\r\n\r\n"
        "Content-Type: multipart/mixed; boundary=inner\r\n\r\n--inner\r\n"
        "Content-Type: application/octet-stream; name=\"in.bin\"\r\n"
        "Content-Transfer-Encoding: base64\r\n\r\nAAEC\r\n--inner--\r\n"
        "--outer\r\nContent-Type: text/plain\r\nContent-Disposition: attachment; "
        "filename=notes.txt\r\nContent-Transfer-Encoding: quoted-printable\r\n\r\na=3Db\r\n"
        "--outer--\r\nepilogue\r\n";
    std::string error;
    auto got = DecodeMimeMessage(text, error);
    ASSERT_TRUE(got) << error;
    ASSERT_EQ(got->size(), 2u);
    EXPECT_EQ((*got)[0].name, "in.bin");
    EXPECT_EQ((*got)[0].data, std::string("\0\1\2", 3));
    EXPECT_EQ((*got)[1].name, "notes.txt");
    EXPECT_EQ((*got)[1].data, "a=b");
}

TEST(MimeMessage, DamageIsAnError) {
    const char* cases[] = {
        // base64 cut short
        "Content-Type: multipart/mixed; boundary=b\n\n--b\nContent-Type: application/zip; "
        "name=a.zip\nContent-Transfer-Encoding: base64\n\nUEsD\nUE\n--b--\n",
        // no closing boundary
        "Content-Type: multipart/mixed; boundary=b\n\n--b\nContent-Type: application/zip; "
        "name=a.zip\nContent-Transfer-Encoding: base64\n\nUEsD\n",
    };
    for (const char* c : cases) {
        std::string error;
        EXPECT_FALSE(DecodeMimeMessage(c, error)) << c;
    }
    // Nesting past any real message.
    std::string deep;
    for (int i = 0; i < 100; ++i) deep += "Content-Type: message/rfc822\n\n";
    std::string error;
    EXPECT_FALSE(DecodeMimeMessage(deep, error));
}

TEST(MailFile, WrittenFormsDecodeBack) {
    std::string data;
    for (int i = 0; i < 1000; ++i) data += static_cast<char>(i * 13);
    for (MailForm form : {MailForm::kUu, MailForm::kXx, MailForm::kBase64, MailForm::kMime}) {
        for (const char* name : {"a.zip", "\xc3\xa9t\xc3\xa9 \"x\".zip"}) {
            std::string text = EncodeForMail(form, data, name, "application/zip");
            std::string error;
            auto got = DecodeMailFile(text, "fallback", error);
            ASSERT_TRUE(got) << error;
            ASSERT_EQ(got->size(), 1u);
            EXPECT_EQ((*got)[0].data, data);
            EXPECT_EQ((*got)[0].name, form == MailForm::kBase64 ? "fallback" : name);
        }
    }
}

TEST(MailFile, NothingEncodedIsAnError) {
    std::string error;
    EXPECT_FALSE(DecodeMailFile("just some words\n", "x", error));
    EXPECT_EQ(error, "no encoded file found");
}

}  // namespace
}  // namespace mail
