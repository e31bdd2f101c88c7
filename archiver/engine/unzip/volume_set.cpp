#include "archiver/engine/unzip/volume_set.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdio>
#include <map>
#include <mutex>
#include <unordered_map>

#include "archiver/engine/unzip/zip64_records.h"
#include "archiver/engine/unzip/zip_directory.h"
#include "archiver/engine/unzip/zip_records.h"

namespace engine {

namespace {

// Sets of more volumes than this open each volume for each read instead of holding them all
// open: thousands of small volumes must not use up the process's descriptors.
constexpr size_t kHeldOpen = 64;
// The mark some writers put at the start of a spanned archive's first volume when the archive
// turned out to need only one.
constexpr uint32_t kOneVolumeMark = 0x30304B50;
// Digits of a numbered piece's extension that are taken for a number.
constexpr size_t kMaxPartDigits = 9;

// A set and the volumes it holds open.
struct SetFiles {
    VolumeSet set;
    std::vector<UniqueFd> held;

    ssize_t Read(void* buf, size_t n, uint64_t offset) const {
        size_t done = 0;
        while (done < n && offset + done < set.size) {
            uint64_t pos = offset + done;
            size_t i = set.VolumeAt(pos);
            const Volume& v = set.volumes[i];
            uint64_t within = pos - v.start;
            if (within >= v.size) break;
            size_t want = static_cast<size_t>(std::min<uint64_t>(n - done, v.size - within));
            UniqueFd opened;
            int fd = -1;
            if (i < held.size()) {
                fd = held[i].get();
            } else {
                opened.reset(::open(v.path.c_str(), O_RDONLY | O_CLOEXEC));
                if (!opened) return -1;
                fd = opened.get();
            }
            ssize_t got = PreadFile(fd, static_cast<char*>(buf) + done, want, within);
            if (got < 0) return -1;
            done += static_cast<size_t>(got);
            // A volume shorter than when the set was opened ends the set's bytes there.
            if (static_cast<size_t>(got) < want) break;
        }
        return static_cast<ssize_t>(done);
    }
};

// The open sets by descriptor. The count is looked at first, without the lock, so that plain
// files pay nothing for the sets; it is trivially destructible, so a descriptor closed while
// the program ends still finds it.
constinit std::atomic<size_t> g_open_sets{0};

struct Registry {
    std::mutex mutex;
    std::unordered_map<int, std::shared_ptr<const SetFiles>> sets;
};

Registry& Sets() {
    static Registry registry;
    return registry;
}

std::shared_ptr<const SetFiles> FindSet(int fd) {
    if (fd < 0 || g_open_sets.load(std::memory_order_acquire) == 0) return nullptr;
    Registry& r = Sets();
    std::lock_guard lock(r.mutex);
    auto it = r.sets.find(fd);
    return it == r.sets.end() ? nullptr : it->second;
}

OpenedArchive Failed(OpenProblem problem, std::string message) {
    OpenedArchive a;
    a.problem = problem;
    a.message = std::move(message);
    return a;
}

OpenedArchive OpenPlain(const std::string& path) {
    OpenedArchive a;
    a.fd.reset(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!a.fd) return Failed(OpenProblem::kCantOpen, kMsgCantOpen + path);
    return a;
}

// The size of a regular file, or nullopt when there is none by that name.
std::optional<uint64_t> RegularSize(const std::string& path) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
    return static_cast<uint64_t>(st.st_size);
}

// Where a path's base name begins, and the dot of its extension (npos without one).
size_t BaseStart(const std::string& path) {
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? 0 : slash + 1;
}
size_t ExtensionDot(const std::string& path) {
    size_t dot = path.rfind('.');
    return dot == std::string::npos || dot < BaseStart(path) ? std::string::npos : dot;
}

bool AllDigits(std::string_view s) {
    return !s.empty() &&
           std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

std::string Numbered(const std::string& base, uint64_t number, size_t width) {
    std::string digits = std::to_string(number);
    if (digits.size() < width) digits.insert(0, width - digits.size(), '0');
    return base + "." + digits;
}

// Gives the set a descriptor of its own: an empty memory file, so that a read that went around
// the set would find nothing rather than some volume's bytes taken for the archive's.
OpenedArchive Register(VolumeSet set) {
    auto files = std::make_shared<SetFiles>();
    uint64_t start = 0;
    for (Volume& v : set.volumes) {
        v.start = start;
        start += v.size;
    }
    set.size = start;
    files->set = std::move(set);
    size_t held = std::min(files->set.volumes.size(), kHeldOpen);
    for (size_t i = 0; i < held; ++i) {
        const std::string& path = files->set.volumes[i].path;
        files->held.emplace_back(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
        if (!files->held.back()) return Failed(OpenProblem::kCantOpen, kMsgCantOpen + path);
    }
    OpenedArchive a;
    a.fd.reset(::memfd_create("volume set", MFD_CLOEXEC));
    if (!a.fd) return Failed(OpenProblem::kCantOpen, kMsgCantOpen + files->set.volumes.back().path);
    Registry& r = Sets();
    std::lock_guard lock(r.mutex);
    r.sets[a.fd.get()] = std::move(files);
    g_open_sets.fetch_add(1, std::memory_order_release);
    return a;
}

// True when the archive in `fd` has its directory and its first member on the disk its end
// record names: an archive of one file whose writer numbered its disk other than 0.
bool WholeOnItsDisk(int fd, const FoundEnd& end) {
    const EndRecord& e = end.record;
    if (e.directory_disk != e.disk || e.entries_here != e.entries_total ||
        e.directory_size > end.at)
        return false;
    if (e.entries_total == 0) return true;
    uint8_t h[kCentralSize];
    if (PreadFile(fd, h, kCentralSize, end.at - e.directory_size) !=
            static_cast<ssize_t>(kCentralSize) ||
        Get32(h) != kCentralSig)
        return false;
    return Get16(h + 34) == e.disk;
}

// The set whose last volume is `last`; `asked` is the volume the user named.
OpenedArchive OpenSpanned(const std::string& last, const std::string& asked) {
    OpenedArchive a = OpenPlain(last);
    if (a.problem != OpenProblem::kNone) return a;
    std::optional<FoundEnd> end = LocateEndRecord(a.fd.get());
    if (!end || end->disk == 0) return asked == last ? std::move(a) : OpenPlain(asked);
    VolumeSet set;
    set.layout = VolumeLayout::kSpanned;
    for (uint32_t disk = 1; disk <= end->disk; ++disk) {
        std::string name = SpannedVolumeName(last, disk);
        std::optional<uint64_t> size = RegularSize(name);
        if (size) {
            set.volumes.push_back({name, 0, *size});
            continue;
        }
        if (disk == 1 && WholeOnItsDisk(a.fd.get(), *end)) return a;
        return Failed(OpenProblem::kMissingVolume, MissingVolumeText(name));
    }
    int64_t size = FileSize(a.fd.get());
    if (size < 0) return Failed(OpenProblem::kCantOpen, kMsgCantOpen + last);
    set.volumes.push_back({last, 0, static_cast<uint64_t>(size)});
    // The first volume begins with the spanning mark (or, from some writers, a local header).
    const std::string& first = set.volumes.front().path;
    UniqueFd first_fd(::open(first.c_str(), O_RDONLY | O_CLOEXEC));
    uint8_t sig[4];
    if (!first_fd) return Failed(OpenProblem::kCantOpen, kMsgCantOpen + first);
    if (PreadFile(first_fd.get(), sig, 4, 0) != 4 ||
        (Get32(sig) != kDescriptorSig && Get32(sig) != kOneVolumeMark && Get32(sig) != kLocalSig))
        return Failed(OpenProblem::kForeignVolume, ForeignVolumeText(first));
    bool asked_in_set = std::any_of(set.volumes.begin(), set.volumes.end(),
                                    [&](const Volume& v) { return v.path == asked; });
    if (!asked_in_set) return OpenPlain(asked);
    return Register(std::move(set));
}

// NAME.NNN: the pieces beside it, all of one size but the last, which is not larger.
OpenedArchive OpenParts(const std::string& path, size_t dot) {
    std::string base = path.substr(0, dot);
    size_t width = path.size() - dot - 1;
    size_t name_at = BaseStart(base);
    std::string folder = name_at == 0 ? "." : base.substr(0, name_at);
    std::string prefix = base.substr(name_at) + ".";
    std::map<uint64_t, std::string> parts;
    if (DIR* dir = ::opendir(folder.c_str())) {
        while (dirent* e = ::readdir(dir)) {
            std::string_view name(e->d_name);
            if (!name.starts_with(prefix)) continue;
            std::string_view digits = name.substr(prefix.size());
            if (!AllDigits(digits) || digits.size() < 3 || digits.size() > kMaxPartDigits) continue;
            uint64_t number = std::stoull(std::string(digits));
            std::string full = base.substr(0, name_at) + std::string(name);
            // Of two spellings of one number, the one with the asked name's width is kept.
            if (number == 0 || !RegularSize(full)) continue;
            if (!parts.count(number) || digits.size() == width) parts[number] = full;
        }
        ::closedir(dir);
    }
    // Numbered files that are no pieces (report.2022, report.2023) open as they are: pieces
    // start at 1, or have three digits as splitting tools write them.
    if (parts.size() < 2 || (!parts.count(1) && width != 3)) return OpenPlain(path);
    VolumeSet set;
    set.layout = VolumeLayout::kParts;
    uint64_t expected = 1;
    for (const auto& [number, name] : parts) {
        if (number != expected)
            return Failed(OpenProblem::kMissingVolume,
                          MissingVolumeText(Numbered(base, expected, width)));
        set.volumes.push_back({name, 0, RegularSize(name).value_or(0)});
        ++expected;
    }
    set.next_volume = Numbered(base, expected, width);
    uint64_t piece = set.volumes.front().size;
    for (size_t i = 0; i < set.volumes.size(); ++i) {
        uint64_t size = set.volumes[i].size;
        bool last = i + 1 == set.volumes.size();
        if (size == 0 || (last ? size > piece : size != piece))
            return Failed(OpenProblem::kForeignVolume, ForeignVolumeText(set.volumes[i].path));
    }
    return Register(std::move(set));
}

}  // namespace

size_t VolumeSet::VolumeAt(uint64_t pos) const {
    auto it = std::upper_bound(volumes.begin(), volumes.end(), pos,
                               [](uint64_t p, const Volume& v) { return p < v.start; });
    return it == volumes.begin() ? 0 : static_cast<size_t>(it - volumes.begin()) - 1;
}

std::string SpannedVolumeName(const std::string& archive, uint32_t number) {
    size_t dot = ExtensionDot(archive);
    bool upper = dot != std::string::npos && dot + 1 < archive.size() &&
                 std::isupper(static_cast<unsigned char>(archive[dot + 1]));
    char digits[16];
    std::snprintf(digits, sizeof digits, "%02u", number);
    return archive.substr(0, dot) + (upper ? ".Z" : ".z") + digits;
}

std::string MissingVolumeText(const std::string& path) {
    return "Cannot find volume " + path;
}

std::string ForeignVolumeText(const std::string& path) {
    return "Volume " + path + " does not belong to this archive";
}

OpenedArchive OpenArchive(const std::string& path) {
    size_t dot = ExtensionDot(path);
    if (dot == std::string::npos) return OpenSpanned(path, path);
    std::string_view ext = std::string_view(path).substr(dot + 1);
    if (ext.size() >= 3 && ext.size() <= kMaxPartDigits && AllDigits(ext))
        return OpenParts(path, dot);
    if (ext.size() >= 3 && (ext[0] == 'z' || ext[0] == 'Z') && AllDigits(ext.substr(1))) {
        // A volume before the last: the set is opened from its last volume.
        std::string base = path.substr(0, dot);
        std::string last = base + (ext[0] == 'Z' ? ".ZIP" : ".zip");
        if (!RegularSize(last)) {
            std::string other = base + (ext[0] == 'Z' ? ".zip" : ".ZIP");
            if (!RegularSize(other))
                return Failed(OpenProblem::kMissingVolume, MissingVolumeText(last));
            last = other;
        }
        return OpenSpanned(last, path);
    }
    return OpenSpanned(path, path);
}

std::shared_ptr<const VolumeSet> VolumeSetOf(int fd) {
    std::shared_ptr<const SetFiles> files = FindSet(fd);
    if (!files) return nullptr;
    return std::shared_ptr<const VolumeSet>(files, &files->set);
}

bool ReadFromVolumeSet(int fd, void* buf, size_t n, uint64_t offset, ssize_t& got) {
    std::shared_ptr<const SetFiles> files = FindSet(fd);
    if (!files) return false;
    got = files->Read(buf, n, offset);
    return true;
}

bool VolumeSetSize(int fd, int64_t& size) {
    std::shared_ptr<const SetFiles> files = FindSet(fd);
    if (!files) return false;
    size = static_cast<int64_t>(files->set.size);
    return true;
}

void ForgetVolumeSet(int fd) {
    if (fd < 0 || g_open_sets.load(std::memory_order_acquire) == 0) return;
    // The set's volumes close once the lock is given up: their closing comes back here.
    std::shared_ptr<const SetFiles> forgotten;
    Registry& r = Sets();
    std::lock_guard lock(r.mutex);
    auto it = r.sets.find(fd);
    if (it == r.sets.end()) return;
    forgotten = std::move(it->second);
    r.sets.erase(it);
    g_open_sets.fetch_sub(1, std::memory_order_release);
}

}  // namespace engine
