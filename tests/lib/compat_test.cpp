#include "compat.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

// A C library of this or a later generation may declare strlcpy itself. Declaring
// it here as such a library does proves that the bounded copies of compat
// coexist with that declaration (it is never called, so it needs no definition).
extern "C" std::size_t strlcpy(char*, const char*, std::size_t) noexcept;

namespace {

TEST(Strlcpy, CopiesWhatFitsAndReturnsTheSourceLength) {
    char d[4] = {'x', 'x', 'x', 'x'};
    EXPECT_EQ(compat::strlcpy(d, "abcdef", sizeof d), 6u);
    EXPECT_STREQ(d, "abc");
    EXPECT_EQ(compat::strlcpy(d, "ab", sizeof d), 2u);
    EXPECT_STREQ(d, "ab");
    EXPECT_EQ(compat::strlcpy(d, "abc", sizeof d), 3u);
    EXPECT_STREQ(d, "abc");
    // Nothing is written into a zero-sized buffer.
    char z[2] = {'x', 'y'};
    EXPECT_EQ(compat::strlcpy(z, "abcdef", 0), 6u);
    EXPECT_EQ(std::string(z, 2), "xy");
}

TEST(Strlcat, AppendsWhatFitsAndReturnsTheUncutSum) {
    const struct {
        const char *before, *s;
        std::size_t size;
        const char* after;
        std::size_t result;
    } cases[] = {
        {"ab", "cd", 8, "abcd", 4},   {"ab", "cdefgh", 6, "abcde", 8}, {"ab", "cdef", 5, "abcd", 6},
        {"abc", "x", 4, "abc", 4},    // already full: nothing written
        {"", "xyz", 3, "xy", 3},      {"ab", "", 3, "ab", 2},
    };
    for (const auto& c : cases) {
        char d[16];
        std::memset(d, '#', sizeof d);
        std::strcpy(d, c.before);
        EXPECT_EQ(compat::strlcat(d, c.s, c.size), c.result) << c.before << "+" << c.s;
        EXPECT_STREQ(d, c.after) << c.before << "+" << c.s << " in " << c.size;
    }
}

TEST(Strlcat, NeverReadsOrWritesPastAnUnterminatedBuffer) {
    char d[6] = {'a', 'b', 'c', 'd', 'e', 'f'};  // no NUL within the stated 4 bytes
    EXPECT_EQ(compat::strlcat(d, "xy", 4), 6u);
    EXPECT_EQ(std::string(d, 6), "abcdef");
    EXPECT_EQ(compat::strlcat(d, "xy", 0), 2u);
    EXPECT_EQ(std::string(d, 6), "abcdef");
}

}  // namespace
