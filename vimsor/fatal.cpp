#include "fatal.h"

#include <cstdlib>
#include <iostream>

void fatal(const std::string& message) {
    std::cerr << message << "\n";
    std::exit(1);
}
