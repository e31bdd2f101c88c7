// vesk32: the IRC client.
#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0) {
            std::puts("Usage: vesk32 [options] [server[:port]]");
            return 0;
        }
        if (std::strcmp(argv[i], "--version") == 0) {
            std::puts("vesk32 0.1");
            return 0;
        }
    }
    return 0;
}
