#pragma once

// Splitting a path name into drive, directory, file name and extension, and
// joining such pieces again. "/", "\" and ":" separate pieces (a colon ends a
// drive); a dot starts the extension. The pieces keep their delimiters, so
// drive + directory + file name + extension gives the path back.
//
// Results are error numbers: 0, ENOMEM (the private copy of the input could
// not be allocated) or ENAMETOOLONG (a piece or the joined path does not fit
// its buffer, or a given buffer has no room even for the NUL).

#include <cstddef>

// Stores each piece into the buffer given for it (a null buffer skips that
// piece). Pieces are stored in the order extension, file name, directory,
// drive; the first one that does not fit stops the call with ENAMETOOLONG,
// leaving the pieces before it complete and those after it empty.
int explode_path_n(const char* real_path, char* drive, std::size_t drive_len, char* directory,
                   std::size_t directory_len, char* filename, std::size_t filename_len,
                   char* extension, std::size_t extension_len);

// explode_path_n with 256-byte buffers.
int explode_path(const char* path, char* drive, char* directory, char* filename, char* extension);

// Joins the given pieces (null or empty ones are left out) into path, adding
// the ":" after a drive, the "/" after a directory and the "." before an
// extension where they are missing. On ENAMETOOLONG path holds the first
// path_len - 1 characters of the joined path.
int combine_path_n(char* path, std::size_t path_len, const char* drive, const char* directory,
                   const char* filename, const char* extension);

// combine_path_n with a 260-byte buffer.
int combine_path(char* path, const char* drive, const char* directory, const char* filename,
                 const char* extension);
