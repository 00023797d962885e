#include "compat.h"

#include <cstring>

namespace compat {

std::size_t strlcpy(char* d, const char* s, std::size_t bufsize) {
    const std::size_t len = std::strlen(s);
    if (bufsize == 0)
        return len;
    const std::size_t n = len < bufsize - 1 ? len : bufsize - 1;
    std::memcpy(d, s, n);
    d[n] = '\0';
    return len;
}

std::size_t strlcat(char* d, const char* s, std::size_t bufsize) {
    const std::size_t len1 = strnlen(d, bufsize);
    const std::size_t len2 = std::strlen(s);
    const std::size_t ret = len1 + len2;
    if (bufsize == 0 || len1 >= bufsize - 1)
        return ret;
    const std::size_t room = bufsize - len1 - 1;
    const std::size_t n = len2 < room ? len2 : room;
    std::memcpy(d + len1, s, n);
    d[len1 + n] = '\0';
    return ret;
}

}  // namespace compat
