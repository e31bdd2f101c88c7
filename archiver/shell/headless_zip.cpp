#include "archiver/shell/headless_zip.h"

#include "archiver/shell/command_request.h"
#include "archiver/shell/encryption_choice.h"
#include "archiver/shell/headless.h"
#include "archiver/shell/program_kinds.h"
#include "archiver/shell/settings.h"
#include "archiver/shell/terminal_text.h"

#include <cstdio>
#include <optional>
#include <string_view>

#include "archiver/engine/unzip/engine_frame.h"
#include "archiver/engine/unzip/output_path.h"
#include "archiver/engine/zip/split_writer.h"
#include "archiver/engine/zip/zip.h"
#include "platform/event_loop.h"

namespace shell {

const char* const kHeadlessZipUsage =
    "       borvan32 -a|-f|-u|-m [-r] [-p] [--follow-links] [-ex|-en|-ef|-es|-e0] "
    "[--split=SIZE]\n"
    "                [--password=TEXT] [--encrypt=zipcrypto|aes128|aes192|aes256]\n"
    "                [--progress|--no-progress]\n"
    "                ARCHIVE [NAMES...]\n"
    "       (--encrypt, with --password: the cipher; the settings' Encryption when left out)\n"
    "       (a symbolic link is stored as a link; --follow-links stores what it points to)\n"
    "       (--split=SIZE writes volumes NAME.z01, NAME.z02, ..., NAME.zip of at most SIZE\n"
    "        bytes each; k, m or g multiply by 1024, 1024^2, 1024^3; at least 64k)\n"
    "       borvan32 -d ARCHIVE NAMES...   (delete members)\n"
    "       (zip commands: \"--\" before ARCHIVE lets it and the NAMES start with \"-\")\n";

namespace {

constexpr int kExitUsage = 2;
constexpr int kExitFailed = 1;

// Progress meter messages of the zip writer (the window's meter has the same).
constexpr platform::UINT kMeterSetRange = platform::WM_USER + 0;

bool IsGlobalOption(const std::string& a) {
    return a == "--headless" || a == "--yes" || a == "--progress" || a == "--no-progress" ||
           a.rfind("--password=", 0) == 0 || a.rfind("--encrypt=", 0) == 0;
}

// The compression letters of the command language: level and method of the record.
bool SetCompression(char letter, zip::ZipCommand& cmd) {
    switch (letter) {
        case 'x':
        case 'X':
            cmd.level = 9;
            cmd.method = -1;
            return true;
        case 'n':
        case 'N':
            cmd.level = 5;
            cmd.method = -1;
            return true;
        case 'f':
        case 'F':
            cmd.level = 3;
            cmd.method = -1;
            return true;
        case 's':
        case 'S':
            cmd.level = 1;
            cmd.method = -1;
            return true;
        case '0':
            cmd.level = 0;
            cmd.method = 0;
            return true;
        default:
            return false;
    }
}

// False on a parameter error; `why` then names the refused word when one was.
bool Parse(const std::vector<std::string>& args, zip::ZipCommand& cmd, ProgressMode& progress,
           std::optional<int>& cipher, std::string& why) {
    char command = 0;
    bool have_archive = false;
    bool switches = true;
    for (const std::string& a : args) {
        if (switches && a == "--") {
            // Everything after it is the archive and names, even when it starts with "-".
            switches = false;
            if (!command) return false;
        } else if (have_archive) {
            cmd.names.push_back(a);
        } else if (!switches) {
            cmd.archive = a;
            have_archive = true;
        } else if (IsGlobalOption(a)) {
            if (a.rfind("--password=", 0) == 0) {
                cmd.password_given = true;
                cmd.password = a.substr(11);
            } else if (a.rfind("--encrypt=", 0) == 0) {
                cipher = ParseEncryptionName(a.substr(10));
                if (!cipher) {
                    why = "\"" + a + "\" is not a cipher (zipcrypto, aes128, aes192, aes256)";
                    return false;
                }
            } else if (a == "--progress" || a == "--no-progress") {
                progress = a == "--progress" ? ProgressMode::kOn : ProgressMode::kOff;
            }
        } else if (!command) {
            if (a.size() != 2 || a[0] != '-') {
                why = "\"" + a + "\" is not a command";
                return false;
            }
            command = a[1];
            if (command == 'a' || command == 'm') {
                cmd.action = zip::kActionAdd;
                cmd.move = command == 'm';
            } else if (command == 'f') {
                cmd.action = zip::kActionFreshen;
            } else if (command == 'u') {
                cmd.action = zip::kActionUpdate;
            } else if (command == 'd') {
                cmd.action = zip::kActionDelete;
                cmd.recurse = true;  // delete matches stored names with their folders
                cmd.method = -1;
                cmd.level = 0;
            } else {
                why = "\"" + a + "\" is not a command";
                return false;
            }
        } else if (a.size() >= 2 && a[0] == '-') {
            why = "\"" + a + "\" is not an option of -" + command;
            if (command == 'd') return false;
            if (a == "-r") {
                cmd.recurse = true;
            } else if (a == "-p") {
                cmd.store_folder_names = true;
            } else if (a == "--follow-links") {
                cmd.follow_links = true;
            } else if (a.rfind("--split=", 0) == 0) {
                std::optional<uint64_t> size = zip::ParseVolumeSize(std::string_view(a).substr(8));
                if (!size) {
                    why = "\"" + a + "\" is not a size (bytes, or a number with k, m or g)";
                    return false;
                }
                if (*size < zip::kMinVolumeSize) {
                    why = "--split: a volume must hold at least 64k (65536 bytes)";
                    return false;
                }
                cmd.split_size = *size;
            } else if (a.size() != 3 || a[1] != 'e' || !SetCompression(a[2], cmd)) {
                return false;
            }
            why.clear();
        } else {
            cmd.archive = a;
            have_archive = true;
        }
    }
    if (!have_archive || cmd.archive.empty()) return false;
    // A cipher without a password would write the files in the clear, against the request.
    if (cipher && !cmd.password_given) {
        why = "--encrypt goes with --password";
        return false;
    }
    if (cmd.names.empty()) {
        if (command == 'd') return false;
        cmd.names.push_back("*.*");
    }
    // An archive named without an extension gets ".zip", as on the command line, unless a
    // file of that very name exists.
    cmd.archive = engine::WithZipExtension(cmd.archive);
    return true;
}

platform::LRESULT Report(platform::UINT msg, platform::WPARAM wp, platform::LPARAM lp) {
    const char* text = reinterpret_cast<const char*>(lp);
    switch (msg) {
        case engine::kMsgStatusText: {
            // Each step is sent twice, for the status line and for the log: print it once.
            if (wp == engine::kStatusLineOnly) return 0;
            std::string_view t(text ? text : "");
            while (!t.empty() && t.front() == ' ') t.remove_prefix(1);
            PrintLine(stdout, t);
            return 0;
        }
        case engine::kMsgWarning:
        case engine::kMsgError:
            PrintLine(stderr, text ? text : "");
            return 0;
        default:
            return 0;
    }
}

platform::LRESULT ReportProc(ProgressMeter& meter, ProgressMode mode, platform::UINT msg,
                             platform::WPARAM wp, platform::LPARAM lp) {
    if (msg == kMeterSetRange) {
        // The writer knows its work once it chose the files: the meter starts there.
        StartHeadlessMeter(meter, mode, engine::Frame().progress_expected);
        return 0;
    }
    if (!IsPrintingMessage(msg)) return Report(msg, wp, lp);
    platform::LRESULT r = 0;
    meter.Print([&] { r = Report(msg, wp, lp); });
    return r;
}

}  // namespace

bool IsHeadlessZipCommand(const std::vector<std::string>& args) {
    for (const std::string& a : args) {
        if (IsGlobalOption(a)) continue;
        return a == "-a" || a == "-f" || a == "-u" || a == "-m" || a == "-d";
    }
    return false;
}

int RunHeadlessZip(const std::vector<std::string>& args) {
    zip::ZipCommand cmd;
    std::string why;
    ProgressMode progress = ProgressMode::kAuto;
    std::optional<int> cipher;
    if (!Parse(args, cmd, progress, cipher, why)) {
        PrintLine(stderr, ValidationErrorText(why));
        return kExitUsage;
    }
    // ARJ and LZH archives change through their own programs.
    if (std::optional<int> status = RunProgramKindChange(cmd)) return *status;
    if (!RefuseOtherKinds(cmd.archive)) return kExitFailed;
    std::unique_ptr<ProgressMeter> meter = MakeHeadlessMeter(progress);
    platform::HWND window =
        platform::CreateWindow([&meter, progress](platform::HWND, platform::UINT msg,
                                                  platform::WPARAM wp, platform::LPARAM lp) {
            return ReportProc(*meter, progress, msg, wp, lp);
        });
    cmd.report_window = window;
    cmd.progress_window = window;
    Settings settings = LoadSettings(SettingsPath());
    cmd.threads = settings.threads;
    cmd.encryption = cipher.value_or(EncryptionFromSetting(settings.encryption));
    int called = zip::ZIP(cmd);
    platform::DestroyWindow(window);
    meter->Finish(called && cmd.result == 0);
    if (!called) {
        PrintLine(stderr,
                  "Another instance of Borvan is busy zipping or unzipping.  Please wait until "
                  "this task is complete and re-try the operation");
        return kExitFailed;
    }
    return cmd.result;
}

}  // namespace shell
