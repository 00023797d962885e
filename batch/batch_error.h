#pragma once

// The batch's one way to give up on wrong use or a fault of its own: main()
// prints the message after the program's name and ends with status 2.

#include <stdexcept>
#include <string>

struct batch_error : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// The text of an error number, for messages that name the file concerned.
std::string reason_of(int error_number);
