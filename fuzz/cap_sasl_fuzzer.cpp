// Capability negotiation and the SASL exchange, from the moment our logon went out: the first
// input byte picks the login settings (none, PLAIN, EXTERNAL, each optional or required), the
// rest are server lines through the same parser as every other line, with the one-second work
// run between them when a line is empty.
#include <fstream>

#include "chat/core/connection/capabilities.h"
#include "chat/core/connection/sasl.h"
#include "fuzz/chat_world.h"

namespace {

// One settings file per choice, written once into the scratch folder.
const std::string& SettingsFor(uint8_t choice) {
    static const std::vector<std::string> files = [] {
        std::vector<std::string> out;
        const char* kinds[] = {"", "PLAIN", "EXTERNAL"};
        for (const char* mechanism : kinds) {
            for (int required = 0; required < 2; ++required) {
                std::string path =
                    fuzz::ScratchFolder() + "/sasl" + std::to_string(out.size()) + ".ini";
                std::ofstream ini(path);
                ini << "[SASL]\nmechanism=" << mechanism << "\nuser=fuzzer\npassword=secret\n"
                    << "required=" << required << "\ntimeout=3\n";
                out.push_back(path);
            }
        }
        return out;
    }();
    return files[choice % files.size()];
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::Params params(data, size);
    uint8_t choice = params.Byte();
    fuzz::StartChatInput();
    chat::Options().szINI = SettingsFor(choice);
    chat::CapBegin();
    std::span<const uint8_t> rest = params.Rest();
    std::string_view text = fuzz::AsText(rest.data(), rest.size());
    size_t lines = 0;
    while (!text.empty() && lines++ < 64) {
        size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (line.empty()) {
            chat::CapTick();
            chat::SaslTick();
        } else {
            chat::parseline(line);
        }
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    }
    chat::ParserTick();
    fuzz::EndChatInput();
    return 0;
}
