// The parsed form of a private-profile (INI) file: parsing, writing back and finding.
#include "platform/profile_document.h"

namespace platform::profile_detail {

namespace {

constexpr std::string_view kBlanks = " \t\v\f\r";
constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

void Classify(Line& line) {
    const std::string_view t = Trim(line.text);
    if (t.empty()) {
        line.kind = LineKind::kBlank;
    } else if (t[0] == ';') {
        line.kind = LineKind::kComment;
    } else if (t[0] == '[') {
        line.kind = LineKind::kHeader;
        const size_t close = t.find(']');
        line.name = Trim(t.substr(1, close == std::string_view::npos ? t.npos : close - 1));
    } else if (const size_t eq = line.text.find('='); eq != std::string::npos) {
        line.kind = LineKind::kKey;
        line.name = Trim(std::string_view(line.text).substr(0, eq));
        line.value_pos = eq + 1;
    } else {
        line.kind = LineKind::kOther;  // kept, but not a key
    }
}

void IndexSections(Document& doc) {
    for (size_t i = 0; i < doc.lines.size(); ++i) {
        const Line& line = doc.lines[i];
        if (line.kind == LineKind::kHeader) {
            if (!doc.sections.empty()) doc.sections.back().end = i;
            Section s;
            s.folded = Fold(line.name);
            s.header = i;
            doc.first_section.emplace(s.folded, doc.sections.size());
            doc.sections.push_back(std::move(s));
        } else if (line.kind == LineKind::kKey && !doc.sections.empty()) {
            doc.sections.back().keys.emplace(Fold(line.name), i);  // the first one stays
        }
    }
    if (!doc.sections.empty()) doc.sections.back().end = doc.lines.size();
}

}  // namespace

std::string_view Trim(std::string_view s) {
    const size_t first = s.find_first_not_of(kBlanks);
    if (first == std::string_view::npos) return {};
    return s.substr(first, s.find_last_not_of(kBlanks) - first + 1);
}

std::string Fold(std::string_view s) {
    std::string out(s);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return out;
}

Line NewLine(std::string text, bool crlf) {
    Line line;
    line.text = std::move(text);
    line.crlf = crlf;
    Classify(line);
    return line;
}

Document Parse(std::string_view bytes) {
    Document doc;
    if (bytes.substr(0, kUtf8Bom.size()) == kUtf8Bom) {
        doc.bom = true;
        bytes.remove_prefix(kUtf8Bom.size());
    }
    bool line_end_seen = false;
    size_t pos = 0;
    while (pos < bytes.size()) {
        const size_t nl = bytes.find('\n', pos);
        Line line;
        std::string_view text = bytes.substr(pos, nl == bytes.npos ? bytes.npos : nl - pos);
        line.has_eol = nl != bytes.npos;
        if (line.has_eol && !text.empty() && text.back() == '\r') {
            line.crlf = true;
            text.remove_suffix(1);
        }
        if (line.has_eol && !line_end_seen) {
            doc.crlf = line.crlf;
            line_end_seen = true;
        }
        line.text = text;
        Classify(line);
        doc.lines.push_back(std::move(line));
        pos = nl == bytes.npos ? bytes.size() : nl + 1;
    }
    IndexSections(doc);
    return doc;
}

std::string Serialize(bool bom, const std::vector<Line>& lines) {
    size_t total = bom ? kUtf8Bom.size() : 0;
    for (const Line& line : lines) total += line.text.size() + 2;
    std::string out;
    out.reserve(total);
    if (bom) out += kUtf8Bom;
    for (const Line& line : lines) {
        out += line.text;
        if (line.has_eol) out += line.crlf ? "\r\n" : "\n";
    }
    return out;
}

const Section* FindSection(const Document& doc, std::string_view name) {
    const auto it = doc.first_section.find(Fold(Trim(name)));
    return it == doc.first_section.end() ? nullptr : &doc.sections[it->second];
}

const Line* FindKey(const Document& doc, std::string_view section, std::string_view key) {
    const Section* s = FindSection(doc, section);
    if (s == nullptr || Trim(key).empty()) return nullptr;
    const auto it = s->keys.find(Fold(Trim(key)));
    return it == s->keys.end() ? nullptr : &doc.lines[it->second];
}

// One past the section's last line that is neither blank nor a comment (the header when
// there is none): blank lines and comments after it separate it from the next section and
// usually belong to that one, so they stay where they are.
size_t ContentEnd(const Document& doc, const Section& s) {
    for (size_t i = s.end; i > s.header + 1; --i) {
        const LineKind kind = doc.lines[i - 1].kind;
        if (kind == LineKind::kKey || kind == LineKind::kOther) return i;
    }
    return s.header + 1;
}

}  // namespace platform::profile_detail
