#pragma once

// The choices vimsor's options make, as types of their own, so that code that
// reads a command line needs none of the driver's process-wide settings.

// The results collected: weak-signal, strong-signal or both.
enum global_strength { weak = 0, strong = 1, both = 2 };

enum output_modes_t {
    OUTPUT_MODE_BINARY = 0,
    OUTPUT_MODE_ASCII = 1,
    OUTPUT_MODE_TM4 = 2,
    OUTPUT_MODE_LAST = 3  // a count, never selected
};

// Normalisation by the standard deviation (--sdev-div, --sdev-mul).
enum { SDEV_NONE = 0, SDEV_DIV = 1, SDEV_MUL = 2 };
