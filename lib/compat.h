#pragma once

// Bounded string copies: copy or append with a stated buffer size, always
// NUL-terminated, returning the length the full result would have had.
//
// Newer C libraries (glibc 2.38 and later, the BSDs) declare strlcpy and
// strlcat themselves in <string.h>, with C linkage and their own noexcept
// declaration. A second global declaration of ours would then conflict, so
// ours live in the namespace compat: they never clash with the C library's,
// whether it has them or not, and every caller gets exactly this behaviour on
// every system. No configure step is needed to find out which case holds.

#include <cstddef>

namespace compat {

// Copies s into d (bufsize bytes), cut to bufsize - 1 characters; writes
// nothing when bufsize is 0. Returns the length of s: a result of bufsize or
// more means the copy was cut short.
std::size_t strlcpy(char* d, const char* s, std::size_t bufsize);

// Appends s to the text in d (bufsize bytes), cut so that the result fits.
// Returns the length of d plus the length of s. The length of d is measured
// only within bufsize, so a d without a NUL in its bufsize bytes is never
// read past its end (nothing is written then, and the result is bufsize plus
// the length of s).
std::size_t strlcat(char* d, const char* s, std::size_t bufsize);

}  // namespace compat
