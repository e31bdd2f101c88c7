// gzip (and Unix compress) files: the listing's header parser, the whole-file decoder and the
// test run over every member.
#include <fcntl.h>
#include <unistd.h>

#include "archiver/engine/unzip/gzip_extract.h"
#include "archiver/formats/gzip_header.h"
#include "fuzz/engine_run.h"
#include "fuzz/fuzz_util.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    formats::GzipHeader header;
    std::string error;
    formats::ParseGzipHeader({data, size}, header, error);
    if (!header.original_name.empty()) formats::SafeBaseName(header.original_name);

    std::string path = fuzz::WriteInput("test.gz", {data, size});
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return 0;
    std::string fault;
    engine::GzipDataStart(fd, 0, size, &fault);
    ::close(fd);
    fuzz::TestArchive(path, engine::kKindGzip);
    return 0;
}
