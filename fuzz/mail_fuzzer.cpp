// Files encoded for mail, as opening one runs it: the whole file decoded (MIME, uuencode,
// xxencode, BinHex, base64) and the names it carries checked as member names are.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "archiver/mail/mail_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string error;
    auto files = mail::DecodeMailFile(
        std::string_view(reinterpret_cast<const char*>(data), size), "fuzz", error);
    if (files) {
        // Touch every decoded byte so that a wrong length shows as a bad read.
        volatile unsigned sum = 0;
        for (const mail::Attachment& a : *files) {
            for (char c : a.name) sum = sum + static_cast<unsigned char>(c);
            for (char c : a.data) sum = sum + static_cast<unsigned char>(c);
        }
    }
    return 0;
}
