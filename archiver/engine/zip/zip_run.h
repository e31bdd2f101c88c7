// The zip command record that the shell fills for one ZIP call, and the engine-wide state of
// a run that selection, the writer and the run itself share.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "archiver/engine/zip/selection.h"
#include "archiver/engine/zip/update_reader.h"
#include "platform/event_loop.h"

namespace zip {

/// Actions of the command record.
constexpr int kActionDelete = 0;
constexpr int kActionAdd = 1;
constexpr int kActionUpdate = 2;
constexpr int kActionFreshen = 3;

/// Ciphers of the command record: traditional zip encryption, or AES with the format's
/// strength codes.
constexpr int kEncryptTraditional = 0;
constexpr int kEncryptAes128 = 1;
constexpr int kEncryptAes192 = 2;
constexpr int kEncryptAes256 = 3;

/// The zip command record: filled by the shell, read by the engine, which writes only
/// `result`.
struct ZipCommand {
    int result = 0;                   ///< 0 or a result code (18: some file was not read)
    bool recurse = false;             ///< enter named folders and apply patterns below them
    bool move = false;                ///< delete added and up-to-date files after the run
    bool store_folder_names = false;  ///< stored names keep their relative folders
    bool follow_links = false;        ///< add what a symbolic link points to instead of the link
    int method = -1;                  ///< -1 deflate, 0 store every member
    int level = 5;                    ///< deflate level 1-9; 0 with method 0
    int action = kActionAdd;
    std::string temp_folder;  ///< folder for the temporary archive; empty: the archive's
    std::string archive;      ///< the archive's path
    platform::HWND report_window = 0;
    platform::HWND progress_window = 0;  ///< the shell's meter
    std::vector<std::string> names;      ///< names or patterns, in order
    bool short_names = false;            ///< store MS-DOS 8.3 names, marked as made on MS-DOS
    bool password_given = false;         ///< encrypt every member written
    std::string password;
    int encryption = kEncryptTraditional;  ///< with a password: the cipher (below)
    int threads = 0;  ///< most threads that compress at once; 0: one per processor core
    /// Volumes of at most this many bytes (NAME.z01, ..., NAME.zip); 0 writes one file.
    uint64_t split_size = 0;
};

/// Result codes of a ZIP run beyond the reader's.
constexpr int kResultInternal = 5;
constexpr int kResultTempFile = 10;
constexpr int kResultNothingToDo = 12;
constexpr int kResultMissingZip = 13;
constexpr int kResultWrite = 14;
constexpr int kResultCreate = 15;
constexpr int kResultBadRequest = 16;
constexpr int kResultNotRead = 18;
constexpr int kResultTooBig = 19;
constexpr int kResultStopped = 99;

/// State of the run in progress; one set, because only one engine run exists at a time.
struct ZipRun {
    ZipCommand settings;  ///< a copy of the record (with store folder names forced for delete)
    OldArchive old;       ///< the old archive's members; new members are appended
    Selection selection;  ///< files found on disk and the bytes they hold
    bool some_not_read = false;  ///< some file could not be opened (result 18 at the end)
    /// The archive stays below this size and member count (the 64-bit records carry anything
    /// below them); tests lower them.
    uint64_t max_archive_size = uint64_t{1} << 62;
    uint64_t max_members = 0xFFFFFFFF;
    /// Files from this size on are left out, with a warning, before anything is written.
    uint64_t max_file_size = uint64_t{1} << 62;

    /// Opens an input file for reading (-1 when it cannot be); tests make it fail, which file
    /// permissions cannot do for a privileged user.
    std::function<int(const char* path)> open_file;
    /// Reads from an open input file, as one read(2) does (fewer bytes than asked is no
    /// error); tests replace it to make a read fail midway. Returns the count, 0 at the end,
    /// -1 on an error.
    std::function<ssize_t(int fd, void* buf, size_t n)> read_file;
    /// Renames a file; tests replace it to make the temporary archive lie on another device.
    std::function<int(const char* from, const char* to)> rename_file;
    /// The random source of the encryption headers; tests fix it to compare archives.
    std::function<uint32_t()> header_random;
    /// Memory the compressed members waiting for their turn may hold before they go to spill
    /// files; tests lower it.
    size_t pending_memory = size_t{16} << 20;
};

/// The run's state.
ZipRun& Run();
/// A fresh state with the real file functions.
void ResetRun();

}  // namespace zip
