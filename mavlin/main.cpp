#include <cstdio>

int main() {
    std::fputs("mavlin stand-in: not built yet\n", stderr);
    return 1;
}
