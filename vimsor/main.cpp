#include "cli.h"

int main(int argc, char** argv) { return vimsor_main(argc, argv); }
