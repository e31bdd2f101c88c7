#include "archiver/shell/window/other_kinds.h"

#include "archiver/engine/unzip/engine_frame.h"
#include "archiver/formats/listed_member.h"
#include "archiver/shell/terminal_text.h"
#include "archiver/shell/window/manager_state.h"

namespace window {

bool LoadProgramKindListing(formats::ArchiveKind kind, const std::string& path,
                            shell::SortOrder sort, shell::Listing& listing, std::string& error) {
    listing = shell::Listing{};
    listing.sort = sort;
    std::vector<formats::ListedMember> members;
    bool ok = formats::ReadProgramKindListing(kind, path, members, error);
    for (const formats::ListedMember& member : members) {
        std::string row_error;
        if (!shell::AddRow(listing, member.name, member.encrypted, member.dos_datetime, member.size,
                           member.packed, member.crc, row_error)) {
            listing.cut_short = true;
            if (error.empty()) error = row_error;
            ok = false;
            break;
        }
    }
    shell::FinishListing(listing);
    return ok;
}

ProgramStopScope::ProgramStopScope() {
    engine::Frame().stop_requested = false;
    previous_ = programs::SetStopCheck([] {
        // Keys and clicks are worked off while the program runs: the window's own key
        // handler asks whether to stop, and a Yes ends the program.
        platform::MSG msg;
        while (!engine::Frame().stop_requested && platform::PeekMessage(msg, true)) {
            if (msg.message == platform::WM_QUIT) {
                platform::PostQuitMessage(static_cast<int>(msg.wParam));
                break;
            }
            platform::DispatchMessage(msg);
        }
        return engine::Frame().stop_requested;
    });
}

ProgramStopScope::~ProgramStopScope() {
    programs::SetStopCheck(std::move(previous_));
    engine::Frame().stop_requested = false;
}

programs::OperationOutcome RunProgramOperation(programs::OperationRequest request) {
    Manager& m = App();
    for (const shell::Row& row : m.listing.rows) request.member_names.push_back(row.name);
    request.kind = m.kind;
    request.args.archive = m.archive;
    if (!m.password.empty() && request.args.password.empty()) request.args.password = m.password;
    m.busy = true;
    m.run_status = std::string("Running ") + programs::ProgramDisplayName(m.kind) + " ...";
    tui::Redraw();
    programs::OperationOutcome outcome;
    {
        ProgramStopScope stop;
        outcome =
            programs::RunArchiveOperation(request, programs::LoadProgramLocations(m.settings_path));
    }
    m.busy = false;
    m.run_status.clear();
    SetOutputText(programs::LastOutput());
    if (!outcome.message.empty()) Say(shell::TerminalSafe(outcome.message));
    tui::RequestRedraw();
    return outcome;
}

}  // namespace window
