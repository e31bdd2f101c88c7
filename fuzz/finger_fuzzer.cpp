// The finger responder's request reader (a query of at most 128 bytes up to its line end,
// looked up in the reply file) and the client's reader of an answer. The input is the query,
// a NUL, then the reply file's text; the whole input is also fed as an answer in pieces.
#include "chat/net/finger.h"
#include "fuzz/fuzz_util.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view all = fuzz::AsText(data, size);
    size_t cut = all.find('\0');
    std::string_view query = all.substr(0, std::min(cut, chat::kFingerQueryLimit));
    query = query.substr(0, query.find_first_of("\r\n"));
    std::string_view file =
        cut == std::string_view::npos ? std::string_view{} : all.substr(cut + 1);
    std::string reply = chat::FingerReplyFor(file, query);
    if (reply.size() > file.size() * 2 + 64) __builtin_trap();

    chat::FingerLines lines;
    size_t longest = 0;
    auto emit = [&](const std::string& line) { longest = std::max(longest, line.size()); };
    for (size_t at = 0; at < all.size(); at += 97) lines.Push(all.substr(at, 97), emit);
    if (longest > chat::kFingerLineLimit + 8) __builtin_trap();
    return 0;
}
