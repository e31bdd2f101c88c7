// Rewriting whole sections of a private-profile file.
#include "platform/profile_sections.h"

#include <algorithm>
#include <cstdint>
#include <unordered_map>
#include <unordered_set>

namespace platform::profile_detail {

namespace {

// The longest common subsequence of two lists of values, as the index in `b` each element of
// `a` is paired with (npos when none). Equal heads and tails are paired first; the middle gets
// an exact table when it is small, else each value takes its next equal one in order.
std::vector<size_t> PairValues(const std::vector<std::string_view>& a,
                               const std::vector<std::string_view>& b) {
    constexpr size_t kNone = std::string_view::npos;
    constexpr size_t kMaxTable = size_t{1} << 20;
    std::vector<size_t> pair(a.size(), kNone);
    size_t head = 0;
    while (head < a.size() && head < b.size() && a[head] == b[head]) {
        pair[head] = head;
        ++head;
    }
    size_t tail = 0;
    while (tail < a.size() - head && tail < b.size() - head &&
           a[a.size() - 1 - tail] == b[b.size() - 1 - tail]) {
        pair[a.size() - 1 - tail] = b.size() - 1 - tail;
        ++tail;
    }
    const size_t n = a.size() - head - tail, m = b.size() - head - tail;
    if (n == 0 || m == 0) return pair;
    if (n * m <= kMaxTable && n < 65535 && m < 65535) {
        // lcs[i][j]: the longest common subsequence of a[head+i..] and b[head+j..].
        std::vector<uint16_t> lcs((n + 1) * (m + 1), 0);
        const auto at = [&](size_t i, size_t j) -> uint16_t& { return lcs[i * (m + 1) + j]; };
        for (size_t i = n; i-- > 0;) {
            for (size_t j = m; j-- > 0;) {
                at(i, j) = a[head + i] == b[head + j] ? static_cast<uint16_t>(at(i + 1, j + 1) + 1)
                                                      : std::max(at(i + 1, j), at(i, j + 1));
            }
        }
        for (size_t i = 0, j = 0; i < n && j < m;) {
            if (a[head + i] == b[head + j]) {
                pair[head + i] = head + j;
                ++i;
                ++j;
            } else if (at(i + 1, j) >= at(i, j + 1)) {
                ++i;
            } else {
                ++j;
            }
        }
        return pair;
    }
    std::unordered_map<std::string_view, std::vector<size_t>> where;
    for (size_t j = m; j-- > 0;) where[b[head + j]].push_back(head + j);
    size_t next = head;
    for (size_t i = head; i < head + n; ++i) {
        auto it = where.find(a[i]);
        if (it == where.end()) continue;
        std::vector<size_t>& places = it->second;  // nearest last
        while (!places.empty() && places.back() < next) places.pop_back();
        if (places.empty()) continue;
        pair[i] = places.back();
        next = places.back() + 1;
        places.pop_back();
    }
    return pair;
}

}  // namespace

// Appends a section at the end of the file, after a blank line that sets it apart.
void AppendSection(std::vector<Line>& lines, bool crlf, std::string_view name,
                   std::vector<Line> block) {
    if (!lines.empty()) {
        if (!lines.back().has_eol) {
            lines.back().has_eol = true;
            lines.back().crlf = crlf;
        }
        if (lines.back().kind != LineKind::kBlank) lines.push_back(NewLine("", crlf));
    }
    lines.push_back(NewLine("[" + std::string(name) + "]", crlf));
    for (Line& line : block) lines.push_back(std::move(line));
}

// The lines of a rewritten list section: the new entries, with every comment, blank line and
// other line of the old section kept in front of the entry it stood before. Entries are
// paired with the old ones by value, so a list that gained or lost entries (and so was
// renumbered) keeps its comments where they were; the comments of a removed entry go in front
// of whatever follows it. An entry whose line is unchanged keeps its exact text.
std::vector<Line> MergeSection(const Document& doc, std::string_view name,
                               const std::vector<std::pair<std::string, std::string>>& entries) {
    struct OldEntry {
        std::vector<const Line*> before;  // the lines in front of it
        const Line* line = nullptr;
    };
    std::vector<OldEntry> old;
    std::vector<const Line*> rest;
    const std::string folded = Fold(name);
    for (const Section& s : doc.sections) {
        if (s.folded != folded) continue;
        for (size_t i = s.header + 1; i < ContentEnd(doc, s); ++i) {
            const Line& line = doc.lines[i];
            if (line.kind != LineKind::kKey) {
                rest.push_back(&line);
                continue;
            }
            old.push_back(OldEntry{std::move(rest), &line});
            rest.clear();
        }
    }
    std::vector<std::string_view> old_values, new_values;
    old_values.reserve(old.size());
    // Blanks after the "=" of a hand-written "key = value" do not make it another entry.
    for (const OldEntry& e : old) {
        std::string_view value = std::string_view(e.line->text).substr(e.line->value_pos);
        old_values.push_back(value.substr(std::min(value.find_first_not_of(' '), value.size())));
    }
    new_values.reserve(entries.size());
    for (const auto& entry : entries) new_values.push_back(entry.second);
    const std::vector<size_t> pair = PairValues(old_values, new_values);
    std::vector<bool> kept(entries.size(), false);
    for (size_t p : pair)
        if (p != std::string_view::npos) kept[p] = true;

    std::vector<Line> block;
    block.reserve(entries.size() + doc.lines.size() / 4);
    std::vector<const Line*> pending;
    const auto flush = [&] {
        for (const Line* l : pending) block.push_back(*l);
        pending.clear();
    };
    const auto fresh = [&](size_t j) {
        block.push_back(
            NewLine(std::string(Trim(entries[j].first)) + "=" + entries[j].second, doc.crlf));
    };
    size_t i = 0, j = 0;
    while (i < old.size() || j < entries.size()) {
        if (i < old.size() && pair[i] == std::string_view::npos) {
            pending.insert(pending.end(), old[i].before.begin(), old[i].before.end());
            ++i;
        } else if (j < entries.size() && !kept[j]) {
            flush();
            fresh(j++);
        } else if (i >= old.size() || j >= entries.size()) {
            break;  // cannot happen: the pairs are in order on both sides
        } else {
            flush();
            for (const Line* l : old[i].before) block.push_back(*l);
            const Line& line = *old[i].line;
            if (Fold(line.name) == Fold(Trim(entries[j].first)) &&
                std::string_view(line.text).substr(line.value_pos) == entries[j].second)
                block.push_back(line);
            else
                fresh(j);
            ++i;
            ++j;
        }
    }
    pending.insert(pending.end(), rest.begin(), rest.end());
    flush();
    return block;
}

// True when a list section holds text other than its entries (comments, notes); blank lines
// alone do not count.
bool HasOtherLines(const Document& doc, std::string_view name) {
    const std::string folded = Fold(name);
    for (const Section& s : doc.sections) {
        if (s.folded != folded) continue;
        for (size_t i = s.header + 1; i < ContentEnd(doc, s); ++i) {
            const LineKind kind = doc.lines[i].kind;
            if (kind == LineKind::kComment || kind == LineKind::kOther) return true;
        }
    }
    return false;
}

// The file's lines with every occurrence of a section taken out; the first one is replaced
// by the header and block when a block is given (appended when the section is missing).
// Blank lines that would double up where a section was taken out are dropped with it.
std::vector<Line> ReplaceSection(const Document& doc, std::string_view name,
                                 const std::vector<Line>* block) {
    const std::string folded = Fold(name);
    std::vector<Line> out;
    out.reserve(doc.lines.size() + (block != nullptr ? block->size() + 2 : 0));
    bool replaced = false;
    bool skip_blanks = false;
    size_t next = 0;
    const auto copy_until = [&](size_t stop) {
        for (; next < stop; ++next) {
            const Line& line = doc.lines[next];
            if (skip_blanks && line.kind == LineKind::kBlank) continue;
            skip_blanks = false;
            out.push_back(line);
        }
    };
    for (const Section& s : doc.sections) {
        if (s.folded != folded) continue;
        copy_until(s.header);
        if (block != nullptr && !replaced) {
            out.push_back(doc.lines[s.header]);  // the header as the user wrote it
            out.insert(out.end(), block->begin(), block->end());
            replaced = true;
        } else {
            skip_blanks = out.empty() || out.back().kind == LineKind::kBlank;
        }
        next = ContentEnd(doc, s);
    }
    copy_until(doc.lines.size());
    if (block != nullptr && !replaced) AppendSection(out, doc.crlf, name, *block);
    // A line that ended the file without a line end may no longer be the last.
    for (size_t i = 0; i + 1 < out.size(); ++i) {
        if (!out[i].has_eol) {
            out[i].has_eol = true;
            out[i].crlf = doc.crlf;
        }
    }
    return out;
}

}  // namespace platform::profile_detail
