#include "settings.h"

#include "options.h"
#include "output_names.h"

namespace {
const option_values defaults;  // the values before any option
}  // namespace

std::string MAVLIN = defaults.mavlin;
enum global_strength global_strength = defaults.strength;
output_modes_t mode = defaults.mode;
bool bandp = defaults.bandp;
int quiet = defaults.quiet;
double global_scale = defaults.scale;
std::string firstline;
std::string namebase = defaults.namebase;
std::string output_name = defaults.output_name;
std::string fout_extension = output_extension(defaults.mode, weak, false);
int test = defaults.test;
std::size_t global_nr_cpus = defaults.cpus;
int sdev = defaults.sdev;
int debug = defaults.debug;
std::string options = defaults.options;
