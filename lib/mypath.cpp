#include "mypath.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "compat.h"

namespace {

constexpr std::size_t piece_size = 256;
constexpr std::size_t joined_size = 260;

bool is_separator(char c) { return c == '/' || c == '\\' || c == ':'; }

// Stores piece into buffer (if given); false when it does not fit.
bool store_piece(char* buffer, std::size_t size, const char* piece) {
    return buffer == nullptr || compat::strlcpy(buffer, piece, size) < size;
}

// The position of the last separator (or, with dots, separator or dot) in
// copy[1 .. end-1], or 0 when there is none. The first character is never
// taken as a separator: one there belongs to the directory, and the file name
// starts after it.
std::size_t last_delimiter_before(const char* copy, std::size_t end, bool dots) {
    for (std::size_t i = end; i > 1; --i)
        if (is_separator(copy[i - 1]) || (dots && copy[i - 1] == '.'))
            return i - 1;
    return 0;
}

// Where the file name starts, given the separator before it (0: none).
std::size_t filename_start(const char* copy, std::size_t separator) {
    if (separator > 0)
        return separator + 1;
    return is_separator(copy[0]) ? 1 : 0;
}

int split_copy(char* copy, char* drive, std::size_t drive_len, char* directory,
               std::size_t directory_len, char* filename, std::size_t filename_len, char* extension,
               std::size_t extension_len) {
    std::size_t found = last_delimiter_before(copy, std::strlen(copy), true);
    // Only a dot may end the scan at the first character.
    const bool dot = copy[found] == '.';
    std::size_t start = 0;
    if (dot) {
        if (!store_piece(extension, extension_len, copy + found))
            return ENAMETOOLONG;
        copy[found] = '\0';
        start = found == 0 ? 0 : filename_start(copy, last_delimiter_before(copy, found, false));
    } else {
        start = filename_start(copy, found);
    }
    if (!store_piece(filename, filename_len, copy + start))
        return ENAMETOOLONG;
    if (start == 0)
        return 0;

    copy[start] = '\0';
    char* colon = std::strrchr(copy, ':');
    if (colon == nullptr)
        return store_piece(directory, directory_len, copy) ? 0 : ENAMETOOLONG;
    if (!store_piece(directory, directory_len, colon + 1))
        return ENAMETOOLONG;
    colon[1] = '\0';
    return store_piece(drive, drive_len, copy) ? 0 : ENAMETOOLONG;
}

// Appends to a bounded buffer, always leaving room for the NUL.
class BoundedWriter {
public:
    BoundedWriter(char* buffer, std::size_t size) : m_buffer(buffer), m_limit(size - 1) {}
    void put(char c) {
        if (m_pos < m_limit)
            m_buffer[m_pos++] = c;
        else
            m_overflow = true;
    }
    void put(const char* s) {
        for (; *s != '\0'; ++s)
            put(*s);
    }
    int finish() {
        m_buffer[m_pos] = '\0';
        return m_overflow ? ENAMETOOLONG : 0;
    }

private:
    char* m_buffer;
    std::size_t m_limit;
    std::size_t m_pos = 0;
    bool m_overflow = false;
};

bool given(const char* piece) { return piece != nullptr && piece[0] != '\0'; }

char last_char(const char* s) { return s[std::strlen(s) - 1]; }

}  // namespace

int explode_path_n(const char* real_path, char* drive, std::size_t drive_len, char* directory,
                   std::size_t directory_len, char* filename, std::size_t filename_len,
                   char* extension, std::size_t extension_len) {
    char* buffers[] = {drive, directory, filename, extension};
    const std::size_t sizes[] = {drive_len, directory_len, filename_len, extension_len};
    for (int i = 0; i < 4; ++i)
        if (buffers[i] != nullptr && sizes[i] == 0)
            return ENAMETOOLONG;  // no room even for the empty piece: nothing is written
    for (char* buffer : buffers)
        if (buffer != nullptr)
            buffer[0] = '\0';
    if (real_path == nullptr)
        return 0;

    char* copy = strdup(real_path);
    if (copy == nullptr)
        return ENOMEM;
    const int status = split_copy(copy, drive, drive_len, directory, directory_len, filename,
                                  filename_len, extension, extension_len);
    std::free(copy);
    return status;
}

int explode_path(const char* path, char* drive, char* directory, char* filename, char* extension) {
    return explode_path_n(path, drive, piece_size, directory, piece_size, filename, piece_size,
                          extension, piece_size);
}

int combine_path_n(char* path, std::size_t path_len, const char* drive, const char* directory,
                   const char* filename, const char* extension) {
    if (path == nullptr)
        return 0;
    if (path_len == 0)
        return ENAMETOOLONG;  // not even the NUL fits: nothing is written
    BoundedWriter out(path, path_len);
    if (given(drive)) {
        out.put(drive);
        if (last_char(drive) != ':')
            out.put(':');
    }
    if (given(directory)) {
        out.put(directory);
        const char last = last_char(directory);
        if (last != '/' && last != '\\')
            out.put('/');
    }
    if (given(filename))
        out.put(filename);
    if (given(extension)) {
        if (extension[0] != '.')
            out.put('.');
        out.put(extension);
    }
    return out.finish();
}

int combine_path(char* path, const char* drive, const char* directory, const char* filename,
                 const char* extension) {
    return combine_path_n(path, joined_size, drive, directory, filename, extension);
}
