#pragma once

// The program's entry: command line, banner, settings summary, per-file loop.
int vimsor_main(int argc, char** argv);
