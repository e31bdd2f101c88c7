// The settings-file reader: the input is a settings file, read key by key and section by
// section as both programs read theirs, changed by one written key, and loaded as the archive
// manager's whole settings.
#include "archiver/shell/settings.h"
#include "fuzz/fuzz_util.h"
#include "platform/profile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string path = fuzz::WriteInput("settings.ini", {data, size});
    size_t keys = 0;
    for (const std::string& section : platform::GetPrivateProfileSections(path)) {
        platform::ReadProfileSection(section, path);
        for (const std::string& key : platform::GetPrivateProfileKeys(section, path)) {
            if (++keys > 64) break;
            platform::GetPrivateProfileString(section, key, "", 260, path);
            platform::GetPrivateProfileInt(section, key, -1, path);
        }
        if (keys > 64) break;
    }
    shell::LoadSettings(path, 80, 25);
    platform::WritePrivateProfileString("Fuzz", "key", "value", path);
    platform::DeletePrivateProfileKey("Fuzz", "key", path);
    return 0;
}
