#pragma once

// The driver's one way to give up: every error that ends a run goes through
// fatal(), so a run that stops always says why and always ends the same way.

#include <string>

// Writes message and a line end to the error stream and ends the process with
// status 1. The exit handlers run, so the clean-up removes what the run had
// recorded (row files, temporary outputs, the lock) and stops its workers.
[[noreturn]] void fatal(const std::string& message);
