#include "logfile.h"

#include <cerrno>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace {

constexpr int open_attempts = 11;
constexpr std::size_t time_stamp_size = 30;

// The argument with a backslash before every double quote and backslash; null
// when memory runs out. The caller frees it.
char* quote_string(const char* s) {
    if (s == nullptr)
        s = "";
    std::size_t length = 1;
    for (const char* p = s; *p != '\0'; ++p)
        length += (*p == '"' || *p == '\\') ? 2 : 1;
    char* quoted = static_cast<char*>(std::malloc(length));
    if (quoted == nullptr)
        return nullptr;
    char* out = quoted;
    for (const char* p = s; *p != '\0'; ++p) {
        if (*p == '"' || *p == '\\')
            *out++ = '\\';
        *out++ = *p;
    }
    *out = '\0';
    return quoted;
}

// The local time in the locale's "%x %X" form. strftime leaves the buffer
// undefined when the text does not fit, so a locale whose form is too long
// gets the numeric form instead, and failing that an empty stamp.
void format_time_stamp(char (&stamp)[time_stamp_size]) {
    stamp[0] = '\0';
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    if (now == static_cast<std::time_t>(-1) || localtime_r(&now, &local) == nullptr)
        return;
    if (std::strftime(stamp, sizeof stamp, "%x %X", &local) == 0 &&
        std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local) == 0)
        stamp[0] = '\0';
}

// Writes " text", with text between double quotes in its quoted form. An
// argument whose quoted form cannot be allocated is written plain.
void write_quoted(std::FILE* f, const char* text) {
    char* quoted = quote_string(text);
    if (quoted == nullptr) {
        std::fputs(text, f);
        return;
    }
    std::fprintf(f, "\"%s\"", quoted);
    std::free(quoted);
}

void write_argument(std::FILE* f, const char* arg) {
    std::fputc(' ', f);
    if (std::strpbrk(arg, " *,") == nullptr) {
        std::fputs(arg, f);
        return;
    }
    const char* equals = std::strchr(arg, '=');
    if (std::strncmp(arg, "--", 2) == 0 && equals != nullptr) {
        std::fwrite(arg, 1, static_cast<std::size_t>(equals - arg) + 1, f);
        write_quoted(f, equals + 1);
    } else {
        write_quoted(f, arg);
    }
}

std::FILE* open_log(const char* logfile) {
    for (int attempt = 0; attempt < open_attempts; ++attempt)
        if (std::FILE* f = std::fopen(logfile, "a"))
            return f;
    return nullptr;
}

void write_entry(const char* logfile, int argc, char** argv) {
    std::FILE* f = open_log(logfile);
    if (f == nullptr) {
        std::fputs("No logfile entry\n", stderr);
        return;
    }
    char stamp[time_stamp_size];
    format_time_stamp(stamp);
    std::fputs(stamp, f);
    for (int i = 0; i < argc; ++i)
        write_argument(f, argv[i]);
    std::fputc('\n', f);
    const bool write_failed = std::ferror(f) != 0;
    const int write_errno = errno;
    if (std::fclose(f) != 0 || write_failed) {
        std::fprintf(stderr, "can't write %s: %s\n", logfile,
                     std::strerror(write_failed ? write_errno : errno));
        std::fputs("No logfile entry\n", stderr);
    }
}

}  // namespace

void flogfile(const char* logfile, int argc, char** argv) {
    // The time stamp follows the user's time locale; the caller's setting is
    // put back afterwards. Without memory for the saved name the current
    // setting is kept as it is.
    const char* current = std::setlocale(LC_TIME, nullptr);
    char* saved = current != nullptr ? strdup(current) : nullptr;
    if (saved != nullptr)
        std::setlocale(LC_TIME, "");
    write_entry(logfile, argc, argv);
    if (saved != nullptr) {
        std::setlocale(LC_TIME, saved);
        std::free(saved);
    }
}

void logfile(int argc, char** argv) { flogfile("logfile", argc, argv); }
