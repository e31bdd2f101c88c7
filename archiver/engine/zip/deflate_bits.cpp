#include "archiver/engine/zip/deflate_bits.h"

namespace zip {

void BitWriter::reset(DeflateOutput* output) {
    out = output;
    acc = 0;
    count = 0;
    staged = 0;
    written = 0;
    failed = false;
}

void BitWriter::align_to_byte() {
    if (count > 0) put_bits(0, 8 - count);
    acc = 0;
}

void BitWriter::put_short(uint16_t value) {
    if (staged + 2 > kStageSize) flush_stage();
    stage[staged++] = static_cast<uint8_t>(value);
    stage[staged++] = static_cast<uint8_t>(value >> 8);
}

void BitWriter::put_raw(std::span<const uint8_t> bytes) {
    align_to_byte();
    flush_stage();
    if (failed || bytes.empty()) return;
    if (out == nullptr || !out->Write(bytes)) {
        failed = true;
        return;
    }
    written += bytes.size();
}

void BitWriter::flush_stage() {
    if (staged == 0) return;
    if (!failed) {
        if (out == nullptr || !out->Write(std::span<const uint8_t>(stage.data(), staged))) {
            failed = true;
        } else {
            written += staged;
        }
    }
    staged = 0;
}

}  // namespace zip
