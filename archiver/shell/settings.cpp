#include "archiver/shell/settings.h"

#include <langinfo.h>
#include <locale.h>

#include <cctype>
#include <cstdlib>

#include "platform/profile.h"

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

// The order of the first d, m and y of a Windows-style short date ("M/d/yy").
std::string OrderOfShortDate(std::string_view format) {
    std::string order;
    for (char c : format) {
        char l = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if ((l == 'd' || l == 'm' || l == 'y') && order.find(l) == std::string::npos)
            order.push_back(l);
    }
    return order.size() == 3 ? order : "mdy";
}

bool IsSingleSeparator(std::string_view s) {
    return s.size() == 1 && static_cast<unsigned char>(s[0]) < 0x80 &&
           std::ispunct(static_cast<unsigned char>(s[0]));
}

// The literal text between the first two conversions of a strftime format ("%d.%m.%Y": ".").
std::string_view SeparatorOf(std::string_view fmt) {
    size_t first = fmt.find('%');
    if (first == fmt.npos || first + 2 > fmt.size()) return {};
    size_t start = first + 2;
    size_t next = fmt.find('%', start);
    return fmt.substr(start, next == fmt.npos ? fmt.npos : next - start);
}

}  // namespace

std::string SettingsPath() {
    return platform::ConfigFolder("borvan32") + "borvan32.ini";
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

formats::ArchiveKind DefaultArchiveKind(const std::string& settings_path) {
    OptionRecord record{};
    std::string opts = platform::GetPrivateProfileString("Borvan", "Opts", "", 0, settings_path);
    if (!DecodeOptionRecord(opts, record)) return formats::kKindUnknown;
    unsigned kind = record[kOptDefaultKind] | record[kOptDefaultKind + 1] << 8;
    // Only kinds an archive can be opened as; anything else counts as not configured.
    return kind >= formats::kKindZip && kind <= formats::kKindEncodedMail
               ? static_cast<formats::ArchiveKind>(kind)
               : formats::kKindUnknown;
}

IntlFormat IntlFromLocale(std::string_view d_fmt, std::string_view t_fmt,
                          std::string_view thousands) {
    IntlFormat intl;
    std::string order;
    std::string_view date_sep;
    if (d_fmt == "%D") {
        order = "mdy";
        date_sep = "/";
    } else if (d_fmt == "%F") {
        order = "ymd";
        date_sep = "-";
    } else {
        for (size_t i = 0; i + 1 < d_fmt.size(); ++i) {
            if (d_fmt[i] != '%') continue;
            size_t c = i + 1;
            while (c < d_fmt.size() && (d_fmt[c] == 'E' || d_fmt[c] == 'O' || d_fmt[c] == '-' ||
                                        d_fmt[c] == '_' || d_fmt[c] == '0'))
                ++c;  // modifiers and flags
            if (c >= d_fmt.size()) break;
            char letter = d_fmt[c];
            char field = letter == 'd' || letter == 'e'   ? 'd'
                         : letter == 'm' || letter == 'b' ? 'm'
                         : letter == 'y' || letter == 'Y' ? 'y'
                                                          : 0;
            if (field && order.find(field) == std::string::npos) order.push_back(field);
            i = c;
        }
        date_sep = SeparatorOf(d_fmt);
    }
    if (order.size() == 3) intl.date_order = order;
    if (IsSingleSeparator(date_sep)) intl.date_sep = date_sep[0];
    std::string_view time_sep = SeparatorOf(t_fmt);
    if (IsSingleSeparator(time_sep)) intl.time_sep = time_sep[0];
    if (!thousands.empty()) intl.thousand_sep = std::string(thousands);
    return intl;
}

IntlFormat LoadIntlFormat(const std::string& settings_path) {
    IntlFormat intl;
    // The user's locale without changing the program's own (which stays "C" for byte work).
    locale_t loc = newlocale(LC_TIME_MASK | LC_NUMERIC_MASK, "", static_cast<locale_t>(0));
    if (loc) {
        intl = IntlFromLocale(nl_langinfo_l(D_FMT, loc), nl_langinfo_l(T_FMT, loc),
                              nl_langinfo_l(THOUSEP, loc));
        freelocale(loc);
    }
    auto ini = [&](const char* key) {
        return platform::GetPrivateProfileString("Intl", key, "", 0, settings_path);
    };
    if (std::string v = ini("sShortDate"); !v.empty()) intl.date_order = OrderOfShortDate(v);
    if (std::string v = ini("sDate"); !v.empty()) intl.date_sep = v[0];
    if (std::string v = ini("sTime"); !v.empty()) intl.time_sep = v[0];
    if (std::string v = ini("sThousand"); !v.empty()) intl.thousand_sep = v;
    return intl;
}

}  // namespace shell
