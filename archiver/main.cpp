// borvan32: the archive manager.
#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0) {
            std::puts("Usage: borvan32 [options] [ARCHIVE]");
            return 0;
        }
        if (std::strcmp(argv[i], "--version") == 0) {
            std::puts("borvan32 0.1");
            return 0;
        }
    }
    std::puts("borvan32: nothing to do yet");
    return 0;
}
