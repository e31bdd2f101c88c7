// Runs one of the archive manager's dialogs named on the command line and prints, after the
// screen is gone, the request it yielded ("result cancelled" when there was none).
#include <cstdio>
#include <string>

#include "archiver/shell/dialogs/dialogs.h"
#include "platform/tui/screen.h"

namespace {

std::string Joined(const std::vector<std::string>& names) {
    std::string out;
    for (const std::string& n : names) out += (out.empty() ? "" : "|") + n;
    return out;
}

std::string Path(const std::optional<std::string>& path) {
    return path ? "path=" + *path : "cancelled";
}

std::string Run(const std::string& which, const std::string& arg) {
    using namespace dialogs;
    if (which == "add") {
        AddDefaults d;
        d.archive = "/demo/a.zip";
        d.start_folder = arg;
        auto r = RunAddDialog(d);
        if (!r) return "cancelled";
        return "names=" + Joined(r->names) + " folder=" + r->folder +
               " action=" + std::to_string(r->choices.action) +
               " compression=" + std::to_string(r->choices.compression) +
               " recurse=" + std::to_string(r->choices.recurse) +
               " encryption=" + std::to_string(r->choices.encryption) + " password=" + r->password;
    }
    if (which == "password" || which == "password-add" || which == "password-arj") {
        PasswordDefaults d;
        d.for_add = which == "password-add";
        if (which == "password-arj") d.kind = formats::kKindArj;
        auto r = RunPasswordDialog(d);
        if (!r) return "cancelled";
        return "password=" + r->password + " mask=" + std::to_string(r->mask);
    }
    if (which == "extract") {
        ExtractDefaults d;
        d.archive = "/demo/a.zip";
        d.target = arg;
        d.has_selection = true;
        auto r = RunExtractDialog(d);
        if (!r) return "cancelled";
        return "target=" + r->target + " which=" + std::to_string(static_cast<int>(r->which)) +
               " patterns=" + Joined(r->patterns) + " overwrite=" + std::to_string(r->overwrite) +
               " folders=" + std::to_string(r->use_folder_names);
    }
    if (which == "delete") {
        auto r = RunDeleteDialog({"/demo/a.zip", false});
        if (!r) return "cancelled";
        return "which=" + std::to_string(static_cast<int>(r->which)) +
               " patterns=" + Joined(r->patterns);
    }
    if (which == "open") return Path(RunOpenDialog(arg));
    if (which == "new") return Path(RunNewArchiveDialog(arg));
    if (which == "copy") return Path(RunCopyArchiveDialog(arg));
    if (which == "move") return Path(RunMoveArchiveDialog(arg));
    if (which == "rename") return Path(RunRenameArchiveDialog(arg));
    if (which == "delete-archive") return RunDeleteArchiveDialog(arg) ? "deleted" : "kept";
    if (which == "log") {
        RunViewLastOutput(arg);
        return "shown";
    }
    return "unknown dialog " + which;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fputs("usage: dialogs_demo DIALOG [ARGUMENT]\n", stderr);
        return 2;
    }
    if (!tui::InitScreen()) {
        std::fputs("dialogs_demo: needs a terminal\n", stderr);
        return 1;
    }
    const std::string result = Run(argv[1], argc > 2 ? argv[2] : "");
    tui::EndScreen();
    std::printf("result %s\n", result.c_str());
    return 0;
}
