#include "archiver/shell/options_record.h"

namespace shell {

namespace {

constexpr size_t kEarlierOptsLength = 240;
constexpr size_t kEarlierRecordBytes = 119;

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool DecodeHex(std::string_view text, uint8_t* out, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        int hi = HexValue(text[2 * i]), lo = HexValue(text[2 * i + 1]);
        if (hi < 0 || lo < 0) return false;
        out[i] = static_cast<uint8_t>(hi << 4 | lo);
    }
    return true;
}

void AppendHex(std::string& out, uint8_t b) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    out.push_back(kDigits[b >> 4]);
    out.push_back(kDigits[b & 15]);
}

}  // namespace

OptionRecord DefaultOptionRecord() {
    // "Store Filenames In DOS 8.3 Format" starts off: shortened names lose information and
    // can clash (CMakeLists.txt and CMakeListsOld.txt both become CMAKELIS.TXT), so they are
    // only ever chosen on purpose.
    OptionRecord r{};
    static constexpr struct {
        OptionField field;
        uint32_t value;
    } kDefaults[] = {
        {kOptCompressedSizes, 1},  {kOptSortOrder, 15},     {kOptCompression, 1},
        {kOptOldPkzipCompress, 1}, {kOptUseFolderNames, 1}, {kOptLowercaseNames, 1},
        {kOptAddAfterNew, 1},      {kOptDefaultFormat, 1},  {kOptLogDrive, 'c'},
        {kOptInternalUnzip, 1},    {kOptInternalZip, 1},    {kOptLargeButtons, 1},
        {kOptPromptDropped, 1},    {kOptPromptDragged, 1},  {kOptPromptView, 1},
        {kOptPromptExtract, 1},    {kOptLightGray, 1},      {kOptViewer, 802},
        {kOptSmartDoc, 1},         {kOptAssocIcons, 1},     {kOptInstall, 1},
        {kOptTarCrLf, 1},          {kOptRightPopup, 1},     {kOptHighColor, 1},
    };
    for (const auto& d : kDefaults) SetOption(r, d.field, d.value);
    return r;
}

uint32_t GetOption(const OptionRecord& record, OptionField field) {
    uint32_t v = 0;
    for (size_t i = 0; i < field.width && field.offset + i < record.size(); ++i)
        v |= static_cast<uint32_t>(record[field.offset + i]) << (8 * i);
    return v;
}

void SetOption(OptionRecord& record, OptionField field, uint32_t value) {
    for (size_t i = 0; i < field.width && field.offset + i < record.size(); ++i)
        record[field.offset + i] = static_cast<uint8_t>(value >> (8 * i));
}

std::string EncodeOptionRecord(const OptionRecord& record) {
    std::string out;
    out.reserve(2 * (record.size() + 1));
    uint8_t sum = 0;
    for (uint8_t b : record) {
        AppendHex(out, b);
        sum = static_cast<uint8_t>(sum + b);
    }
    AppendHex(out, sum);
    return out;
}

bool DecodeOptionRecord(std::string_view text, OptionRecord& record) {
    OptionRecord decoded = record;
    if (text.size() == kEarlierOptsLength) {
        if (!DecodeHex(text, decoded.data(), kEarlierRecordBytes)) return false;
        record = decoded;
        return true;
    }
    if (text.size() != 2 * (kOptionRecordSize + 1)) return false;
    uint8_t check = 0;
    if (!DecodeHex(text, decoded.data(), kOptionRecordSize) ||
        !DecodeHex(text.substr(2 * kOptionRecordSize), &check, 1))
        return false;
    uint8_t sum = 0;
    for (uint8_t b : decoded) sum = static_cast<uint8_t>(sum + b);
    if (sum != check) return false;
    record = decoded;
    return true;
}

}  // namespace shell
