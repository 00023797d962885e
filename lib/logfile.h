#pragma once

// The invocation log: one line per run appended to a text file, a local time
// stamp followed by every argument, quoted where a shell would need it.

// flogfile("logfile", argc, argv).
void logfile(int argc, char** argv);

// Appends the entry for the argc arguments of argv to the file named logfile.
// When the file cannot be opened or the entry cannot be written, it says
// "No logfile entry" on the error stream; it never fails the caller.
void flogfile(const char* logfile, int argc, char** argv);
