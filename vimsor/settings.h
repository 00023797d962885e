#pragma once

// Process-wide settings of the driver. They are written by the command line
// (and, for firstline, namebase, global_nr_cpus and options, by the pipeline)
// and read throughout the driver; their initial values are the options'
// defaults (option_values).

#include <cstddef>
#include <string>

#include "option_types.h"

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
