#include "chat/terminal/terminal_dialogs.h"

#include <unistd.h>

#include "chat/core/windows/display_text.h"
#include "chat/help/help_file.h"
#include "platform/tui/file_dialog.h"
#include "platform/tui/widgets.h"

namespace chat {

std::optional<std::string> Prompt(const std::string& title) {
    std::string value;
    if (!tui::InputBox("Parameters", title, value, false, 699)) return std::nullopt;
    return value;
}

std::pair<std::string, std::string> SplitFilePattern(const std::string& pattern) {
    const size_t slash = pattern.find_last_of('/');
    std::string folder = slash == std::string::npos ? std::string() : pattern.substr(0, slash + 1);
    std::string files = slash == std::string::npos ? pattern : pattern.substr(slash + 1);
    if (files == "*.*") files = "*";  // every file, dotted or not
    return {std::move(folder), std::move(files)};
}

std::optional<std::string> SelectFile(const std::string& kind, const std::string& title,
                                      const std::string& pattern) {
    const auto [path, patterns] = SplitFilePattern(pattern);
    const bool folder = kind == "dir";
    for (;;) {
        std::string chosen = path;
        if (!tui::RunFileDialog(title, chosen, folder ? std::string() : patterns, folder))
            return std::nullopt;
        if (::access(chosen.c_str(), F_OK) == 0) return chosen;
        tui::ShowMessageBox(
            title, chosen + "\nFile not found.\nPlease verify the correct file name was given.",
            tui::MessageButtons::kOk);
    }
}

void ShowHelp(const std::string& path, const std::string& key) {
    const HelpPage page = LoadHelpPage(path, key);
    tui::ShowTextViewer(page.title, page.lines);
}

void ShowUserInformation(const std::string& nick,
                         const std::vector<std::pair<std::string, std::string>>& fields) {
    std::string text;
    for (const auto& [label, value] : fields) {
        if (!text.empty()) text += '\n';
        // The values came from the server: nothing in them may drive the terminal.
        text += DisplayText(label) + " " + DisplayText(value);
    }
    tui::ShowMessageBox("User Information: " + DisplayText(nick), text, tui::MessageButtons::kOk);
}

}  // namespace chat
