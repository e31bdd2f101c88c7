// The wildcard matcher: the input holds the pattern, a NUL, then the text (both sides of every
// ban, ignore and auto-op mask and of the remote scripts' patterns).
#include "chat/core/wildcard.h"
#include "fuzz/fuzz_util.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view all = fuzz::AsText(data, size);
    size_t cut = all.find('\0');
    std::string_view pattern = all.substr(0, cut);
    std::string_view text = cut == std::string_view::npos ? all : all.substr(cut + 1);
    chat::findmatch(text, pattern);
    chat::findmatch(text, chat::AddressMask(pattern));
    chat::IsNicknameMask(pattern);
    return 0;
}
