#pragma once

// Process-wide settings of the driver. They are written by the command line
// (and, for firstline, namebase, global_nr_cpus and options, by the pipeline)
// and read throughout the driver.

#include <cstddef>
#include <string>

#include "option_types.h"

// Codes of the long options that have no short letter.
enum {
    OPT_VERSION = 256,
    OPT_MLVERSION = 257,
    OPT_OPTIONS = 258,
    OPT_ADD_OPTIONS = 259,
    OPT_MAVLIN = 260,
    OPT_NAMEBASE = 261,
    OPT_MODE = 262,
    OPT_DEBUG = 263  // declared; --debug sets its flag directly
};

// The variable global_strength hides the enumeration's name; where the type
// is meant after this point, write "enum global_strength".
extern std::string MAVLIN;
extern enum global_strength global_strength;
extern output_modes_t mode;
extern bool bandp;
extern int quiet;
extern double global_scale;
extern std::string firstline;
extern std::string namebase;
extern std::string output_name;
extern std::string fout_extension;
extern int test;
extern std::size_t global_nr_cpus;
extern int sdev;
extern int debug;
extern std::string options;
