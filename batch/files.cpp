#include "files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <cstdlib>
#include <string_view>

#include "atomic_output.h"
#include "batch_error.h"

std::string reason_of(int error_number) { return std::strerror(error_number); }

std::string read_file(const std::string& path) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        throw batch_error("cannot read " + path + ": " + reason_of(errno));
    std::string text;
    char block[65536];
    ssize_t n;
    while ((n = read(fd, block, sizeof block)) != 0) {
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            const int error = errno;
            close(fd);  // read-only
            throw batch_error("cannot read " + path + ": " + reason_of(error));
        }
        text.append(block, static_cast<std::size_t>(n));
    }
    close(fd);  // read-only
    return text;
}

namespace {

int write_all(int fd, std::string_view text) {
    std::size_t written = 0;
    while (written < text.size()) {
        const ssize_t n = write(fd, text.data() + written, text.size() - written);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return errno;
        written += static_cast<std::size_t>(n);
    }
    return 0;
}

}  // namespace

int replace_file(const std::string& path, const std::string& text) {
    atomic_output output;  // removes its temporary unless committed
    int error = output.open(path);
    if (error == 0)
        error = output.write(text.data(), text.size());
    return error == 0 ? output.commit() : error;
}

int copy_file(const std::string& from, const std::string& to) {
    const int source = open(from.c_str(), O_RDONLY | O_CLOEXEC);
    if (source < 0)
        return errno;
    struct stat info;
    const int target = fstat(source, &info) == 0
                           ? open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, info.st_mode & 07777)
                           : -1;
    int error = target < 0 ? errno : 0;
    char block[65536];
    while (error == 0) {
        const ssize_t n = read(source, block, sizeof block);
        if (n == 0)
            break;
        if (n < 0)
            error = errno == EINTR ? 0 : errno;
        else
            error = write_all(target, {block, static_cast<std::size_t>(n)});
    }
    close(source);  // read-only
    if (target >= 0 && close(target) != 0 && error == 0)
        error = errno;
    return error;
}

std::string nul_terminated(const std::vector<std::string>& words) {
    std::string text;
    for (const std::string& word : words)
        text.append(word).push_back('\0');
    return text;
}

std::vector<std::string> split_nul_terminated(const std::string& text) {
    std::vector<std::string> words;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find('\0', start)) != std::string::npos; start = end + 1)
        words.emplace_back(text, start, end - start);
    return words;
}

int make_directories(const std::string& path) {
    for (std::size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
        const std::string part = path.substr(0, slash);
        if (mkdir(part.c_str(), 0777) != 0 && errno != EEXIST)
            return errno;
        if (slash == std::string::npos)
            return 0;
    }
}

int remove_tree(const std::string& path) {
    struct stat info;
    if (lstat(path.c_str(), &info) != 0)
        return errno == ENOENT ? 0 : errno;
    if (S_ISDIR(info.st_mode)) {
        DIR* dir = opendir(path.c_str());
        if (dir == nullptr)
            return errno;
        int error = 0;
        while (const dirent* entry = readdir(dir)) {
            const std::string name = entry->d_name;
            if (name != "." && name != "..")
                if (const int e = remove_tree(path + "/" + name); e != 0 && error == 0)
                    error = e;
        }
        closedir(dir);  // read-only
        if (rmdir(path.c_str()) != 0 && errno != ENOENT && error == 0)
            error = errno;
        return error;
    }
    return unlink(path.c_str()) != 0 && errno != ENOENT ? errno : 0;
}

std::string absolute_path(const std::string& path) {
    if (!path.empty() && path.front() == '/')
        return path;
    char* here = getcwd(nullptr, 0);
    if (here == nullptr)
        throw batch_error("cannot read the working directory: " + reason_of(errno));
    std::string absolute = here;
    std::free(here);
    return absolute + (absolute.back() == '/' ? "" : "/") + path;
}

std::string base_name(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}
