// gzip and Unix compress headers.
#include "archiver/formats/gzip_header.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "archiver/engine/unzip/crc32.h"

namespace formats {

namespace {

std::string BaseOf(const std::string& path) {
    return path.substr(path.find_last_of('/') + 1);
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

}  // namespace

std::optional<std::string> SafeBaseName(std::string_view name) {
    size_t cut = name.find_last_of("/\\");
    if (cut != std::string_view::npos) name.remove_prefix(cut + 1);
    if (name.empty() || name == "." || name == "..") return std::nullopt;
    return std::string(name);
}

bool ParseGzipHeader(std::span<const uint8_t> head, GzipHeader& header, std::string& error) {
    header = {};
    if (head.size() >= 2 && head[0] == 0x1F && head[1] == 0x9D) {
        header.unix_compress = true;
        return true;
    }
    auto truncated = [&] {
        error = "corrupted input -- file is truncated";
        return false;
    };
    if (head.size() < 10) return truncated();
    if (head[2] != 8) {
        error = "Unknown gzip compression method";
        return false;
    }
    uint8_t flags = head[3];
    if (flags & 0x20) {
        error = "Cannot open encrypted gzip file";
        return false;
    }
    if (flags & 0xC0) {
        error = "Cannot open gzip file with reserved bytes";
        return false;
    }
    header.mtime = static_cast<uint32_t>(head[4]) | (static_cast<uint32_t>(head[5]) << 8) |
                   (static_cast<uint32_t>(head[6]) << 16) | (static_cast<uint32_t>(head[7]) << 24);
    size_t pos = 10;
    if (flags & 0x04) {
        if (pos + 2 > head.size()) return truncated();
        size_t len = head[pos] | (head[pos + 1] << 8);
        pos += 2;
        if (pos + len > head.size()) return truncated();
        pos += len;
    }
    if (flags & 0x08) {
        size_t end = pos;
        while (end < head.size() && head[end] != 0) {
            if (end - pos > kMaxGzipName) {
                error = "corrupted input -- file name too large";
                return false;
            }
            ++end;
        }
        if (end == head.size()) return truncated();
        std::string_view stored(reinterpret_cast<const char*>(head.data() + pos), end - pos);
        if (stored.size() > kMaxGzipName) {
            error = "corrupted input -- file name too large";
            return false;
        }
        // Only a plain name may come out of a header: no folders, no "..".
        header.original_name = SafeBaseName(stored).value_or("");
        pos = end + 1;
    }
    if (flags & 0x10) {
        while (pos < head.size() && head[pos] != 0) ++pos;
        if (pos == head.size()) return truncated();
        ++pos;
    }
    // Flag 0x02 is the header CRC: the low half of the CRC-32 of every header byte before it.
    if (flags & 0x02) {
        if (pos + 2 > head.size()) return truncated();
        uint32_t crc = engine::Crc32(0, head.first(pos)) & 0xFFFF;
        uint32_t stored = head[pos] | (head[pos + 1] << 8);
        if (crc != stored) {
            char text[64];
            std::snprintf(text, sizeof text, "header CRC %04x (should be %04x)", crc, stored);
            error = "corrupted input -- " + std::string(text);
            return false;
        }
        pos += 2;
    }
    header.data_offset = pos;
    return true;
}

std::optional<std::string> NameFromArchiveName(const std::string& path) {
    std::string base = BaseOf(path);
    size_t dot = base.find_last_of('.');
    if (dot == std::string::npos || dot == 0) return std::nullopt;
    std::string stem = base.substr(0, dot);
    std::string_view ext = std::string_view(base).substr(dot + 1);
    if (EqualsNoCase(ext, "tgz") || EqualsNoCase(ext, "taz")) return stem + ".tar";
    if ((EqualsNoCase(ext, "gz") || EqualsNoCase(ext, "z")) &&
        stem.find('.') != std::string::npos && stem.find('.') != 0)
        return stem;
    return std::nullopt;
}

std::string FullNameQuestion(const std::string& path) {
    std::string base = BaseOf(path);
    size_t dot = base.find_last_of('.');
    std::string stem = dot == std::string::npos ? base : base.substr(0, dot);
    std::string ext = dot == std::string::npos ? "" : base.substr(dot + 1);
    return "Please enter the full name of the file contained within the archive " + stem + "." +
           ext + ".  For example, if the contents are a DOC file, a recommended filename is " +
           stem + ".DOC.";
}

std::string DefaultContainedName(const std::string& path) {
    std::string base = BaseOf(path);
    size_t dot = base.find_last_of('.');
    if (dot != std::string::npos && dot > 0) return base.substr(0, dot);
    return base + "_";
}

}  // namespace formats
