// The ident responder's query reader and its reply.
#include "chat/net/ident.h"
#include "fuzz/fuzz_util.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view query = fuzz::AsText(data, std::min(size, chat::kIdentQueryLimit));
    if (auto ports = chat::ParseIdentQuery(query)) {
        std::string reply =
            chat::IdentReply(ports->first, ports->second, 6667, 40000, "UNIX", "someone");
        if (reply.size() < 2 || reply.compare(reply.size() - 2, 2, "\r\n") != 0) __builtin_trap();
    }
    return 0;
}
