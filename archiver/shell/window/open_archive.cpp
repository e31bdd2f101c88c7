// Opening, re-reading and closing the window's archive (a file encoded for mail opens the
// archive it carries), and the listing's selection and sort order.
#include <unistd.h>

#include <algorithm>
#include <filesystem>

#include "archiver/formats/listed_member.h"
#include "archiver/shell/program_kinds.h"
#include "archiver/shell/terminal_text.h"
#include "archiver/shell/window/manager_state.h"
#include "archiver/shell/window/other_kinds.h"

namespace window {

namespace {

std::string Shown(std::string_view text) {
    return shell::TerminalSafe(text);
}

void ClearListing() {
    Manager& m = App();
    m.listing = shell::Listing{};
    m.facts = shell::SingleFileFacts{};
    m.list.model = tui::ListModel{};
    m.list.model.multiple = true;
}

// Asks for the name of the one file inside a gzip or Microsoft Compress file.
std::optional<std::string> AskContainedName(const std::string& question,
                                            const std::string& proposal) {
    std::string value = proposal;
    if (tui::InputBox("Borvan", question, value)) return value;
    return std::nullopt;
}

}  // namespace

bool OpenFromMail() {
    Manager& m = App();
    return m.open && m.decoded && m.archive == m.decoded->path;
}

namespace {

// A file encoded for mail: the one archive it carries opens, decoded to a temporary file that
// lives while it is open; other files are offered for extraction into a folder beside it.
bool OpenMailFile(const std::string& path) {
    Manager& m = App();
    std::vector<mail::Attachment> files;
    std::string error;
    if (!shell::ReadMailFile(path, files, error)) {
        Say(Shown(error));
        return false;
    }
    if (shell::SingleArchiveKind(files) != formats::kKindUnknown) {
        std::optional<shell::DecodedArchive> decoded =
            shell::WriteDecodedArchive(files[0].data, error);
        if (!decoded) {
            Say(Shown(error));
            return false;
        }
        files.clear();
        std::string inner = decoded->path;
        std::optional<shell::DecodedArchive> previous = std::move(m.decoded);
        std::string previous_from = std::move(m.decoded_from);
        m.decoded = std::move(decoded);
        m.decoded_from = path;
        if (!OpenArchive(inner)) {
            m.decoded = std::move(previous);
            m.decoded_from = std::move(previous_from);
            return false;
        }
        AddRecent(m.cfg.recent_archives, path);
        RefreshChrome();
        return true;
    }
    if (files.empty()) {
        Say(Shown(path) + " carries no files");
        return false;
    }
    std::filesystem::path p(path);
    std::string folder = (p.parent_path() / p.stem()).string();
    std::string names;
    for (size_t i = 0; i < files.size() && i < 10; ++i)
        names += "\n  " + files[i].name + " (" + std::to_string(files[i].data.size()) + " bytes)";
    if (files.size() > 10) names += "\n  ...";
    if (Say(Shown(path + " carries " + std::to_string(files.size()) + " files:" + names +
                  "\n\nExtract them into " + folder + "?"),
            tui::MessageButtons::kYesNo) != tui::kIdYes)
        return false;
    std::string report;
    int status = shell::ExtractAttachments(files, folder, false, false,
                                           [&](bool problem, const std::string& line) {
                                               if (problem) report += "\n" + line;
                                           });
    Say(Shown((status == 0 ? "Extracted into " : "Extracted with problems into ") + folder +
              report));
    return false;
}

}  // namespace

bool OpenArchive(const std::string& given, bool may_be_new) {
    Manager& m = App();
    std::error_code ec;
    // Runs change the current folder (adding from the folder the files were chosen in), so
    // the archive is kept by its full path.
    std::filesystem::path full = std::filesystem::absolute(given, ec);
    const std::string path = ec ? given : full.lexically_normal().string();
    bool exists = std::filesystem::exists(path, ec);
    if (!exists && !may_be_new) {
        Say(Shown(path) + " does not exist");
        RemoveRecent(m.cfg.recent_archives, path);
        RefreshChrome();
        return false;
    }
    if (std::filesystem::is_directory(path, ec)) {
        Say("Can't open input file: " + Shown(path));
        return false;
    }
    formats::ArchiveKind kind = formats::kKindZip;
    if (exists && !formats::DetectFileKind(path, shell::DefaultArchiveKind(m.settings_path), kind))
        kind = formats::kKindZip;
    if (!exists)
        kind = formats::KindByExtension(path) ? formats::KindByExtension(path) : formats::kKindZip;
    if (exists && kind == formats::kKindZip) {
        // A self-extracting ARJ or LZH archive: asked whether to run it, No opens the archive.
        std::string question;
        formats::ArchiveKind behind = shell::ProgramKindBehindExe(path, question);
        if (behind != formats::kKindUnknown) {
            if (Say(Shown(question), tui::MessageButtons::kYesNo) == tui::kIdYes) {
                Say("Running programs is not available in this version.");
                return false;
            }
            kind = behind;
        }
    }
    if (exists && kind == formats::kKindEncodedMail) return OpenMailFile(path);
    if (kind != formats::kKindZip && !shell::IsSingleFileKind(kind) &&
        !formats::IsProgramKind(kind)) {
        Say(Shown(path) + " is " + formats::KindDescription(kind) +
            "; this kind is not supported yet");
        return false;
    }
    shell::Listing listing;
    shell::SingleFileFacts facts;
    std::string error;
    bool ok = true;
    if (exists && std::filesystem::file_size(path, ec) > 0) {
        if (shell::IsSingleFileKind(kind))
            ok = shell::LoadSingleFileListing(kind, path, m.sort, AskContainedName, listing, facts,
                                              error);
        else if (formats::IsProgramKind(kind))
            ok = LoadProgramKindListing(kind, path, m.sort, listing, error);
        else
            ok = shell::LoadZipListing(path, m.sort, listing, error);
    } else {
        shell::FinishListing(listing);
    }
    if (!ok && listing.rows.empty() && !listing.cut_short) {
        Say(error.empty() ? "Cannot read " + Shown(path) : Shown(error));
        return false;
    }
    if (!ok && !error.empty()) Say(Shown(error));
    bool same = m.open && m.archive == path;
    std::vector<std::string> selected;
    if (same) selected = SelectedNames(false);
    ClearListing();
    if (m.decoded && m.decoded->path != path) {
        m.decoded.reset();  // another archive replaces the one a mail file carried
        m.decoded_from.clear();
    }
    m.open = true;
    m.archive = path;
    m.kind = kind;
    m.listing = std::move(listing);
    m.facts = facts;
    m.list.model.SetCount(m.listing.order.size());
    // A re-read keeps the selection on the members that are still there.
    if (!selected.empty()) {
        for (size_t i = 0; i < m.listing.order.size(); ++i) {
            const std::string& name = m.listing.rows[m.listing.order[i]].name;
            if (std::find(selected.begin(), selected.end(), name) != selected.end())
                m.list.model.Toggle(i);
        }
    }
    if (exists && !OpenFromMail()) AddRecent(m.cfg.recent_archives, path);
    RefreshChrome();
    return true;
}

void ReloadArchive() {
    Manager& m = App();
    if (!m.open) return;
    std::error_code ec;
    if (!std::filesystem::exists(m.archive, ec)) {
        // A delete that took the last member leaves no archive behind: the window goes on
        // with it as a new, empty archive.
        ClearListing();
        RefreshChrome();
        return;
    }
    OpenArchive(m.archive);
}

bool CloseArchive(bool ask) {
    Manager& m = App();
    if (!m.open) return true;
    if (ask) {
        std::vector<std::string> changed = m.view.Changed();
        for (const std::string& file : changed) {
            // The view folder holds the member under its stored path.
            std::string rel = file.substr(m.view.Path().size() + 1);
            if ((m.kind != formats::kKindZip && !formats::IsProgramKind(m.kind)) ||
                OpenFromMail()) {
                // These kinds cannot be changed: say what is lost and let the user keep it.
                if (Say(Shown(rel) + " was changed after it was extracted for viewing, but " +
                            formats::KindDescription(m.kind) +
                            " cannot be changed.  Close it and lose the change?",
                        tui::MessageButtons::kOkCancel) != tui::kIdOk)
                    return false;
                continue;
            }
            int r = Say(Shown(rel) +
                            " was changed after it was extracted for viewing.\n\nUpdate the "
                            "archive with the changed file?",
                        tui::MessageButtons::kYesNoCancel);
            if (r == tui::kIdCancel) return false;
            if (r != tui::kIdYes) continue;
            if (formats::IsProgramKind(m.kind)) {
                programs::OperationRequest op;
                op.op = programs::Operation::kAdd;
                op.args.files = {rel};
                op.args.full_paths = true;
                op.folder = m.view.Path();
                RunProgramOperation(op);
                continue;
            }
            zip::ZipCommand cmd;
            cmd.action = zip::kActionAdd;
            cmd.archive = m.archive;
            cmd.level = 5;
            cmd.store_folder_names = true;
            cmd.names = {rel};
            char cwd[4096];
            bool have_cwd = getcwd(cwd, sizeof cwd) != nullptr;
            if (chdir(m.view.Path().c_str()) == 0) {
                RunZip(cmd);
                if (have_cwd && chdir(cwd) != 0) Say("Cannot return to the folder " + Shown(cwd));
            }
        }
    }
    m.view.Remove();
    m.open = false;
    m.archive.clear();
    m.decoded.reset();
    m.decoded_from.clear();
    ClearListing();
    RefreshChrome();
    return true;
}

std::vector<size_t> SelectedRows(bool cursor_when_none) {
    Manager& m = App();
    std::vector<size_t> rows;
    if (!m.open) return rows;
    for (size_t i : m.list.model.Selection())
        if (i < m.listing.order.size()) rows.push_back(m.listing.order[i]);
    if (rows.empty() && cursor_when_none && m.list.model.cursor < m.listing.order.size())
        rows.push_back(m.listing.order[m.list.model.cursor]);
    return rows;
}

std::vector<std::string> SelectedNames(bool cursor_when_none) {
    std::vector<std::string> names;
    for (size_t i : SelectedRows(cursor_when_none)) names.push_back(App().listing.rows[i].name);
    return names;
}

void ApplySort(shell::SortOrder order) {
    Manager& m = App();
    m.sort = order;
    if (m.open) {
        std::vector<size_t> old = m.listing.order;
        m.listing.sort = order;
        shell::FinishListing(m.listing);
        // Reorder wants, for each new position, the old position of its row.
        std::vector<size_t> old_position(m.listing.rows.size());
        for (size_t i = 0; i < old.size(); ++i) old_position[old[i]] = i;
        std::vector<size_t> moves;
        for (size_t row : m.listing.order) moves.push_back(old_position[row]);
        m.list.model.Reorder(moves);
    }
    RefreshChrome();
}

}  // namespace window
