// SZDD and KWAJ files: the listing's header reader, the expander read to its end, and the
// test run that checks the expanded size.
#include <fcntl.h>
#include <unistd.h>

#include <array>

#include "archiver/engine/unzip/lz_expand.h"
#include "archiver/formats/ms_compress_header.h"
#include "fuzz/engine_run.h"
#include "fuzz/fuzz_util.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string path = fuzz::WriteInput("test.tx_", {data, size});
    formats::MsCompressInfo info;
    std::string error;
    formats::ReadMsCompressInfo(path, info, error);

    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return 0;
    int init_error = 0;
    if (engine::LzHandle lz = engine::LzInit(fd, init_error)) {
        std::array<uint8_t, 8192> out;
        uint64_t total = 0;
        // A few MB is far beyond what a small input can fairly expand to.
        while (total < (64u << 20)) {
            long n = engine::LzRead(*lz, out);
            if (n <= 0) break;
            if (static_cast<size_t>(n) > out.size()) __builtin_trap();
            total += static_cast<uint64_t>(n);
        }
    }
    ::close(fd);
    fuzz::TestArchive(path, engine::kKindMsCompress);
    return 0;
}
