#include "cli.h"

#include <cstdio>

int vimsor_main(int, char**) {
    std::fputs("vimsor: the command line is not built yet\n", stderr);
    return 1;
}
