#include "archiver/shell/dialogs/configuration.h"

namespace dialogs {

namespace {

constexpr RecordSwitch kSwitches[] = {
    {0, 4, "Display &Compressed Sizes"},
    {34, 4, "L&owercase File Names"},
    {38, 4, "Lo&g Commands/Messages"},
    {46, 4, "&Beep After Long Archive Operations"},
    {50, 4, "Au&tomatically Show Open Dialog Box"},
    {54, 4, "Show &Add Dialog After New Archive"},
    {77, 4, "Use Internal &Unzipping"},
    {81, 4, "Use Internal &Zipping"},
    {193, 4, "Store Filenames In DOS &8.3 Format"},
    {115, 4, "Prompt When File Is &Dropped On Borvan"},
    {123, 4, "Prompt When &View Button Is Pushed"},
    {127, 4, "Prompt When &Extract Button Is Pushed"},
    {213, 4, "TAR File Smart CR/LF Co&nversion"},
    {217, 4, "Right Button Displays &Popup Menu"},
};

}  // namespace

std::span<const RecordSwitch> ConfigurationSwitches() {
    return kSwitches;
}

uint32_t ReadField(const shell::OptionRecord& record, size_t offset, size_t width) {
    uint32_t value = 0;
    for (size_t i = 0; i < width && i < 4 && offset + i < record.size(); ++i)
        value |= static_cast<uint32_t>(record[offset + i]) << (8 * i);
    return value;
}

void WriteField(shell::OptionRecord& record, size_t offset, size_t width, uint32_t value) {
    for (size_t i = 0; i < width && i < 4 && offset + i < record.size(); ++i)
        record[offset + i] = static_cast<uint8_t>(value >> (8 * i));
}

}  // namespace dialogs
