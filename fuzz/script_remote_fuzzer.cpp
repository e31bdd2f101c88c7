// The command language on lines a remote event runs for another user's text (the remote flag:
// commands that reach files, programs or the program's life are refused or confined).
#include "fuzz/script_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::RunScriptInput(data, size, chat::kOriginRemote);
    return 0;
}
