#include "archiver/sfx/embedded_stub.h"

// The build names the program's file; the assembler takes its bytes in whole.
asm(".section .rodata.borvan_sfx_stub,\"a\"\n"
    ".balign 16\n"
    ".globl borvan_sfx_stub_begin\n"
    ".hidden borvan_sfx_stub_begin\n"
    "borvan_sfx_stub_begin:\n"
    ".incbin \"" SFX_STUB_FILE
    "\"\n"
    ".globl borvan_sfx_stub_end\n"
    ".hidden borvan_sfx_stub_end\n"
    "borvan_sfx_stub_end:\n"
    ".previous\n");

extern "C" const uint8_t borvan_sfx_stub_begin[];
extern "C" const uint8_t borvan_sfx_stub_end[];

namespace sfx {

std::span<const uint8_t> EmbeddedStub() {
    return {borvan_sfx_stub_begin, borvan_sfx_stub_end};
}

}  // namespace sfx
