// The file server's command reader: each input line is a command from the peer of a file-server
// session serving a small folder (files, a subfolder with its info file, a link that leads
// out). Whatever the peer sends, the session's folder stays inside the served one.
#include <filesystem>
#include <fstream>

#include "fuzz/chat_world.h"

namespace {

const std::string& ServedFolder() {
    static const std::string home = [] {
        namespace fs = std::filesystem;
        fs::path root = fs::path(fuzz::ScratchFolder()) / "served";
        fs::create_directories(root / "sub" / "deeper");
        std::ofstream(root / "readme.txt") << "line one\nline two\n";
        std::ofstream(root / "Mixed.TXT") << "x\n";
        std::ofstream(root / "sub" / "dirinfo.srv") << "welcome to sub\n";
        std::ofstream(root / "sub" / "deeper" / "data.bin") << std::string(300, 'a') << "\n";
        std::error_code ec;
        fs::create_symlink("/", root / "out", ec);
        fs::create_symlink("..", root / "sub" / "up", ec);
        return fs::canonical(root).string();
    }();
    return home;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string& home = ServedFolder();
    fuzz::StartChatInput();
    chat::dcc::ChatSlot& c = chat::dcc::Dcc().chats[0];
    c.nick = "peer";
    c.server = true;
    c.state = 3;
    c.home = c.current = home;
    c.window = chat::MakeNewWindow("=peer", false);
    std::string_view text = fuzz::AsText(data, size);
    size_t lines = 0;
    while (!text.empty() && lines++ < 32 && c.state == 3) {
        size_t end = text.find('\n');
        chat::dcc::FileServerCommand(0, std::string(text.substr(0, end)));
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        if (c.state == 3 && c.current != home && !c.current.starts_with(home + "/"))
            __builtin_trap();
    }
    fuzz::EndChatInput();
    return 0;
}
