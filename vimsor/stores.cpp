#include "stores.h"

std::vector<double> time_array;
std::vector<std::vector<double>> original;
std::vector<std::vector<double>> processed;
std::vector<double> tid;
