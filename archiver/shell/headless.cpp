#include "archiver/shell/headless.h"

#include <fcntl.h>
#include <strings.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string_view>

#include "archiver/engine/unzip/file_io.h"
#include "archiver/engine/unzip/gzip_extract.h"
#include "archiver/engine/unzip/output_path.h"
#include "archiver/engine/unzip/shown_name.h"
#include "archiver/engine/unzip/unzip.h"
#include "archiver/formats/archive_kind.h"
#include "archiver/formats/listed_member.h"
#include "archiver/programs/programs.h"
#include "archiver/sfx/embedded_stub.h"
#include "archiver/sfx/sfx_writer.h"
#include "archiver/shell/command_request.h"
#include "archiver/shell/headless_install.h"
#include "archiver/shell/headless_progress.h"
#include "archiver/shell/json_listing.h"
#include "archiver/shell/listing.h"
#include "archiver/shell/mail_attachments.h"
#include "archiver/shell/program_kinds.h"
#include "archiver/shell/settings.h"
#include "archiver/shell/single_file_listing.h"
#include "archiver/shell/terminal_text.h"
#include "platform/event_loop.h"

namespace shell {

const char* const kHeadlessUsage =
    "Usage: borvan32 -l [--json] [--sort=name|date|size|type|packed|ratio|path|original] "
    "ARCHIVE\n"
    "       borvan32 -t [--password=TEXT] [--progress|--no-progress] ARCHIVE\n"
    "       borvan32 -e [-o] [-j] [--yes] [--password=TEXT] [--progress|--no-progress] ARCHIVE "
    "[TARGET]\n"
    "       borvan32 --mail=uu|xx|base64|mime ARCHIVE\n"
    "       borvan32 --make-sfx [-o] ARCHIVE [OUTPUT]\n"
    "       borvan32 /vscan ARCHIVE\n"
    "       borvan32 --checkout=GROUP [--icons=N] [--all-files] [--yes] ARCHIVE FOLDER\n"
    "       borvan32 --checkout-delete=GROUP FOLDER\n"
    "       borvan32 --install [--yes] [--prefix=DIR] ARCHIVE\n"
    "       borvan32 --uninstall [NAME]\n"
    "       borvan32 --integrate | --unintegrate\n"
    "       borvan32 --help | --version\n";

const char* const kHeadlessNotes =
    "--json lists as one JSON document: the archive, then every member (folders included).\n"
    "Switches end at \"--\". Ctrl+C (or SIGTERM, SIGHUP) stops a run: a half-written file\n"
    "or temporary archive is removed and the old archive stays as it was; a file being\n"
    "replaced stays as it was too.\n"
    "A meter on standard error shows the progress of -a, -e and -t when it is a terminal\n"
    "and the work is a few MB or more; --progress shows it anywhere, --no-progress never.\n"
    "--install unpacks ARCHIVE into a private temporary folder, shows its setup program\n"
    "(setup, install.sh or install at its top) and asks before running it there with PREFIX\n"
    "(default ~/.local); the files it wrote under PREFIX are recorded, and --uninstall NAME\n"
    "(the archive's name; alone, it lists the installs) removes those that are unchanged.\n"
    "--integrate adds a desktop entry, borvan32 as the default application for the archive\n"
    "kinds it opens, and \"Extract here\" / \"Add to archive\" actions for Dolphin, Nemo and\n"
    "Nautilus, all under $XDG_DATA_HOME; --unintegrate removes exactly what it wrote.\n"
    "A file encoded for mail (uuencode, xxencode, base64, BinHex 4.0, a MIME message) lists,\n"
    "tests and extracts the files it carries; when it carries exactly one archive, -l, -t\n"
    "and -e work on that archive. --mail= writes ARCHIVE.uue, .xxe, .b64 or .eml beside it.\n"
    "--make-sfx writes OUTPUT (default: ARCHIVE without .zip), a program for Linux that\n"
    "extracts the archive behind it and is itself a zip archive; -o replaces an existing\n"
    "OUTPUT. Members must be stored or deflated (traditional encryption is fine).\n"
    "Settings, with the [Intl] date, time and number formats: "
    "$XDG_CONFIG_HOME/borvan32/borvan32.ini.\n";

namespace {

constexpr int kExitUsage = 2;
constexpr int kExitFailed = 1;
// A file whose encoding or format is damaged.
constexpr int kExitDamaged = 2;

struct Options {
    char command = 0;  // 'l', 't', 'e'
    bool overwrite = false;
    bool junk_paths = false;
    bool yes = false;
    bool have_password = false;
    std::string password;
    SortOrder sort = SortOrder::kOriginal;
    std::vector<std::string> positional;
    std::string group;  // CheckOut ('k') and its deletion ('K')
    int max_icons = programs::kMaxCheckOutIcons;
    bool all_files = false;  // launchers for every file, not only programs and documents
    bool json = false;       // -l prints one JSON document
    std::string prefix;      // --install's PREFIX
    ProgressMode progress = ProgressMode::kAuto;
    mail::MailForm mail_form = mail::MailForm::kUu;  // --mail= ('M')
    // The files of an encoded mail file, decoded once; and the mail file's own path when the
    // command works on the one archive it carries (decoded to a temporary file).
    const std::vector<mail::Attachment>* mail_files = nullptr;
    std::string shown_archive;
};

// False on a parameter error; `why` then names the refused switch when one was.
bool ParseArgs(const std::vector<std::string>& args, Options& o, std::string& why) {
    bool switches = true;
    for (const std::string& a : args) {
        if (switches && a == "--") {
            switches = false;
        } else if (switches && (a == "-l" || a == "-t" || a == "-e")) {
            if (o.command) return false;
            o.command = a[1];
        } else if (switches && strcasecmp(a.c_str(), "/vscan") == 0) {
            if (o.command) return false;
            o.command = 'v';
        } else if (switches &&
                   (a.starts_with("--checkout=") || a.starts_with("--checkout-delete="))) {
            if (o.command) return false;
            o.command = a.starts_with("--checkout=") ? 'k' : 'K';
            o.group = a.substr(a.find('=') + 1);
        } else if (switches && a == "--make-sfx") {
            if (o.command) return false;
            o.command = 'X';
        } else if (switches && (a == "--install" || a == "--uninstall")) {
            if (o.command) return false;
            o.command = a == "--install" ? 'i' : 'I';
        } else if (switches && a.starts_with("--prefix=")) {
            o.prefix = a.substr(9);
        } else if (switches && a.starts_with("--icons=")) {
            o.max_icons = std::atoi(a.c_str() + 8);
        } else if (switches && a == "--all-files") {
            o.all_files = true;
        } else if (switches && a == "-o") {
            o.overwrite = true;
        } else if (switches && a == "-j") {
            o.junk_paths = true;
        } else if (switches && a == "--yes") {
            o.yes = true;
        } else if (switches && a == "--json") {
            o.json = true;
        } else if (switches && (a == "--headless" || strcasecmp(a.c_str(), "/ni") == 0)) {
            // "/ni" (a new instance, as CheckOut's launchers ask) means nothing headless.
        } else if (switches && (a == "--progress" || a == "--no-progress")) {
            o.progress = a == "--progress" ? ProgressMode::kOn : ProgressMode::kOff;
        } else if (switches && a.rfind("--password=", 0) == 0) {
            o.have_password = true;
            o.password = a.substr(11);
        } else if (switches && a.starts_with("--mail=")) {
            std::optional<mail::MailForm> form = mail::ParseMailForm(a.substr(7));
            if (!form) {
                why = "\"" + a + "\" is not uu, xx, base64 or mime";
                return false;
            }
            if (o.command) return false;
            o.command = 'M';
            o.mail_form = *form;
        } else if (switches && a.rfind("--sort=", 0) == 0) {
            if (!ParseSortOrder(a.substr(7), o.sort)) {
                why = "\"" + a + "\" is not a sort order";
                return false;
            }
        } else if (switches && a.size() > 1 && a[0] == '-') {
            why = "\"" + a + "\" is not a switch";
            return false;
        } else {
            o.positional.push_back(a);
        }
    }
    if (!o.command && o.positional.size() == 1) o.command = 'l';  // a bare archive is listed
    if (o.command == 'I') return o.positional.size() <= 1 && o.prefix.empty() && !o.yes;
    if (!o.prefix.empty() && o.command != 'i') return false;
    if (!o.command || o.positional.empty()) return false;
    if (o.command == 'k' && o.positional.size() != 2) return false;
    if (o.command != 'e' && o.command != 'k' && o.command != 'X' && o.positional.size() > 1)
        return false;
    if (o.positional.size() > 2) return false;
    if (o.command != 'e' && (o.junk_paths || (o.overwrite && o.command != 'X'))) return false;
    if (o.json && o.command != 'l') {
        why = "--json goes with -l only";
        return false;
    }
    if (o.command != 'e' && o.command != 't' && o.progress != ProgressMode::kAuto) {
        why = "--progress and --no-progress go with -e, -t and the zip commands";
        return false;
    }
    return true;
}

// --make-sfx: the self-extracting program for Linux with the archive behind it.
int MakeSfxHeadless(const Options& o, const std::string& archive) {
    sfx::SfxRequest request;
    request.archive = archive;
    request.output = o.positional.size() > 1 ? o.positional[1] : sfx::DefaultSfxName(archive);
    request.replace = o.overwrite;
    request.stub = sfx::EmbeddedStub();
    sfx::SfxResult r = sfx::MakeSelfExtractor(request);
    if (!r.ok) {
        std::string text = r.message;
        if (text.ends_with(" already exists")) text += " (-o replaces it)";
        PrintLine(stderr, text);
        return kExitDamaged;
    }
    PrintLine(stdout, r.message);
    return 0;
}

// Reads a password from the terminal, echoing "*" per character; false when cancelled.
bool PromptPassword(std::string& password) {
    FILE* tty = std::fopen("/dev/tty", "r+");
    if (!tty) return false;
    int fd = fileno(tty);
    termios saved;
    if (tcgetattr(fd, &saved) != 0) {
        std::fclose(tty);
        return false;
    }
    termios raw = saved;
    raw.c_lflag &= static_cast<tcflag_t>(~(ECHO | ICANON));
    tcsetattr(fd, TCSAFLUSH, &raw);
    std::fputs("Password: ", tty);
    std::fflush(tty);
    bool ok = true;
    password.clear();
    for (;;) {
        // Ctrl+C arrives as SIGINT (or as the byte 0x03 when the terminal does not send
        // signals); either way the prompt ends and the terminal gets its settings back.
        int c = engine::StopSignal() != 0 ? EOF : std::fgetc(tty);
        if (c == EOF || c == 0x1B || c == 0x03) {
            ok = false;
            break;
        }
        if (c == '\n' || c == '\r') break;
        if (c == 0x7F || c == 0x08) {
            if (!password.empty()) {
                password.pop_back();
                std::fputs("\b \b", tty);
            }
        } else if (c >= 128) {
            std::fputs(
                "\nCharacters with ASCII values 128 or higher are not allowed in passwords\n"
                "Password: ",
                tty);
            password.clear();
        } else if (password.size() < 99) {
            password += static_cast<char>(c);
            std::fputc('*', tty);
        }
        std::fflush(tty);
    }
    std::fputc('\n', tty);
    tcsetattr(fd, TCSAFLUSH, &saved);
    std::fclose(tty);
    return ok;
}

// No one to ask for the name of the file inside: a test needs no name and asks nothing; a
// listing or an extraction takes the proposed name (the archive's name without its
// extension, as gzip would name the file) and the output says which answer was taken.
ContainedNameQuestion HeadlessNameQuestion(const Options& o) {
    return [&o](const std::string& question,
                const std::string& proposal) -> std::optional<std::string> {
        // The question and the proposal come from the archive's name: one line each time.
        if (o.command != 't') {
            PrintLine(stderr, engine::ShownName(question) + " (answered " +
                                  engine::ShownName(proposal) + ")");
        }
        return proposal;
    };
}

// Lists a zip archive, or one of the kinds the engine reads itself when `facts` is given.
bool LoadAnyListing(const Options& o, const std::string& archive, formats::ArchiveKind kind,
                    Listing& listing, SingleFileFacts& facts, std::string& error) {
    if (kind == formats::kKindEncodedMail && o.mail_files) {
        struct stat st {};
        int64_t seconds = ::stat(archive.c_str(), &st) == 0 ? st.st_mtime : 0;
        FillMailListing(*o.mail_files, seconds, o.sort, listing);
        return true;
    }
    if (IsSingleFileKind(kind))
        return LoadSingleFileListing(kind, archive, o.sort, HeadlessNameQuestion(o), listing, facts,
                                     error);
    if (formats::IsProgramKind(kind)) {
        // ARJ, LZH and ARC headers are read here; the archivers only extract or change.
        ResetListing(listing, o.sort);
        std::vector<formats::ListedMember> members;
        bool ok = formats::ReadProgramKindListing(kind, archive, members, error);
        for (const formats::ListedMember& m : members) {
            MemberRecord record;
            record.name = m.name;
            record.raw_name = m.raw_name;
            record.encrypted = m.encrypted;
            record.dos_datetime = m.dos_datetime;
            record.uncompressed = m.size;
            record.compressed = m.packed;
            record.crc = m.crc;
            record.crc_bits = kind == formats::kKindArj ? 32 : 16;
            record.method = m.method;
            record.unix_time = m.unix_time;
            record.attributes = m.attributes;
            record.mode = m.mode;
            if (!AddMember(listing, record, error)) {
                listing.cut_short = true;
                ok = false;
                break;
            }
            if (m.encrypted) listing.facts.encrypted = true;
        }
        FinishListing(listing);
        return ok;
    }
    return LoadZipListing(archive, o.sort, listing, error);
}

// Tests or extracts an ARJ, LZH or ARC archive through the configured archiver.
int ExtractWithProgram(const Options& o, const std::string& archive, formats::ArchiveKind kind,
                       const Listing& listing) {
    programs::OperationRequest request;
    request.kind = kind;
    request.op = o.command == 'e' ? programs::Operation::kExtract : programs::Operation::kTest;
    request.args.archive = archive;
    request.args.folder_names = !o.junk_paths;
    request.args.overwrite = o.overwrite;
    request.args.password = o.password;
    request.folder = o.positional.size() > 1 ? o.positional[1] : ".";
    for (const Row& r : listing.rows) request.member_names.push_back(r.name);
    return RunProgramOperationHeadless(request);
}

// The kind's name in the JSON document.
std::string KindName(formats::ArchiveKind kind, const SingleFileFacts& facts) {
    switch (kind) {
        case formats::kKindArj:
            return "arj";
        case formats::kKindLzh:
            return "lzh";
        case formats::kKindArc:
            return "arc";
        case formats::kKindEncodedMail:
            return "mail";
        default:
            return IsSingleFileKind(kind) && !facts.format.empty() ? facts.format : "zip";
    }
}

// Prints the listing as JSON: a whole document, complete or marked as ended early.
void PrintJson(const std::string& archive, formats::ArchiveKind kind, const Listing& listing,
               const SingleFileFacts& facts, bool ok, const std::string& error) {
    JsonArchive about;
    about.path = archive;
    about.kind = KindName(kind, facts);
    std::error_code ec;
    about.file_size = std::filesystem::file_size(archive, ec);
    if (ec) about.file_size = 0;
    about.complete = ok;
    about.error = error;
    std::string document = JsonListing(listing, about);
    std::fwrite(document.data(), 1, document.size(), stdout);
}

// Lists in columns or as JSON. An archive that cannot be read puts nothing on standard output
// (the message goes to standard error); one whose listing ends early shows what was read.
int List(const Options& o, const std::string& archive, formats::ArchiveKind kind) {
    Listing listing;
    listing.keep_folders = o.json;
    SingleFileFacts facts;
    std::string error;
    bool ok = LoadAnyListing(o, archive, kind, listing, facts, error);
    if (!ok && listing.rows.empty()) {
        if (!error.empty()) PrintLine(stderr, error);
        return listing.bad_volume ? kExitDamaged : kExitFailed;
    }
    if (o.json) {
        PrintJson(o.shown_archive.empty() ? archive : o.shown_archive, kind, listing, facts, ok,
                  error);
        if (!ok) PrintLine(stderr, error);
        return ok ? 0 : kExitFailed;
    }
    IntlFormat intl = LoadIntlFormat(SettingsPath());
    std::string header;
    for (const char* t : kColumnTitles) header += std::string(header.empty() ? "" : "\t") + t;
    PrintLine(stdout, header);
    for (size_t i : listing.order) {
        const Row& r = listing.rows[i];
        std::string line = NameText(r) + "\t" + DateText(r.dos_datetime, intl) + "\t" +
                           TimeText(r.dos_datetime, intl) + "\t" + SizeText(r.uncompressed, intl) +
                           "\t" + RatioText(r) + "\t" + SizeText(r.compressed, intl) + "\t" +
                           PathText(r);
        PrintLine(stdout, line);
    }
    PrintLine(stdout, TotalText(listing, intl));
    if (!ok) {
        PrintLine(stderr, error);
        return kExitFailed;
    }
    return 0;
}

struct Session {
    const Options* options = nullptr;
    const Listing* listing = nullptr;
    ProgressMeter* meter = nullptr;
};

platform::LRESULT Report(Session& s, platform::UINT msg, platform::WPARAM wp, platform::LPARAM lp) {
    const char* text = reinterpret_cast<const char*>(lp);
    switch (msg) {
        case engine::kMsgStatusText: {
            std::string_view t(text ? text : "");
            while (!t.empty() && t.front() == ' ') t.remove_prefix(1);
            PrintLine(stdout, t);
            return 0;
        }
        case engine::kMsgStatusLine:
            PrintLine(stdout, text ? text : "");
            return 0;
        case engine::kMsgWarning:
        case engine::kMsgError:
            PrintLine(stderr, text ? text : "");
            return 0;
        case engine::kMsgOverwrite: {
            const auto* q = reinterpret_cast<const engine::OverwriteQuery*>(lp);
            // No one to ask: the safe answer unless --yes, and the output says which it was.
            std::string question =
                "Replace the existing file " + engine::ShownName(q->output_path) + "?";
            if (s.options->yes) {
                PrintLine(stdout, question + " (answered Yes)");
                return engine::kReplace;
            }
            PrintLine(stderr, question + " (answered No; --yes answers Yes)");
            return engine::kSkip;
        }
        case engine::kMsgStopQuestion:
            return 0;
        case engine::kMsgDirLookup:
            return s.listing ? LookUpRow(*s.listing, text ? text : "", static_cast<int>(wp)) : 0;
        default:
            return 0;
    }
}

// The bytes a run counts as progress: the members' data, except that a compressed single file
// counts what is read of it (and a tar inside one both).
uint64_t ExpectedWork(const engine::UnzipCommand& cmd, const Listing& listing) {
    uint64_t members = 0;
    for (const Row& r : listing.rows)
        if (r.uncompressed != kUnknownSize) members += r.uncompressed;
    if (cmd.kind != engine::kKindGzip && cmd.kind != engine::kKindTar) return members;
    engine::UniqueFd fd(::open(cmd.archive.c_str(), O_RDONLY | O_CLOEXEC));
    int64_t size = fd ? engine::FileSize(fd.get()) : -1;
    uint64_t read = size > 0 ? static_cast<uint64_t>(size) : 0;
    if (cmd.kind == engine::kKindGzip) return read;
    return members + (fd && engine::IsCompressedFile(fd.get()) ? read : 0);
}

unsigned StderrColumns() {
    winsize ws{};
    return ioctl(STDERR_FILENO, TIOCGWINSZ, &ws) == 0 ? ws.ws_col : 0;
}

}  // namespace

std::unique_ptr<ProgressMeter> MakeHeadlessMeter(ProgressMode mode) {
    bool terminal = isatty(STDERR_FILENO);
    return std::make_unique<ProgressMeter>(STDERR_FILENO, mode == ProgressMode::kOn,
                                           terminal ? StderrColumns() : 0,
                                           [] { return engine::ProgressProcessed(); });
}

void StartHeadlessMeter(ProgressMeter& meter, ProgressMode mode, uint64_t total) {
    meter.Start(total, ProgressWanted(mode, total, isatty(STDERR_FILENO)));
    meter.RunInBackground();
}

bool IsPrintingMessage(platform::UINT msg) {
    return msg == engine::kMsgStatusText || msg == engine::kMsgStatusLine ||
           msg == engine::kMsgWarning || msg == engine::kMsgError || msg == engine::kMsgOverwrite;
}

namespace {

platform::LRESULT ReportProc(Session& s, platform::UINT msg, platform::WPARAM wp,
                             platform::LPARAM lp) {
    if (!s.meter || !IsPrintingMessage(msg)) return Report(s, msg, wp, lp);
    platform::LRESULT r = 0;
    s.meter->Print([&] { r = Report(s, msg, wp, lp); });
    return r;
}

// Tests or extracts the files of a mail file: decoding (with its CRC checks) has already
// succeeded, so a test only names them.
int TestOrExtractMail(const Options& o, const std::string& archive) {
    if (o.command == 't') {
        for (const mail::Attachment& f : *o.mail_files)
            PrintLine(stdout, "    testing: " + engine::ShownName(f.name) + "   OK");
        PrintLine(stdout, "No errors detected in " + engine::ShownName(archive));
        return 0;
    }
    std::string folder = o.positional.size() > 1 ? o.positional[1] : ".";
    return ExtractAttachments(
        *o.mail_files, folder, o.overwrite || o.yes, o.junk_paths,
        [](bool problem, const std::string& line) { PrintLine(problem ? stderr : stdout, line); });
}

int TestOrExtract(const Options& o, const std::string& archive, formats::ArchiveKind kind) {
    if (kind == formats::kKindEncodedMail && o.mail_files) return TestOrExtractMail(o, archive);
    Listing listing;
    SingleFileFacts facts;
    std::string error;
    if (!LoadAnyListing(o, archive, kind, listing, facts, error)) {
        if (!error.empty()) PrintLine(stderr, error);
        // A split archive with a volume missing or out of place is damaged.
        if (listing.bad_volume) return kExitDamaged;
        // A listing cut short by an overlong name still read the directory: the engine
        // can work on the archive, it refuses that member by itself.
        if (formats::IsProgramKind(kind)) return kExitFailed;
        if (!listing.cut_short) return kExitFailed;
    }
    if (formats::IsProgramKind(kind)) return ExtractWithProgram(o, archive, kind, listing);
    std::error_code ec;
    if (std::filesystem::file_size(archive, ec) == 0 && !ec) return 0;  // an empty archive
    engine::UnzipCommand cmd;
    cmd.kind = engine::kKindZip;
    cmd.archive = archive;
    cmd.start_offset = listing.facts.first_local_offset;
    cmd.folders_by_attribute = listing.facts.folders_without_slash;
    cmd.threads = LoadSettings(SettingsPath()).threads;
    if (IsSingleFileKind(kind)) FillUnzipCommand(facts, cmd);
    if (o.command == 'e') {
        cmd.has_target = true;
        cmd.target = o.positional.size() > 1 ? o.positional[1] : ".";
        cmd.use_folder_names = !o.junk_paths;
        cmd.overwrite_all = o.overwrite;
    }
    cmd.password_given = o.have_password;
    cmd.password = o.password;
    if (listing.facts.encrypted && !o.have_password && isatty(STDIN_FILENO)) {
        if (!PromptPassword(cmd.password)) return kExitFailed;
        cmd.password_given = true;
    }
    std::unique_ptr<ProgressMeter> meter = MakeHeadlessMeter(o.progress);
    uint64_t work = ExpectedWork(cmd, listing);
    StartHeadlessMeter(*meter, o.progress, work);
    Session session{&o, &listing, meter.get()};
    platform::HWND window = platform::CreateWindow(
        [&session](platform::HWND, platform::UINT msg, platform::WPARAM wp, platform::LPARAM lp) {
            return ReportProc(session, msg, wp, lp);
        });
    cmd.report_window = window;
    int called = engine::UNZIP(cmd);
    platform::DestroyWindow(window);
    meter->Finish(called && cmd.result == engine::kUnzipOk);
    if (!called) {
        PrintLine(
            stderr,
            "Another instance of Borvan is busy zipping or unzipping.  Please wait until this "
            "task is complete and re-try the operation");
        return kExitFailed;
    }
    return cmd.result;
}

// Extracts every member into `folder` (folder names kept, files replaced) through the
// archiver of the kind or the engine.
bool ExtractAllInto(const Options& o, const std::string& archive, formats::ArchiveKind kind,
                    const programs::ProgramLocations& locations, const std::string& folder,
                    std::string& error) {
    if (formats::IsProgramKind(kind))
        return programs::ExtractAllWithProgram(kind, archive, folder, locations, error);
    Options extract = o;
    extract.command = 'e';
    extract.overwrite = extract.yes = true;
    extract.junk_paths = false;
    extract.positional = {archive, folder};
    if (TestOrExtract(extract, archive, kind) == 0) return true;
    error = "Error extracting";
    return false;
}

// Extracts the archive into a private folder, runs the scanner over it and prints its
// output; the exit status is the scanner's (clamscan: 1 when something was found).
int VirusScan(const Options& o, const std::string& archive, formats::ArchiveKind kind) {
    programs::ProgramLocations locations = programs::LoadProgramLocations(SettingsPath());
    programs::ScanOutcome out =
        programs::RunVirusScan(locations, [&](const std::string& folder, std::string& error) {
            return ExtractAllInto(o, archive, kind, locations, folder, error);
        });
    // The scanner's own output, names and all: no control sequence reaches the terminal.
    std::fputs(TerminalSafe(out.output).c_str(), stdout);
    PrintLine(out.completed ? stdout : stderr, out.message);
    if (out.completed) return out.exit_code;
    // A scan that did not run is never success, whatever the scanner's exit code said.
    return out.ran && out.exit_code > 1 ? out.exit_code : kExitUsage;
}

// CheckOut without a screen: the choices checked, the warnings answered by --yes (or
// refused), the archive extracted into the folder and a launcher group built from its rows.
int CheckOut(const Options& o, const std::string& archive, formats::ArchiveKind kind) {
    programs::CheckOutPlaces places = programs::LoadCheckOutPlaces(SettingsPath());
    programs::CheckOutChoices choices;
    choices.folder = o.positional[1];
    choices.group = o.group;
    choices.max_icons = o.max_icons;
    choices.icons_only = !o.all_files;
    std::string error, question;
    if (!programs::CheckCheckOutChoices(choices, places, error, question)) {
        PrintLine(stderr, error);
        return kExitFailed;
    }
    if (!question.empty()) {
        if (!o.yes) {
            PrintLine(stderr, question + " (answered No; --yes answers Yes)");
            return kExitFailed;
        }
        PrintLine(stdout, question + " (answered Yes)");
    }
    Listing listing;
    SingleFileFacts facts;
    if (!LoadAnyListing(o, archive, kind, listing, facts, error)) {
        PrintLine(stderr, error);
        return kExitFailed;
    }
    programs::ProgramLocations locations = programs::LoadProgramLocations(SettingsPath());
    if (!programs::PrepareCheckOutFolder(choices, places, error) ||
        !ExtractAllInto(o, archive, kind, locations, choices.folder, error)) {
        PrintLine(stderr, error);
        return kExitFailed;
    }
    std::vector<programs::CheckOutMember> members;
    for (const Row& r : listing.rows) members.push_back({r.name, r.type_class});
    std::error_code ec;
    std::string self = std::filesystem::read_symlink("/proc/self/exe", ec).string();
    programs::GroupOutcome out =
        programs::BuildCheckOutGroup(choices, places, members, ec ? "borvan32" : self);
    if (!out.message.empty()) PrintLine(out.icons > 0 ? stdout : stderr, out.message);
    if (out.icons == 0 && choices.icons_only) return kExitFailed;
    PrintLine(stdout, std::to_string(out.icons) + " launcher" + (out.icons == 1 ? "" : "s") +
                          " in " + out.group_folder);
    return 0;
}

int DeleteCheckOut(const Options& o) {
    std::string error;
    if (!programs::DeleteCheckOut(o.positional[0], o.group,
                                  programs::LoadCheckOutPlaces(SettingsPath()), error)) {
        PrintLine(stderr, error);
        return kExitFailed;
    }
    return 0;
}

int RunOnArchive(const Options& o, const std::string& archive, formats::ArchiveKind kind) {
    if (o.command == 'v') return VirusScan(o, archive, kind);
    if (o.command == 'k') return CheckOut(o, archive, kind);
    if (o.command == 'i') {
        // The record is named after the archive, without its folder and last extension.
        std::string name =
            std::filesystem::path(o.shown_archive.empty() ? archive : o.shown_archive)
                .stem()
                .string();
        programs::ProgramLocations locations = programs::LoadProgramLocations(SettingsPath());
        return InstallHeadless(
            archive, name, o.yes, o.prefix, [&](const std::string& folder, std::string& error) {
                return ExtractAllInto(o, archive, kind, locations, folder, error);
            });
    }
    if (kind != formats::kKindZip && !IsSingleFileKind(kind) && !formats::IsProgramKind(kind) &&
        !(kind == formats::kKindEncodedMail && o.mail_files)) {
        PrintLine(stderr, archive + " is " + formats::KindDescription(kind) +
                              "; this kind is not supported yet");
        return kExitFailed;
    }
    if (o.command == 'l') return List(o, archive, kind);
    return TestOrExtract(o, archive, kind);
}

// Works on a mail file: on the one archive it carries, decoded to a temporary file, or on
// the files it carries.
int RunOnMailFile(Options o, const std::string& path) {
    std::vector<mail::Attachment> files;
    std::string error;
    if (!ReadMailFile(path, files, error)) {
        PrintLine(stderr, error);
        return kExitDamaged;
    }
    formats::ArchiveKind inner = SingleArchiveKind(files);
    if (inner == formats::kKindUnknown) {
        o.mail_files = &files;
        return RunOnArchive(o, path, formats::kKindEncodedMail);
    }
    std::optional<DecodedArchive> decoded = WriteDecodedArchive(files[0].data, error);
    if (!decoded) {
        PrintLine(stderr, error);
        return kExitFailed;
    }
    files.clear();
    o.shown_archive = path;
    return RunOnArchive(o, decoded->path, inner);
}

int WriteForMail(const Options& o, const std::string& archive, formats::ArchiveKind kind) {
    std::string error;
    std::string out = WriteArchiveForMail(archive, o.mail_form, kind, error);
    if (out.empty()) {
        PrintLine(stderr, error);
        return kExitFailed;
    }
    PrintLine(stdout, "Wrote " + engine::ShownName(out));
    return 0;
}

}  // namespace

bool RefuseOtherKinds(const std::string& archive) {
    formats::ArchiveKind kind = formats::kKindZip;
    // A file that cannot be read is left to the reader, which names it in its message.
    if (!formats::DetectFileKind(archive, DefaultArchiveKind(SettingsPath()), kind) ||
        kind == formats::kKindZip)
        return true;
    PrintLine(stderr, archive + " is " + formats::KindDescription(kind) +
                          (IsSingleFileKind(kind) || kind == formats::kKindEncodedMail
                               ? "; this kind cannot be changed"
                               : "; this kind is not supported yet"));
    return false;
}

int RunHeadless(const std::vector<std::string>& args) {
    Options o;
    std::string why;
    if (!ParseArgs(args, o, why)) {
        PrintLine(stderr, ValidationErrorText(why));
        std::fputs(kHeadlessUsage, stderr);
        return kExitUsage;
    }
    if (o.command == 'K') return DeleteCheckOut(o);
    if (o.command == 'I') return UninstallHeadless(o.positional.empty() ? "" : o.positional[0]);
    std::string archive = engine::WithZipExtension(o.positional[0]);
    if (o.command == 'X') return MakeSfxHeadless(o, archive);
    std::error_code ec;
    if (std::filesystem::is_directory(archive, ec)) {
        // A folder opens but cannot be read: say so as for any archive that cannot be opened.
        PrintLine(stderr, "Can't open input file: " + archive);
        return kExitFailed;
    }
    formats::ArchiveKind kind = formats::kKindZip;
    // A file that cannot be read is left to the zip reader, which names it in its message.
    if (!formats::DetectFileKind(archive, DefaultArchiveKind(SettingsPath()), kind))
        kind = formats::kKindZip;
    if (kind == formats::kKindZip) {
        // A self-extracting ARJ or LZH archive: the question whether to run it is answered
        // No, and the archive behind it is what the command works on.
        std::string question;
        formats::ArchiveKind behind = ProgramKindBehindExe(archive, question);
        if (behind != formats::kKindUnknown) {
            PrintLine(stderr, question + " (answered No)");
            kind = behind;
        }
    }
    if (o.command == 'M') return WriteForMail(o, archive, kind);
    if (kind == formats::kKindEncodedMail) return RunOnMailFile(o, archive);
    return RunOnArchive(o, archive, kind);
}

}  // namespace shell
