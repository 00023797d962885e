#include "settings.h"

std::string MAVLIN = "/bin/sh -c mavlin --";
enum global_strength global_strength = weak;
output_modes_t mode = OUTPUT_MODE_BINARY;
bool bandp = false;
int quiet = 0;
double global_scale = 1.0;
std::string firstline;
std::string namebase = "vm";
std::string output_name;
std::string fout_extension = ".bi1";
int test = 0;
std::size_t global_nr_cpus = 0;
int sdev = SDEV_NONE;
int debug = 0;
std::string options = "--swatch -#2sf128";
