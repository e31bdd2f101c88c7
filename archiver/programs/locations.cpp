#include "archiver/programs/locations.h"

#include "archiver/programs/runner.h"
#include "platform/profile.h"

namespace programs {

namespace {

constexpr const char* kNotSet = "\x01";  // tells a missing key from an empty one

std::string FirstInstalled(std::initializer_list<const char*> names) {
    for (const char* n : names)
        if (!FindOnPath(n).empty()) return n;
    return {};
}

std::string Read(const std::string& key, const std::string& path,
                 std::initializer_list<const char*> defaults, bool& was_set) {
    std::string v = platform::GetPrivateProfileString("Programs", key, kNotSet, 4096, path);
    was_set = v != kNotSet;
    return was_set ? v : FirstInstalled(defaults);
}

}  // namespace

ProgramLocations LoadProgramLocations(const std::string& settings_path) {
    ProgramLocations p;
    bool set = false;
    p.arj = Read("arj", settings_path, {"arj"}, set);
    p.lha = Read("lha", settings_path, {"lha"}, set);
    p.arc = Read("arc", settings_path, {"nomarch", "arc"}, set);
    bool scan_set = false;
    p.scan = Read("scan", settings_path, {"clamscan"}, scan_set);
    bool template_set = false;
    p.scan_template = Read("scanp", settings_path, {}, template_set);
    if (!template_set && !scan_set && !p.scan.empty()) p.scan_template = kClamscanTemplate;
    return p;
}

const std::string& ProgramFor(const ProgramLocations& locations, formats::ArchiveKind kind) {
    static const std::string none;
    switch (kind) {
        case formats::kKindArj:
            return locations.arj;
        case formats::kKindLzh:
            return locations.lha;
        case formats::kKindArc:
            return locations.arc;
        default:
            return none;
    }
}

const char* ProgramDisplayName(formats::ArchiveKind kind) {
    switch (kind) {
        case formats::kKindArj:
            return "ARJ";
        case formats::kKindLzh:
            return "LHA";
        default:
            return "ARC extraction";
    }
}

}  // namespace programs
